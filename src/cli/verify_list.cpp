#include "verify_list.h"

#include <cinttypes>
#include <cstdio>

#include "unpack.h"

namespace {

std::string ratio_text(uint64_t packed, uint64_t unpacked) {
    char buf[32];
    if (unpacked == 0)
        std::snprintf(buf, sizeof buf, "%6s", "-");
    else
        std::snprintf(buf, sizeof buf, "%5.1f%%", 100.0 * static_cast<double>(packed) / static_cast<double>(unpacked));
    return buf;
}

// After the last entry an intact archive has no bytes left.
RunResult finish(vorb_reader* r, const InFile& arc) {
    const vorb_status st = vorb_reader_finish(r);
    if (st == VORB_ERR_TRAILING) return run_failed("\nDamaged archive: bytes follow the last member");
    if (st != VORB_OK) return run_failed(archive_error(st, arc));
    return {};
}

RunResult test_members(vorb_reader* r, const InFile& arc, const Console& con) {
    vorb_entry e;
    for (;;) {
        const vorb_status next = vorb_reader_next(r, &e);
        if (next == VORB_END) break;
        if (next != VORB_OK) return run_failed(archive_error(next, arc));
        if (!e.present) continue;
        const std::string shown = std::string("_") + e.name;
        const uint64_t start = clock_ms();
        say_member(con, shown);
        vorb_member_stats stats;
        const vorb_status st = vorb_reader_test(r, console_progress(con), nullptr, &stats);
        if (st != VORB_OK) return run_failed(member_error(st, shown, arc, 0));
        if (!con.quiet) std::printf("\t%" PRIu64 " bytes OK", stats.unpacked);
        say_time(con, clock_ms() - start);
    }
    return finish(r, arc);
}

RunResult list_members(vorb_reader* r, const InFile& arc) {
    vorb_archive_info info;
    (void)vorb_reader_info(r, &info);
    std::printf("\n%12s %12s %6s  %s", "unpacked", "packed", "ratio", "name");
    uint64_t total_unpacked = 0, total_packed = 0;
    int present = 0;
    vorb_entry e;
    for (;;) {
        const vorb_status next = vorb_reader_next(r, &e);
        if (next == VORB_END) break;
        if (next != VORB_OK) return run_failed(archive_error(next, arc));
        if (!e.present) {
            std::printf("\n%12s %12s %6s  (absent entry)", "-", "-", "-");
            continue;
        }
        vorb_member_stats stats;
        const vorb_status st = vorb_reader_skip(r, &stats);
        if (st != VORB_OK) return run_failed(member_error(st, std::string("_") + e.name, arc, 0));
        std::printf("\n%12" PRIu64 " %12" PRIu64 " %s  %s", stats.unpacked, stats.packed,
                    ratio_text(stats.packed, stats.unpacked).c_str(), printable_name(e.name).c_str());
        total_unpacked += stats.unpacked;
        total_packed += stats.packed;
        present++;
    }
    std::printf("\n%12" PRIu64 " %12" PRIu64 " %s  %d of %u entries present, block size %u", total_unpacked,
                total_packed, ratio_text(total_packed, total_unpacked).c_str(), present, info.member_count,
                info.block_size);
    return finish(r, arc);
}

}  // namespace

RunResult test_archive(const std::string& archive, const Console& con) {
    InFile arc;
    vorb_reader* r = nullptr;
    RunResult res = open_archive(arc, archive, 1, r);
    if (res.status == 0) res = test_members(r, arc, con);
    vorb_reader_free(r);
    in_file_close(arc);
    return res;
}

RunResult list_archive(const std::string& archive, const Console& con) {
    (void)con;
    InFile arc;
    vorb_reader* r = nullptr;
    RunResult res = open_archive(arc, archive, 1, r);
    if (res.status == 0) res = list_members(r, arc);
    vorb_reader_free(r);
    in_file_close(arc);
    return res;
}
