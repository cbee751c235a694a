#include "app/verify_list.h"

#include <cinttypes>
#include <cstdio>

#include "app/unpack.h"

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
bool ends_cleanly(ByteIn& in) { return get_byte(in) < 0 && !in.read_error; }

}  // namespace

RunResult test_archive(const std::string& archive, const Console& con) {
    InFile arc;
    ArchiveHeader h;
    MemberDecoder dec;
    RunResult r = open_archive(arc, archive, h, dec);
    if (r.status != 0) return r;
    const ProgressSink progress = console_progress(con);
    for (int member = 0; member < h.member_count; member++) {
        ArchiveEntry e;
        if (!read_entry(arc.in, e)) return run_failed(truncated_archive_message);
        if (!e.present) continue;
        const std::string shown = "_" + e.name;
        const uint64_t start = clock_ms();
        say_member(con, shown);
        NullOut nowhere;
        null_out_init(nowhere);
        MemberStats stats;
        const Status st = decode_member(dec, nowhere.out, progress, true, stats);
        if (st != Status::ok) return run_failed(member_error(st, shown, arc, 0));
        if (!con.quiet) std::printf("\t%" PRIu64 " bytes OK", stats.unpacked);
        say_time(con, clock_ms() - start);
    }
    if (!ends_cleanly(arc.in)) return run_failed("\nDamaged archive: bytes follow the last member");
    return {};
}

RunResult list_archive(const std::string& archive, const Console& con) {
    InFile arc;
    ArchiveHeader h;
    MemberDecoder dec;
    RunResult r = open_archive(arc, archive, h, dec);
    if (r.status != 0) return r;
    std::printf("\n%12s %12s %6s  %s", "unpacked", "packed", "ratio", "name");
    uint64_t total_unpacked = 0, total_packed = 0;
    int present = 0;
    for (int member = 0; member < h.member_count; member++) {
        ArchiveEntry e;
        if (!read_entry(arc.in, e)) return run_failed(truncated_archive_message);
        if (!e.present) {
            std::printf("\n%12s %12s %6s  (absent entry)", "-", "-", "-");
            continue;
        }
        NullOut nowhere;
        null_out_init(nowhere);
        MemberStats stats;
        const Status st = decode_member(dec, nowhere.out, ProgressSink{}, false, stats);
        if (st != Status::ok) return run_failed(member_error(st, "_" + e.name, arc, 0));
        std::printf("\n%12" PRIu64 " %12" PRIu64 " %s  %s", stats.unpacked, stats.packed,
                    ratio_text(stats.packed, stats.unpacked).c_str(), printable_name(e.name).c_str());
        total_unpacked += stats.unpacked;
        total_packed += stats.packed;
        present++;
    }
    std::printf("\n%12" PRIu64 " %12" PRIu64 " %s  %d of %d entries present, block size %u", total_unpacked,
                total_packed, ratio_text(total_packed, total_unpacked).c_str(), present, h.member_count,
                h.block_size);
    if (!ends_cleanly(arc.in)) return run_failed("\nDamaged archive: bytes follow the last member");
    (void)con;
    return {};
}
