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
        source.ctx = &arc;
        source.size = UINT64_MAX;
    }
};

}  // namespace

std::string archive_error(vorb_status st, const InFile& arc) {
    if (st == VORB_ERR_READ) return "\nRead error in the archive: " + std::string(std::strerror(arc.error));
    if (st == VORB_ERR_TRUNCATED) return truncated_archive_message;
    return std::string("\nDamaged archive: ") + vorb_status_message(st);
}

std::string member_error(vorb_status st, const std::string& shown, const InFile& arc, int write_errno) {
    if (st == VORB_ERR_WRITE) return "\nWrite error on " + printable_name(shown) + ": " + std::strerror(write_errno);
    if (st == VORB_ERR_READ) return archive_error(st, arc);
    return "\nDamaged archive: member " + printable_name(shown) + ": " + vorb_status_message(st);
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
    int skipped = 0;
    vorb_entry e;
    for (;;) {
        const vorb_status next = vorb_reader_next(r, &e);
        if (next == VORB_END) break;
        if (next != VORB_OK) return run_failed(archive_error(next, arc));
        if (!e.present) continue;
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
            return run_failed(member_error(st, shown, arc, file.error));
        }
        if (!refusal.empty()) {
            skipped++;
            std::string line;
            if (con.quiet)
                line.append("\n").append(printable_name(shown)).append(": ");
            else
                line.append("\t");
            line.append("skipped, ").append(refusal);
            say_error(line.c_str());
            continue;
        }
        if (!out_file_commit(file)) return run_failed(member_error(VORB_ERR_WRITE, shown, arc, file.error));
        say_time(con, clock_ms() - start);
    }
    if (skipped > 0)
        return run_failed("\n" + std::to_string(skipped) + (skipped == 1 ? " member was" : " members were") +
                          " not unpacked");
    return {};
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
