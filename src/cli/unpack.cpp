#include "unpack.h"

#include "recovery_note.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "member_place.h"
#include "replace_file.h"
#include "restore_nodes.h"

namespace {

std::string mib_text(uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB"; }

// A limit as given: in the largest unit that holds it whole, never rounded.
std::string limit_text(uint64_t bytes) {
    if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string header_error(vorb_status st, const InFile& arc, const ReadOptions& opt) {
    vorb_archive_info info;
    (void)vorb_header_parse(arc.head, arc.head_len, &info);
    switch (st) {
    case VORB_ERR_SIGNATURE: return "\nInvalid signature: " + printable_name(opt.archive) + ": not an archive";
    case VORB_ERR_BLOCK_SIZE:
        return "\nDamaged archive: block size " + std::to_string(info.block_size) + " is out of range (1 to " +
               std::to_string(VORB_MAX_BLOCK_SIZE) + ")";
    case VORB_ERR_MEMORY: {
        const uint64_t one_block = vorb_memory_usage(info.block_size, 1, 1);
        if (opt.memory_limit != 0 && one_block > opt.memory_limit)
            return "\nNot enough memory allowed: the archive's blocks of " + std::to_string(info.block_size) +
                   " bytes take " + mib_text(one_block) + " to unpack, over the limit of " +
                   limit_text(opt.memory_limit) + " (--memory)";
        return "\nNot enough memory for the archive's block size of " + std::to_string(info.block_size);
    }
    default: return archive_error(st, arc);
    }
}

struct ArchiveSource {
    vorb_source source{};
    explicit ArchiveSource(InFile& arc) {
        source.read = in_file_read;
        source.ctx = &arc;
        const bool seekable = in_file_seekable(arc);
        source.read_at = seekable ? in_file_read_at : nullptr;
        source.size = seekable ? in_file_size(arc) : UINT64_MAX;
    }
};

RunResult unpack_members(vorb_reader* r, const InFile& arc, const UnpackOptions& opt, const Console& con) {
    const std::string folder = opt.directory.empty() ? "." : opt.directory;
    // Every member's folders are opened from this one, never through a link.
    const int base_fd = opt.to_stdout ? -1 : ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (!opt.to_stdout && base_fd < 0)
        return run_failed("\nCan't open output: " + printable_name(folder) + ": " + std::strerror(errno));
    Selection sel = make_selection(opt.read.names);
    bool archive_mismatch = false;
    RunResult res = check_archive_bytes(r, arc, archive_mismatch);
    int skipped = 0;
    vorb_entry e;
    while (res.status == 0) {
        const vorb_status next = vorb_reader_next(r, &e);
        if (next == VORB_END) break;
        if (next != VORB_OK) {
            res = run_failed(archive_error(next, arc));
            break;
        }
        if (!e.present || !selected(sel, e.name)) continue;
        const std::string shown = std::string("_") + e.name;

        // A member that cannot be written is still decoded, to nowhere, to
        // reach the members after it.
        Replacement target;
        FdOut out;
        std::string refusal;
        if (opt.to_stdout)
            out.fd = STDOUT_FILENO;
        else if (e.name_too_long)
            refusal = "name longer than 198 characters";
        else
            refusal = open_member(base_fd, shown, target);
        if (!opt.to_stdout && refusal.empty()) out.fd = target.fd;

        const uint64_t start = clock_ms();
        say_member(con, shown);
        const vorb_status st =
            refusal.empty() ? vorb_reader_unpack(r, fd_out_write, &out, console_progress(con), progress_context(con),
                                                 nullptr)
                            : vorb_reader_test(r, console_progress(con), progress_context(con), nullptr);
        if (st != VORB_OK) {
            replacement_discard(target);
            if (!member_damage_is_local(st, r)) {
                res = run_failed(member_error(st, e.name, arc, opt.to_stdout ? "standard output" : shown, out.error));
                break;
            }
            skipped++;
            say_member_failure(con, shown, "not unpacked, damaged: " + member_damage(st, r));
            continue;
        }
        if (!refusal.empty()) {
            skipped++;
            say_member_failure(con, shown, "skipped, " + refusal);
            continue;
        }
        if (!opt.to_stdout && (e.flags & VORB_ENTRY_HAS_META))
            replacement_set_attributes(target, e.meta.mode, e.meta.mtime, e.meta.mtime_nsec);
        if (!opt.to_stdout && !replacement_commit(target)) {
            res = run_failed(member_error(VORB_ERR_WRITE, e.name, arc, shown, target.error));
            break;
        }
        say_time(con, clock_ms() - start);
    }
    const vorb_status finished = res.status == 0 ? vorb_reader_finish(r) : VORB_OK;
    // Nodes come after the members, once the index that holds them is known good.
    const int unrestored = res.status == 0 && finished == VORB_OK && base_fd >= 0
                               ? restore_nodes(r, base_fd, sel, con)
                               : 0;
    if (base_fd >= 0) ::close(base_fd);
    if (res.status != 0) return res;
    RunResult end = archive_end_error(r, arc, archive_mismatch, sel, finished);
    if (skipped > 0)
        end = run_failed(end.message + "\n" + std::to_string(skipped) +
                         (skipped == 1 ? " member was" : " members were") + " not unpacked");
    if (unrestored > 0)
        end = run_failed(end.message + "\n" + std::to_string(unrestored) +
                         (unrestored == 1 ? " folder or link was" : " folders or links were") + " not restored");
    return end;
}

}  // namespace

std::string open_member(int base_fd, const std::string& shown, Replacement& target) {
    MemberPlace place;
    if (!member_place_open(place, base_fd, shown))
        return place.refusal ? place.refusal : std::string("can't create it: ") + std::strerror(place.error);
    const bool ok = replacement_begin(target, place.dir_fd, place.name, TargetUse::member);
    member_place_close(place);
    if (ok) return {};
    return target.refusal ? target.refusal : std::string("can't create it: ") + std::strerror(target.error);
}

std::string archive_error(vorb_status st, const InFile& arc) {
    if (st == VORB_ERR_READ) return "\nRead error in the archive: " + std::string(std::strerror(arc.error));
    if (st == VORB_ERR_TRUNCATED) return truncated_archive_message;
    // Only an index's check of an entry fails this way outside a member.
    if (st == VORB_ERR_CHECKSUM) return "\nDamaged archive: an entry (presence byte or name) does not match the index";
    return std::string("\nDamaged archive: ") + vorb_status_message(st);
}

bool member_damage_is_local(vorb_status st, const vorb_reader* r) {
    vorb_archive_info info;
    (void)vorb_reader_info(r, &info);
    return (info.flags & VORB_INFO_HAS_INDEX) && st != VORB_ERR_READ && st != VORB_ERR_WRITE && st != VORB_ERR_MEMORY;
}

std::string member_damage(vorb_status st, const vorb_reader* r) {
    std::string why = vorb_status_message(st);
    uint64_t offset = 0, length = 0;
    if (vorb_reader_damaged_range(r, &offset, &length) == VORB_OK && length > 0)
        why += " in bytes " + std::to_string(offset) + " to " + std::to_string(offset + length - 1);
    return why;
}

void say_member_failure(const Console& con, const std::string& shown, const std::string& why) {
    std::string line;
    if (con.quiet)
        line.append("\n").append(printable_name(shown)).append(": ");
    else
        line.append("\t");
    line.append(why);
    say_error(con, line);
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

RunResult archive_end_error(vorb_reader* r, const InFile& arc, bool archive_mismatch, const Selection& sel,
                            vorb_status finished) {
    if (archive_mismatch)
        return run_failed("\nDamaged archive: its bytes do not match the checksum in its index");
    RunResult res = unmatched_names(sel);
    if (res.status != 0) return res;
    const vorb_status st = finished;
    if (st == VORB_ERR_TRAILING) return run_failed("\nDamaged archive: bytes follow the last member");
    if (st == VORB_ERR_RECOVERY) return run_failed("\nDamaged recovery record: one of its two header copies is lost");
    if (st == VORB_ERR_INDEX) {
        const char* why = vorb_reader_index_fault(r);
        vorb_archive_info info;
        (void)vorb_reader_info(r, &info);
        // A valid index that disagrees with the header was used all the same.
        return run_failed(std::string("\nDamaged index (") + (why ? why : "damaged") +
                          ((info.flags & VORB_INFO_HAS_INDEX) ? ")" : "): the archive was read without it"));
    }
    const char* stored = nullptr;
    const char* what = st == VORB_ERR_CHECKSUM ? vorb_reader_mismatch(r, &stored) : nullptr;
    const std::string against = " differs from the index at the archive's end";
    if (what && stored && *stored)
        return run_failed("\nDamaged archive: member " + printable_name(stored) + ": its " + what + against);
    if (what && stored) return run_failed(std::string("\nDamaged archive: an absent entry's ") + what + against);
    if (what) return run_failed("\nDamaged archive: its bytes do not match the checksum in its index");
    if (st != VORB_OK) return run_failed(archive_error(st, arc));
    return {};
}

std::string member_error(vorb_status st, const std::string& stored_name, const InFile& arc,
                         const std::string& written_to, int write_errno) {
    if (st == VORB_ERR_WRITE)
        return "\nWrite error on " + printable_name(written_to) + ": " + std::strerror(write_errno);
    if (st == VORB_ERR_READ) return archive_error(st, arc);
    return "\nDamaged archive: member " + printable_name(stored_name) + ": " + vorb_status_message(st);
}

RunResult open_archive(InFile& arc, const ReadOptions& opt, vorb_reader*& r) {
    r = nullptr;
    if (opt.archive == "-") {
        if (::isatty(STDIN_FILENO))
            return RunResult{status_usage, "\nWon't read an archive from a terminal: give its name, or - with a pipe"};
        in_file_use_stdin(arc);
    } else if (!in_file_open(arc, opt.archive)) {
        return run_failed("\nCan't open input: " + printable_name(opt.archive) + ": " + std::strerror(arc.error));
    }
    const ArchiveSource src(arc);
    vorb_unpack_options uo{};
    uo.threads = opt.threads;
    uo.memory_limit = opt.memory_limit;
    vorb_status st = VORB_OK;
    r = vorb_reader_open(&src.source, &uo, &st);
    if (!r) return run_failed(header_error(st, arc, opt));
    return {};
}

RunResult unpack_archive(const UnpackOptions& opt, const Console& con) {
    InFile arc;
    vorb_reader* r = nullptr;
    RunResult res = open_archive(arc, opt.read, r);
    if (res.status == 0) res = unpack_members(r, arc, opt, con);
    vorb_archive_info info{};
    if (r) (void)vorb_reader_info(r, &info);
    vorb_reader_free(r);
    in_file_close(arc);
    return recovery_note(opt.read, info, false, res, con);
}
