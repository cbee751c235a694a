#include "pack_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "file_io.h"
#include "recovery_append.h"
#include "replace_file.h"
#include "tree_walk.h"

namespace {

bool to_stdout(const PackOptions& opt) { return opt.archive == "-"; }

FileId archive_id(const PackOptions& opt) {
    if (!to_stdout(opt)) return file_id(opt.archive);
    FileId id;
    struct stat st;
    if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode)) id = FileId{st.st_dev, st.st_ino, true};
    return id;
}

// Limits checked before anything is created, so a refused run leaves no trace.
RunResult check_pack_request(const PackOptions& opt, const PackList& list) {
    if (list.item_count > VORB_MAX_MEMBERS)
        return run_failed("\nToo many files: " + std::to_string(list.item_count) +
                          ", an archive holds at most 255; pack a larger tree through tar:"
                          " tar -I vorb -cf NAME.tar.vorb DIR");
    if (!list.too_long.empty())
        return run_failed("\nFile name longer than 198 characters: " + printable_name(list.too_long));
    if (list.stdin_twice) return RunResult{status_usage, "\nStandard input (-) can be packed only once"};
    const FileId archive = archive_id(opt);
    if (archive.exists)
        for (const PackItem& item : list.items) {
            if (item.path == "-") continue;
            const FileId member = item.walked ? FileId{item.dev, item.ino, true} : file_id(item.path);
            if (member.exists && member.dev == archive.dev && member.ino == archive.ino)
                return run_failed("\nThe archive is one of the files to pack: " + printable_name(item.path));
        }
    return {};
}

// Whether the file name in dir_fd begins as an archive does; an unreadable
// one counts as not.
bool starts_like_archive(int dir_fd, const std::string& name) {
    const int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char head[16];
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    vorb_archive_info info;
    return n > 0 && vorb_header_parse(head, static_cast<size_t>(n), &info) != VORB_ERR_SIGNATURE;
}

// A slip of the keyboard must not cost a file: without -f an existing file
// is replaced only by an archive with members, and only when it is an
// archive itself. Devices and FIFOs are not replaced but written to. late:
// asked again at the rename, of whatever stands at the target by then.
RunResult check_replace(const PackOptions& opt, int dir_fd, const std::string& name, bool late) {
    struct stat st;
    if (opt.force || to_stdout(opt) || ::fstatat(dir_fd, name.c_str(), &st, 0) != 0 || (!late && !S_ISREG(st.st_mode)))
        return {};
    std::string why;
    if (opt.files.empty())
        why = "no files to pack were given";
    else if (!S_ISREG(st.st_mode) || !starts_like_archive(dir_fd, name))
        why = "is not an archive";
    else
        return {};
    why = (late ? "it changed while packing and " : "it exists and ") + why;
    return RunResult{status_usage, "\nWon't replace " + printable_name(opt.archive) + ": " + why +
                                       " (use -f to replace it)"};
}

// The attributes an index keeps: permission bits and modification time.
vorb_file_meta file_meta(const InFile& in) {
    struct stat st;
    if (::fstat(in.fd, &st) != 0) return vorb_file_meta{default_file_mode(), 0, 0};
    return vorb_file_meta{static_cast<uint32_t>(st.st_mode & 07777), static_cast<uint32_t>(st.st_mtim.tv_nsec),
                          static_cast<int64_t>(st.st_mtim.tv_sec)};
}

// The files to pack as the writer asks for them: each is opened when its
// turn to be read comes, a few ahead of the one being written, and closed
// once read. Messages go out in archive order.
struct FeedFile {
    InFile in;
    vorb_file_meta meta{};
    int open_error = 0;   // errno when it could not be opened
    const char* refusal = nullptr;  // or why it was not
    uint64_t opened = 0;  // when it was opened
};

struct FileFeed {
    const std::vector<PackItem>& items;
    const Console& con;
    std::vector<FeedFile> files;  // by entry
    uint64_t last_done = 0;       // when the member before was done
    int missing = 0;
};

void feed_open(void* ctx, unsigned i, vorb_member_input* in) {
    FileFeed& f = *static_cast<FileFeed*>(ctx);
    FeedFile& file = f.files[i];
    const PackItem& item = f.items[i];
    file.opened = clock_ms();
    if (item.path == "-") {
        // No attributes: the archive must not depend on when it was made.
        in_file_use_stdin(file.in);
        *in = vorb_member_input{in_file_read, &file.in, nullptr};
        return;
    }
    const bool opened = item.walked ? in_file_open_found(file.in, item.path, item.dev, item.ino, file.refusal)
                                    : in_file_open(file.in, item.path);
    if (!opened) {
        // The entry stays, absent, so the archive still has one per name.
        file.open_error = file.in.error;
        return;
    }
    file.meta = file_meta(file.in);
    *in = vorb_member_input{in_file_read, &file.in, &file.meta};
}

void feed_close(void* ctx, unsigned i) { in_file_close(static_cast<FileFeed*>(ctx)->files[i].in); }

void feed_begin(void* ctx, unsigned i) {
    FileFeed& f = *static_cast<FileFeed*>(ctx);
    const std::string& name = f.items[i].path;
    const FeedFile& file = f.files[i];
    if (file.open_error != 0 || file.refusal) {
        f.missing++;
        say_error(f.con, "\n" + printable_name(name) + ": not packed, " +
                             (file.refusal ? file.refusal : std::strerror(file.open_error)));
        return;
    }
    say_member(f.con, f.items[i].name);
}

// A member's time runs from its opening or the end of the one before,
// whichever is later: what its line took, the lines adding up to the run.
void feed_done(void* ctx, unsigned i, const vorb_member_stats*) {
    FileFeed& f = *static_cast<FileFeed*>(ctx);
    const uint64_t now = clock_ms();
    say_time(f.con, now - std::max(f.files[i].opened, f.last_done));
    f.last_done = now;
}

void feed_progress(void* ctx, vorb_event ev) {
    const Console& con = static_cast<FileFeed*>(ctx)->con;
    console_progress(con)(progress_context(con), ev);
}

// Packs every file; VORB_ERR_WRITE leaves the message to the caller, which
// knows the archive's errno. missing counts the files that could not be opened.
RunResult pack_files(vorb_writer* w, const PackList& list, const Console& con, vorb_status& st, int& missing) {
    const size_t count = list.items.size();
    st = vorb_writer_begin(w, static_cast<unsigned>(count));
    if (st != VORB_OK) return {};
    FileFeed f{list.items, con, std::vector<FeedFile>(count)};
    std::vector<const char*> names;
    for (const PackItem& item : list.items) names.push_back(item.name.c_str());
    const vorb_member_feed feed{feed_open, feed_close, feed_begin, feed_done,
                                console_progress(con) ? feed_progress : nullptr, &f};
    st = vorb_writer_add_members(w, names.data(), static_cast<unsigned>(count), &feed);
    missing = f.missing;
    if (st == VORB_ERR_READ)
        for (size_t i = 0; i < count; i++)
            if (f.files[i].in.error != 0 && f.files[i].open_error == 0)
                return run_failed("\nRead error in " + printable_name(list.items[i].path) + ": " +
                                  std::strerror(f.files[i].in.error));
    if (st == VORB_ERR_MEMORY) return run_failed("\nNot enough memory to sort a block");
    if (st != VORB_OK && st != VORB_ERR_WRITE) return run_failed(std::string("\n") + vorb_status_message(st));
    for (const PackNode& node : list.nodes) {
        if (st != VORB_OK) break;
        const vorb_node n{node.link ? VORB_NODE_LINK : VORB_NODE_FOLDER, node.path.c_str(),
                          node.link ? node.target.c_str() : nullptr, &node.meta};
        st = vorb_writer_add_node(w, &n);
        if (st == VORB_ERR_PARAM) return run_failed("\nThe index cannot hold " + printable_name(node.path));
    }
    if (st == VORB_OK) st = vorb_writer_finish(w);
    return {};
}

}  // namespace

RunResult pack_archive(const PackOptions& opt, const Console& con) {
    PackList list;
    tree_walk(list, opt.files, opt.stdin_name, opt.index);
    RunResult r = check_pack_request(opt, list);
    if (r.status == 0) r = check_replace(opt, AT_FDCWD, opt.archive, false);
    if (r.status != 0) return r;
    for (const std::string& line : list.refused) say_error(con, "\n" + printable_name(line));

    Replacement target;
    FdOut out;
    if (to_stdout(opt)) {
        out.fd = STDOUT_FILENO;
    } else if (replacement_begin_path(target, opt.archive, TargetUse::named)) {
        out.fd = target.fd;
        // The record is made from the archive read back: a device or FIFO cannot be.
        if (opt.recovery && target.temp_name.empty()) {
            replacement_discard(target);
            return RunResult{status_usage, "\nOption -r needs a regular file as the archive: " +
                                               printable_name(opt.archive) + " is not one"};
        }
    } else {
        return run_failed("\nCan't open output: " + printable_name(opt.archive) + ": " +
                          (target.refusal ? target.refusal : std::strerror(target.error)));
    }

    const vorb_pack_options po{opt.block_size, opt.threads, opt.index};
    vorb_status st = VORB_OK;
    vorb_writer* w = vorb_writer_create(fd_out_write, &out, &po, &st);
    if (!w) {
        replacement_discard(target);
        return run_failed("\nNot enough memory for the block size");
    }
    int missing = 0;
    r = pack_files(w, list, con, st, missing);
    missing += static_cast<int>(list.refused.size());
    vorb_writer_free(w);
    if (r.status != 0) {
        replacement_discard(target);
        return r;
    }
    if (st == VORB_OK && opt.recovery) st = append_recovery_record(target, opt.recovery, out);
    if (st == VORB_ERR_MEMORY) {
        replacement_discard(target);
        return run_failed("\nNot enough memory for the recovery record");
    }
    // Asked again at the rename: a file may have appeared, taken the
    // target's place or been rewritten in place while packing ran.
    if (st == VORB_OK && !target.temp_name.empty() && (target.target_existed || replacement_target_changed(target))) {
        r = check_replace(opt, target.dir_fd, target.name, true);
        if (r.status != 0) {
            replacement_discard(target);
            return r;
        }
    }
    if (st != VORB_OK || (!to_stdout(opt) && !replacement_commit(target))) {
        replacement_discard(target);
        const int err = out.error ? out.error : target.error;
        const std::string shown = to_stdout(opt) ? "standard output" : printable_name(opt.archive);
        return run_failed("\nWrite error on " + shown + ": " + std::strerror(err));
    }
    if (missing > 0)
        return run_failed("\n" + std::to_string(missing) + (missing == 1 ? " file was" : " files were") +
                          " not packed");
    return {};
}
