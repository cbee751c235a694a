#include "unpack.h"

#include <cerrno>
#include <cstring>

#include "safe_names.h"

namespace {

std::string header_error(vorb_status st, const InFile& arc) {
    vorb_archive_info info;
    (void)vorb_header_parse(arc.head, arc.head_len, &info);
    switch (st) {
    case VORB_ERR_SIGNATURE: return "\nInvalid signature";
    case VORB_ERR_BLOCK_SIZE:
        return "\nDamaged archive: block size " + std::to_string(info.block_size) + " is out of range (1 to " +
               std::to_string(VORB_MAX_BLOCK_SIZE) + ")";
    case VORB_ERR_MEMORY:
        return "\nNot enough memory for the archive's block size of " + std::to_string(info.block_size);
    default: return archive_error(st, arc);
    }
}

struct ArchiveSource {
    vorb_source source{};
    explicit ArchiveSource(InFile& arc) {
        source.read = in_file_read;
        source.read_at = in_file_read_at;
        source.ctx = &arc;
        source.size = in_file_size(arc);
    }
};

}  // namespace

std::string archive_error(vorb_status st, const InFile& arc) {
    if (st == VORB_ERR_READ) return "\nRead error in the archive: " + std::string(std::strerror(arc.error));
    if (st == VORB_ERR_TRUNCATED) return truncated_archive_message;
    // Only an index's check of an entry fails this way outside a member.
    if (st == VORB_ERR_CHECKSUM) return "\nDamaged archive: an entry (presence byte or name) does not match the index";
    return std::string("\nDamaged archive: ") + vorb_status_message(st);
}

std::string member_error(vorb_status st, const std::string& shown, const InFile& arc, int write_errno) {
    if (st == VORB_ERR_WRITE) return "\nWrite error on " + printable_name(shown) + ": " + std::strerror(write_errno);
    if (st == VORB_ERR_READ) return archive_error(st, arc);
    return "\nDamaged archive: member " + printable_name(shown) + ": " + vorb_status_message(st);
}

bool member_damage_is_local(vorb_status st, const vorb_reader* r) {
    vorb_archive_info info;
    (void)vorb_reader_info(r, &info);
    return (info.flags & VORB_INFO_HAS_INDEX) && st != VORB_ERR_READ && st != VORB_ERR_WRITE && st != VORB_ERR_MEMORY;
}

void say_member_failure(const Console& con, const std::string& shown, const std::string& why) {
    std::string line;
    if (con.quiet)
        line.append("\n").append(printable_name(shown)).append(": ");
    else
        line.append("\t");
    line.append(why);
    say_error(line.c_str());
}

RunResult check_archive_bytes(vorb_reader* r, const InFile& arc, bool& mismatch) {
    mismatch = false;
    vorb_archive_info info;
    (void)vorb_reader_info(r, &info);
    if (!(info.flags & VORB_INFO_HAS_INDEX)) return {};
    const vorb_status st = vorb_reader_check_archive(r);
    mismatch = st == VORB_ERR_CHECKSUM;
    if (st != VORB_OK && !mismatch) return run_failed(archive_error(st, arc));
    return {};
}

RunResult archive_end_error(vorb_reader* r, const InFile& arc, bool archive_mismatch, const Selection& sel) {
    if (archive_mismatch)
        return run_failed("\nDamaged archive: its bytes do not match the checksum in its index");
    RunResult res = unmatched_names(sel);
    if (res.status != 0) return res;
    const vorb_status st = vorb_reader_finish(r);
    if (st == VORB_ERR_TRAILING) return run_failed("\nDamaged archive: bytes follow the last member");
    if (st == VORB_ERR_INDEX) {
        const char* why = vorb_reader_index_fault(r);
        return run_failed(std::string("\nDamaged index (") + (why ? why : "damaged") +
                          "): the archive was read without it");
    }
    if (st != VORB_OK) return run_failed(archive_error(st, arc));
    return {};
}

RunResult open_archive(InFile& arc, const std::string& path, int threads, vorb_reader*& r) {
    r = nullptr;
    if (!in_file_open(arc, path)) return run_failed("\nCan't open input");
    const ArchiveSource src(arc);
    const vorb_unpack_options uo{threads};
    vorb_status st = VORB_OK;
    r = vorb_reader_open(&src.source, &uo, &st);
    if (!r) return run_failed(header_error(st, arc));
    return {};
}

namespace {

RunResult unpack_members(vorb_reader* r, const InFile& arc, const UnpackOptions& opt, const Console& con) {
    const std::string prefix = opt.directory.empty() ? std::string("_") : opt.directory + "/_";
    Selection sel = make_selection(opt.names);
    bool archive_mismatch = false;
    RunResult checked = check_archive_bytes(r, arc, archive_mismatch);
    if (checked.status != 0) return checked;
    int skipped = 0;
    vorb_entry e;
    for (;;) {
        const vorb_status next = vorb_reader_next(r, &e);
        if (next == VORB_END) break;
        if (next != VORB_OK) return run_failed(archive_error(next, arc));
        if (!e.present || !selected(sel, e.name)) continue;
        const std::string name = e.name;
        const std::string shown = "_" + name;

        // A member that cannot be written is still decoded, to nowhere, to
        // reach the members after it.
        std::string refusal;
        if (e.name_too_long)
            refusal = "name longer than 198 characters";
        else if (const char* why = unsafe_name_reason(name))
            refusal = why;
        OutFile file;
        if (refusal.empty() && !out_file_create(file, prefix + name, false))
            refusal = std::string("can't create it: ") + std::strerror(file.error);

        const uint64_t start = clock_ms();
        say_member(con, shown);
        const vorb_status st = refusal.empty()
                                   ? vorb_reader_unpack(r, out_file_write, &file, console_progress(con), nullptr, nullptr)
                                   : vorb_reader_test(r, console_progress(con), nullptr, nullptr);
        if (st != VORB_OK) {
            out_file_discard(file);
            if (!member_damage_is_local(st, r)) return run_failed(member_error(st, shown, arc, file.error));
            skipped++;
            say_member_failure(con, shown, std::string("not unpacked, damaged: ") + vorb_status_message(st));
            continue;
        }
        if (!refusal.empty()) {
            skipped++;
            say_member_failure(con, shown, "skipped, " + refusal);
            continue;
        }
        if (e.flags & VORB_ENTRY_HAS_META)
            out_file_set_attributes(file, e.meta.mode, e.meta.mtime, e.meta.mtime_nsec);
        if (!out_file_commit(file)) return run_failed(member_error(VORB_ERR_WRITE, shown, arc, file.error));
        say_time(con, clock_ms() - start);
    }
    RunResult end = archive_end_error(r, arc, archive_mismatch, sel);
    if (skipped > 0)
        return run_failed(end.message + "\n" + std::to_string(skipped) +
                          (skipped == 1 ? " member was" : " members were") + " not unpacked");
    return end;
}

}  // namespace

RunResult unpack_archive(const UnpackOptions& opt, const Console& con) {
    InFile arc;
    vorb_reader* r = nullptr;
    RunResult res = open_archive(arc, opt.archive, opt.threads, r);
    if (res.status == 0) res = unpack_members(r, arc, opt, con);
    vorb_reader_free(r);
    in_file_close(arc);
    return res;
}
