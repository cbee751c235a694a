#include "app/unpack.h"

#include <cerrno>
#include <cstring>

#include "app/archive_reader.h"
#include "app/file_io.h"
#include "app/parallel_decode.h"

std::string header_error(HeaderRead h, uint32_t block_size) {
    switch (h) {
    case HeaderRead::ok: break;
    case HeaderRead::bad_signature: return "\nInvalid signature";
    case HeaderRead::truncated: return truncated_archive_message;
    case HeaderRead::bad_block_size:
        return "\nDamaged archive: block size " + std::to_string(block_size) + " is out of range (1 to " +
               std::to_string(max_block_size) + ")";
    }
    return {};
}

std::string member_error(Status st, const std::string& shown, const InFile& arc, int write_errno) {
    if (st == Status::write_failed) return "\nWrite error on " + printable_name(shown) + ": " + std::strerror(write_errno);
    if (arc.in.read_error) return "\nRead error in the archive: " + std::string(std::strerror(arc.error));
    return "\nDamaged archive: member " + printable_name(shown) + ": " + status_message(st);
}

RunResult open_archive(InFile& arc, const std::string& path, ArchiveHeader& h, MemberDecoder& dec) {
    if (!in_file_open(arc, path)) return run_failed("\nCan't open input");
    const HeaderRead hr = read_header(arc.in, h);
    if (hr != HeaderRead::ok) return run_failed(header_error(hr, h.block_size));
    if (!member_decoder_init(dec, arc.in, h.block_size))
        return run_failed("\nNot enough memory for the archive's block size of " + std::to_string(h.block_size));
    return {};
}

RunResult unpack_archive(const UnpackOptions& opt, const Console& con) {
    InFile arc;
    ArchiveHeader h;
    MemberDecoder dec;
    RunResult r = open_archive(arc, opt.archive, h, dec);
    if (r.status != 0) return r;
    ParallelDecoder par;
    if (opt.threads > 1) {
        // The single-thread decoder's buffers are not needed then.
        release_buffers(dec.buffers);
        if (!parallel_decoder_init(par, arc.in, h.block_size, opt.threads))
            return run_failed("\nNot enough memory for the archive's block size of " +
                              std::to_string(h.block_size));
    }

    const std::string prefix = opt.directory.empty() ? std::string("_") : opt.directory + "/_";
    const ProgressSink progress = console_progress(con);
    int skipped = 0;
    for (int member = 0; member < h.member_count; member++) {
        ArchiveEntry e;
        if (!read_entry(arc.in, e)) return run_failed(truncated_archive_message);
        if (!e.present) continue;
        const std::string shown = "_" + e.name;

        // A member that cannot be written is still decoded, to nowhere, to
        // reach the members after it.
        std::string refusal;
        if (e.name_read == NameRead::too_long)
            refusal = "name longer than 198 characters";
        else if (const char* why = unsafe_name_reason(e.name))
            refusal = why;
        OutFile file;
        NullOut nowhere;
        ByteOut* out = &file.out;
        if (refusal.empty() && !out_file_create(file, prefix + e.name, false))
            refusal = std::string("can't create it: ") + std::strerror(file.error);
        if (!refusal.empty()) {
            null_out_init(nowhere);
            out = &nowhere.out;
        }

        const uint64_t start = clock_ms();
        say_member(con, shown);
        MemberStats stats;
        const Status st = opt.threads > 1 ? decode_member_parallel(par, *out, progress, stats)
                                          : decode_member(dec, *out, progress, true, stats);
        if (st != Status::ok) {
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
        if (!out_file_commit(file)) return run_failed(member_error(Status::write_failed, shown, arc, file.error));
        say_time(con, clock_ms() - start);
    }
    if (skipped > 0)
        return run_failed("\n" + std::to_string(skipped) + (skipped == 1 ? " member was" : " members were") +
                          " not unpacked");
    return {};
}
