#include "salvage.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "replace_file.h"
#include "salvage_report.h"

namespace {

struct Tally {
    unsigned members = 0;      // present members looked at
    unsigned damaged = 0;      // of them, not whole
    unsigned not_written = 0;  // of them, or refused, no file written
};

int discard_bytes(void*, const void*, size_t) { return 0; }

void collect_lost(void* ctx, uint64_t offset, uint64_t length) {
    static_cast<LostList*>(ctx)->emplace_back(offset, length);
}

// Bytes of the regular file a replacement would replace; 0 when none stands there.
uint64_t existing_size(const Replacement& target) {
    struct stat st;
    if (target.temp_name.empty() || ::fstatat(target.dir_fd, target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

struct Walk {
    vorb_salvager* s;
    const InFile& arc;
    const UnpackOptions& opt;
    const Console& con;
    int base_fd;
    Tally tally;
    bool passed_over = false;  // a search passed damaged bytes over
};

// Unpacks the current member; a failure to read or write ends the run.
RunResult salvage_member(Walk& w, const vorb_salvage_entry& e, const vorb_salvage_info& info) {
    const std::string shown = std::string("_") + e.entry.name;
    Replacement target;
    FdOut out;
    std::string refusal;
    if (w.opt.to_stdout)
        out.fd = STDOUT_FILENO;
    else
        refusal = open_member(w.base_fd, shown, target);
    if (!w.opt.to_stdout && refusal.empty()) out.fd = target.fd;
    w.tally.members++;

    const uint64_t start = clock_ms();
    say_member(w.con, shown);
    LostList lost;
    vorb_salvage_result r{};
    // A member that cannot be written is still decoded, to nowhere, so
    // that what it lost is listed all the same.
    const vorb_status st = vorb_salvager_unpack(w.s, refusal.empty() ? fd_out_write : discard_bytes, &out,
                                                collect_lost, &lost, console_progress(w.con), progress_context(w.con),
                                                &r);
    if (st == VORB_ERR_WRITE || st == VORB_ERR_READ || st == VORB_ERR_MEMORY) {
        replacement_discard(target);
        if (st == VORB_ERR_WRITE)
            return run_failed("\nWrite error on " + printable_name(w.opt.to_stdout ? "standard output" : shown) +
                              ": " + std::strerror(out.error));
        return run_failed(st == VORB_ERR_READ ? archive_error(st, w.arc)
                                              : "\nNot enough memory to salvage the archive");
    }
    const bool whole = st == VORB_OK;
    std::string why = whole ? std::string() : damage_text(st, r, info);
    if (e.salvage_flags & VORB_SALVAGE_NAME_DAMAGED)
        why += std::string(why.empty() ? "" : "; ") + "its stored name is damaged (the entry checksum fails): written as " +
               printable_name(shown);
    if (!whole || (e.salvage_flags & VORB_SALVAGE_NAME_DAMAGED)) w.tally.damaged++;
    const uint64_t saved = r.written - r.lost;
    if (!refusal.empty()) {
        why += std::string(why.empty() ? "" : "; ") + "skipped, " + refusal;
        w.tally.not_written++;
    } else if (!w.opt.to_stdout && !whole && saved == 0) {
        replacement_discard(target);
        why += "; no file written";
        w.tally.not_written++;
    } else if (!w.opt.to_stdout && !whole && existing_size(target) > saved) {
        // A fuller copy may stand there, from an earlier run: it is kept.
        why += "; not written: " + printable_name(shown) + " exists and holds " +
               std::to_string(existing_size(target)) + " bytes, more than the " + std::to_string(saved) + " saved";
        replacement_discard(target);
        w.tally.not_written++;
    } else if (!w.opt.to_stdout) {
        // Recorded attributes go on whole members only: a damaged file's
        // time should not pass it off as the original.
        if (whole && (e.entry.flags & VORB_ENTRY_HAS_META))
            replacement_set_attributes(target, e.entry.meta.mode, e.entry.meta.mtime, e.entry.meta.mtime_nsec);
        if (!replacement_commit(target))
            return run_failed("\nWrite error on " + printable_name(shown) + ": " + std::strerror(target.error));
    }
    if (why.empty()) {
        say_time(w.con, clock_ms() - start);
        return {};
    }
    say_member_failure(w.con, shown, why);
    say_error(w.con, lost_lines(shown, lost));
    return {};
}

RunResult salvage_entries(Walk& w, Selection& sel) {
    vorb_salvage_info info;
    (void)vorb_salvager_info(w.s, &info);
    const std::string opening = salvage_opening_notes(info);
    if (!opening.empty()) say_error(w.con, opening);
    for (;;) {
        vorb_salvage_entry e;
        const vorb_status next = vorb_salvager_next(w.s, &e);
        if (next == VORB_END) break;
        if (next != VORB_OK)
            return run_failed(next == VORB_ERR_MEMORY ? "\nNot enough memory to salvage the archive"
                                                      : archive_error(next, w.arc));
        if (e.salvage_flags & VORB_SALVAGE_FOUND) {
            say_error(w.con, passed_over_note(e));
            w.passed_over = true;
        }
        if (!e.entry.present || !selected(sel, e.entry.name)) continue;
        RunResult res = salvage_member(w, e, info);
        if (res.status != 0) return res;
    }
    (void)vorb_salvager_info(w.s, &info);
    const std::string closing = salvage_closing_notes(info);
    RunResult res = unmatched_names(sel);
    if (res.status != 0) return RunResult{res.status, closing + res.message};
    const bool archive_damaged = !opening.empty() || !closing.empty() || w.passed_over;
    if (w.tally.damaged == 0 && !archive_damaged) return {};
    std::string summary = closing + "\nSalvage incomplete: ";
    if (w.tally.damaged > 0)
        summary += std::to_string(w.tally.damaged) + " of " + std::to_string(w.tally.members) +
                   (w.tally.members == 1 ? " member" : " members") + " damaged";
    else
        summary += "the archive is damaged, but every member found came back whole";
    if (w.tally.not_written > 0) summary += ", " + std::to_string(w.tally.not_written) + " not written";
    return run_failed(summary);
}

}  // namespace

RunResult salvage_archive(const UnpackOptions& opt, const Console& con) {
    if (opt.read.archive == "-")
        return RunResult{status_usage, "\n--salvage reads the archive at offsets: give its file, not standard input"};
    InFile arc;
    if (!in_file_open(arc, opt.read.archive))
        return run_failed("\nCan't open input: " + printable_name(opt.read.archive) + ": " + std::strerror(arc.error));
    vorb_source src{in_file_read, in_file_read_at, &arc, in_file_size(arc)};
    RunResult res;
    vorb_salvager* s = nullptr;
    if (src.size == UINT64_MAX) {
        res = RunResult{status_usage, "\n--salvage reads the archive at offsets: " + printable_name(opt.read.archive) +
                                          " is not a regular file"};
    } else {
        vorb_unpack_options uo{};
        uo.memory_limit = opt.read.memory_limit;
        vorb_status st = VORB_OK;
        s = vorb_salvager_open(&src, &uo, &st);
        if (!s)
            res = run_failed(st == VORB_ERR_MEMORY ? "\nNot enough memory allowed to salvage the archive (--memory)"
                                                   : archive_error(st, arc));
    }
    const std::string folder = opt.directory.empty() ? "." : opt.directory;
    const int base_fd = s && !opt.to_stdout ? ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
    if (s && !opt.to_stdout && base_fd < 0)
        res = run_failed("\nCan't open output: " + printable_name(folder) + ": " + std::strerror(errno));
    if (res.status == 0) {
        Walk w{s, arc, opt, con, base_fd, {}, false};
        Selection sel = make_selection(opt.read.names);
        res = salvage_entries(w, sel);
    }
    if (base_fd >= 0) ::close(base_fd);
    vorb_salvager_free(s);
    in_file_close(arc);
    return res;
}
