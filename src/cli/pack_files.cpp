#include "pack_files.h"

#include <cstring>
#include <sys/stat.h>

#include "file_io.h"

namespace {

// Limits checked before anything is created, so a refused run leaves no trace.
RunResult check_pack_request(const PackOptions& opt) {
    if (opt.files.size() > VORB_MAX_MEMBERS) return run_failed("\nToo many files: an archive holds at most 255");
    for (const std::string& name : opt.files)
        if (name.size() > VORB_MAX_NAME_LENGTH)
            return run_failed("\nFile name longer than 198 characters: " + printable_name(name));
    const FileId archive = file_id(opt.archive);
    if (archive.exists)
        for (const std::string& name : opt.files) {
            const FileId member = file_id(name);
            if (member.exists && member.dev == archive.dev && member.ino == archive.ino)
                return run_failed("\nThe archive is one of the files to pack: " + printable_name(name));
        }
    return {};
}

// The attributes an index keeps: permission bits and modification time.
vorb_file_meta file_meta(const InFile& in) {
    struct stat st;
    if (::fstat(in.fd, &st) != 0) return vorb_file_meta{default_file_mode(), 0, 0};
    return vorb_file_meta{static_cast<uint32_t>(st.st_mode & 07777), static_cast<uint32_t>(st.st_mtim.tv_nsec),
                          static_cast<int64_t>(st.st_mtim.tv_sec)};
}

// Packs every file; VORB_ERR_WRITE leaves the message to the caller, which
// knows the archive's errno.
RunResult pack_files(vorb_writer* w, const PackOptions& opt, const Console& con, vorb_status& st) {
    st = vorb_writer_begin(w, static_cast<unsigned>(opt.files.size()));
    for (size_t i = 0; i < opt.files.size() && st == VORB_OK; i++) {
        const std::string& name = opt.files[i];
        InFile in;
        if (!in_file_open(in, name)) {
            st = vorb_writer_add_absent(w, name.c_str());
            continue;
        }
        const uint64_t start = clock_ms();
        say_member(con, name);
        const vorb_file_meta meta = file_meta(in);
        st = vorb_writer_add_member(w, name.c_str(), in_file_read, &in, &meta, console_progress(con), nullptr,
                                    nullptr);
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
    if (r.status != 0) return r;

    OutFile archive;
    if (!out_file_create(archive, opt.archive, true)) return run_failed("\nCan't open output");

    const vorb_pack_options po{opt.block_size, opt.threads, opt.index};
    vorb_status st = VORB_OK;
    vorb_writer* w = vorb_writer_create(out_file_write, &archive, &po, &st);
    if (!w) {
        out_file_discard(archive);
        return run_failed("\nNot enough memory for the block size");
    }
    r = pack_files(w, opt, con, st);
    vorb_writer_free(w);
    if (r.status != 0) {
        out_file_discard(archive);
        return r;
    }
    if (st != VORB_OK || !out_file_commit(archive)) {
        out_file_discard(archive);
        return run_failed("\nWrite error on " + printable_name(opt.archive) + ": " + std::strerror(archive.error));
    }
    return {};
}
