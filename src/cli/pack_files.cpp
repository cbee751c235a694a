#include "pack_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_io.h"
#include "replace_file.h"

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
RunResult check_pack_request(const PackOptions& opt) {
    if (opt.files.size() > VORB_MAX_MEMBERS) return run_failed("\nToo many files: an archive holds at most 255");
    for (const std::string& name : opt.files)
        if (name.size() > VORB_MAX_NAME_LENGTH)
            return run_failed("\nFile name longer than 198 characters: " + printable_name(name));
    const FileId archive = archive_id(opt);
    if (archive.exists)
        for (const std::string& name : opt.files) {
            const FileId member = file_id(name);
            if (member.exists && member.dev == archive.dev && member.ino == archive.ino)
                return run_failed("\nThe archive is one of the files to pack: " + printable_name(name));
        }
    return {};
}

// Whether the file at path begins as an archive does; an unreadable one
// counts as not.
bool starts_like_archive(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char head[16];
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    vorb_archive_info info;
    return n > 0 && vorb_header_parse(head, static_cast<size_t>(n), &info) != VORB_ERR_SIGNATURE;
}

// A slip of the keyboard must not cost a file: without -f an existing file
// is replaced only by an archive with members, and only when it is an
// archive itself. Devices and FIFOs are not replaced but written to.
RunResult check_replace(const PackOptions& opt) {
    struct stat st;
    if (opt.force || to_stdout(opt) || ::stat(opt.archive.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    std::string why;
    if (opt.files.empty())
        why = "it exists and no files to pack were given";
    else if (!starts_like_archive(opt.archive))
        why = "it exists and is not an archive";
    else
        return {};
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

// Packs every file; VORB_ERR_WRITE leaves the message to the caller, which
// knows the archive's errno. missing counts the files that could not be opened.
RunResult pack_files(vorb_writer* w, const PackOptions& opt, const Console& con, vorb_status& st, int& missing) {
    st = vorb_writer_begin(w, static_cast<unsigned>(opt.files.size()));
    for (size_t i = 0; i < opt.files.size() && st == VORB_OK; i++) {
        const std::string& name = opt.files[i];
        InFile in;
        if (!in_file_open(in, name)) {
            // The entry stays, absent, so the archive still has one per name.
            missing++;
            say_error(con, "\n" + printable_name(name) + ": not packed, " + std::strerror(in.error));
            st = vorb_writer_add_absent(w, name.c_str());
            continue;
        }
        const uint64_t start = clock_ms();
        say_member(con, name);
        const vorb_file_meta meta = file_meta(in);
        st = vorb_writer_add_member(w, name.c_str(), in_file_read, &in, &meta, console_progress(con),
                                    progress_context(con), nullptr);
        in_file_close(in);
        if (st == VORB_ERR_READ)
            return run_failed("\nRead error in " + printable_name(name) + ": " + std::strerror(in.error));
        if (st == VORB_ERR_MEMORY) return run_failed("\nNot enough memory to sort a block");
        if (st != VORB_OK && st != VORB_ERR_WRITE)
            return run_failed("\n" + printable_name(name) + ": " + vorb_status_message(st));
        say_time(con, clock_ms() - start);
    }
    if (st == VORB_OK) st = vorb_writer_finish(w);
    return {};
}

}  // namespace

RunResult pack_archive(const PackOptions& opt, const Console& con) {
    RunResult r = check_pack_request(opt);
    if (r.status == 0) r = check_replace(opt);
    if (r.status != 0) return r;

    Replacement target;
    FdOut out;
    if (to_stdout(opt)) {
        out.fd = STDOUT_FILENO;
    } else if (replacement_begin_path(target, opt.archive, TargetUse::named)) {
        out.fd = target.fd;
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
    r = pack_files(w, opt, con, st, missing);
    vorb_writer_free(w);
    if (r.status != 0) {
        replacement_discard(target);
        return r;
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
