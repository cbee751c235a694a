#include "verify_list.h"

#include <cinttypes>
#include <cstdio>

#include "recovery_note.h"
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

// An index read at offsets is only consistent in itself until t compares
// it with the archive; one read from a stream was compared with every byte.
std::string index_text(const vorb_reader* r, const vorb_archive_info& info, const InFile& arc) {
    if (info.flags & VORB_INFO_INDEX_DAMAGED) return "index damaged";
    if (!(info.flags & VORB_INFO_HAS_INDEX)) return "not indexed";
    const char* state = vorb_reader_index_fault(r) ? ", disagrees with the header)"
                        : in_file_seekable(arc)    ? ", consistent)"
                                                   : ", matches the archive)";
    return "indexed (version " + std::to_string(info.index_version) + state;
}

// The list's word on a recovery record: what the reader saw of it.
std::string recovery_text(const vorb_archive_info& info) {
    if (info.flags & VORB_INFO_RECOVERY_DAMAGED) return ", recovery record damaged";
    if (!(info.flags & VORB_INFO_HAS_RECOVERY)) return "";
    return ", recovery record " + std::to_string(info.recovery_percent) + " %";
}

RunResult test_members(vorb_reader* r, const InFile& arc, Selection& sel, const Console& con) {
    bool archive_mismatch = false;
    RunResult checked = check_archive_bytes(r, arc, archive_mismatch);
    if (checked.status != 0) return checked;
    int damaged = 0;
    vorb_entry e;
    for (;;) {
        const vorb_status next = vorb_reader_next(r, &e);
        if (next == VORB_END) break;
        if (next != VORB_OK) return run_failed(archive_error(next, arc));
        if (!e.present || !selected(sel, e.name)) continue;
        const std::string shown = std::string("_") + e.name;
        const uint64_t start = clock_ms();
        say_member(con, shown);
        vorb_member_stats stats;
        const vorb_status st = vorb_reader_test(r, console_progress(con), progress_context(con), &stats);
        if (st != VORB_OK && !member_damage_is_local(st, r)) return run_failed(member_error(st, e.name, arc, "", 0));
        if (st != VORB_OK) {
            damaged++;
            say_member_failure(con, shown, "damaged: " + member_damage(st, r));
            continue;
        }
        if (!con.quiet)
            std::fprintf(con.out, "\t%" PRIu64 " bytes OK%s", stats.unpacked,
                         (e.flags & VORB_ENTRY_HAS_CHECKSUM) ? ", checksum OK" : "");
        say_time(con, clock_ms() - start);
    }
    RunResult end = archive_end_error(r, arc, archive_mismatch, sel, vorb_reader_finish(r));
    if (damaged > 0)
        return run_failed(end.message + "\nDamaged archive: " + std::to_string(damaged) +
                          (damaged == 1 ? " member is" : " members are") + " damaged");
    return end;
}

RunResult list_members(vorb_reader* r, const InFile& arc, Selection& sel, const Console& con) {
    vorb_archive_info info;
    (void)vorb_reader_info(r, &info);
    // Quiet, nothing comes before the table: its first line starts the output.
    std::fprintf(con.out, "%s%12s %12s %6s  %s", con.quiet ? "" : "\n", "unpacked", "packed", "ratio", "name");
    uint64_t total_unpacked = 0, total_packed = 0;
    int present = 0;
    vorb_entry e;
    for (;;) {
        const vorb_status next = vorb_reader_next(r, &e);
        if (next == VORB_END) break;
        if (next != VORB_OK) return run_failed(archive_error(next, arc));
        if (!selected(sel, e.name)) continue;
        if (!e.present) {
            if (e.flags & VORB_ENTRY_HAS_ABSENT_NAME)
                std::fprintf(con.out, "\n%12s %12s %6s  (absent: %s)", "-", "-", "-", printable_name(e.name).c_str());
            else
                std::fprintf(con.out, "\n%12s %12s %6s  (absent entry)", "-", "-", "-");
            continue;
        }
        // With an index the sizes are in the entry and nothing is decoded.
        vorb_member_stats stats{e.unpacked_size, e.packed_size, 0};
        if (!(e.flags & VORB_ENTRY_HAS_SIZE)) {
            const vorb_status st = vorb_reader_skip(r, &stats);
            if (st != VORB_OK) return run_failed(member_error(st, e.name, arc, "", 0));
        }
        std::fprintf(con.out, "\n%12" PRIu64 " %12" PRIu64 " %s  %s", stats.unpacked, stats.packed,
                    ratio_text(stats.packed, stats.unpacked).c_str(), printable_name(e.name).c_str());
        total_unpacked += stats.unpacked;
        total_packed += stats.packed;
        present++;
    }
    // A stream's index is known once its end is read.
    RunResult end = archive_end_error(r, arc, false, sel, vorb_reader_finish(r));
    (void)vorb_reader_info(r, &info);
    std::fprintf(con.out, "\n%12" PRIu64 " %12" PRIu64 " %s  %d of %u entries present, block size %u, %s%s",
                 total_unpacked, total_packed, ratio_text(total_packed, total_unpacked).c_str(), present,
                 info.member_count, info.block_size, index_text(r, info, arc).c_str(), recovery_text(info).c_str());
    return end;
}

}  // namespace

RunResult test_archive(const ReadOptions& opt, const Console& con) {
    InFile arc;
    vorb_reader* r = nullptr;
    Selection sel = make_selection(opt.names);
    RunResult res = open_archive(arc, opt, r);
    if (res.status == 0) res = test_members(r, arc, sel, con);
    vorb_archive_info info{};
    if (r) (void)vorb_reader_info(r, &info);
    vorb_reader_free(r);
    in_file_close(arc);
    return recovery_note(opt, info, true, res, con);
}

RunResult list_archive(const ReadOptions& opt, const Console& con) {
    InFile arc;
    vorb_reader* r = nullptr;
    Selection sel = make_selection(opt.names);
    ReadOptions one = opt;
    one.threads = 1;  // only numbers are decoded: no blocks to share out
    RunResult res = open_archive(arc, one, r);
    if (res.status == 0) res = list_members(r, arc, sel, con);
    vorb_archive_info info{};
    if (r) (void)vorb_reader_info(r, &info);
    vorb_reader_free(r);
    in_file_close(arc);
    return recovery_note(opt, info, false, res, con);
}
