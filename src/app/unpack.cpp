#include "app/unpack.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "app/buffers.h"
#include "app/file_io.h"
#include "app/names.h"
#include "inverse/decode_block.h"

namespace {

const char signature[5] = {'!', 'v', 'o', 'r', 'b'};

struct Unpacker {
    BlockBuffers buffers;
    std::unique_ptr<BlockDecoder> bd = std::make_unique<BlockDecoder>();
    std::unique_ptr<NumberCoder> nc = std::make_unique<NumberCoder>();
    ~Unpacker() { release_buffers(buffers); }
};

// Decodes one member's block stream into out until its end marker.
Status unpack_member(Unpacker& u, ByteIn& archive, ByteOut& out, ProgressSink progress) {
    rc_start(u.nc->rc);
    for (;;) {
        int32_t n = 0;
        VORB_TRY(decode_block(*u.bd, *u.nc, u.buffers.block_start, u.buffers.block_size, u.buffers.index, out,
                              progress, n));
        // An intact stream never needs a byte past the end of the archive.
        VORB_CHECK(!archive.overread, Status::truncated);
        if (out.failed) return Status::write_failed;
        if (n == 0) return Status::ok;
    }
}

std::string truncated_message() { return "\nDamaged archive: it ends too early"; }

}  // namespace

RunResult unpack_archive(const UnpackOptions& opt, const Console& con) {
    InFile arc;
    if (!in_file_open(arc, opt.archive)) return run_failed("\nCan't open input");
    ByteIn& in = arc.in;

    for (const char ch : signature)
        if (get_byte(in) != static_cast<uint8_t>(ch)) return run_failed("\nInvalid signature");

    uint32_t block_size = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int c = get_byte(in);
        if (c < 0) return run_failed(truncated_message());
        block_size |= static_cast<uint32_t>(c) << shift;
    }
    if (block_size == 0 || block_size > max_block_size)
        return run_failed("\nDamaged archive: block size " + std::to_string(block_size) +
                          " is out of range (1 to " + std::to_string(max_block_size) + ")");

    Unpacker u;
    if (!setup_buffers(u.buffers, block_size, false))
        return run_failed("\nNot enough memory for the archive's block size of " + std::to_string(block_size));
    u.nc->rc.mode = rc_mode_unpack;
    u.nc->rc.in = &in;

    const int count = get_byte(in);
    if (count < 0) return run_failed(truncated_message());

    const std::string prefix = opt.directory.empty() ? std::string("_") : opt.directory + "/_";
    const ProgressSink progress = console_progress(con);
    int skipped = 0;
    for (int member = 0; member < count; member++) {
        const int presence = get_byte(in);
        if (presence < 0) return run_failed(truncated_message());
        if (presence == 0xFF) continue;

        std::string name;
        const NameRead nr = read_name(in, name);
        if (nr == NameRead::truncated) return run_failed(truncated_message());
        const std::string shown = "_" + name;

        // A member that cannot be written is still decoded, to nowhere, to
        // reach the members after it.
        const char* refusal = nullptr;
        if (nr == NameRead::too_long)
            refusal = "name longer than 198 characters";
        else
            refusal = unsafe_name_reason(name);
        OutFile file;
        NullOut nowhere;
        ByteOut* out;
        std::string cant_create;
        if (!refusal && out_file_create(file, prefix + name, false)) {
            out = &file.out;
        } else {
            if (!refusal) cant_create = std::string("can't create it: ") + std::strerror(file.error);
            null_out_init(nowhere);
            out = &nowhere.out;
        }

        const uint64_t start = clock_ms();
        say_member(con, shown);
        const Status st = unpack_member(u, in, *out, progress);
        if (st != Status::ok) {
            out_file_discard(file);
            if (st == Status::write_failed)
                return run_failed("\nWrite error on " + printable_name(shown) + ": " + std::strerror(file.error));
            if (in.read_error)
                return run_failed("\nRead error in the archive: " + std::string(std::strerror(arc.error)));
            // Garbage read past the end usually trips a check first; the cause is the cut.
            const Status cause = in.overread ? Status::truncated : st;
            return run_failed("\nDamaged archive: member " + printable_name(shown) + ": " + status_message(cause));
        }
        if (refusal || !cant_create.empty()) {
            skipped++;
            std::string line;
            if (con.quiet) line.append("\n").append(printable_name(shown)).append(": ");
            line.append("skipped, ").append(refusal ? refusal : cant_create.c_str());
            say_error(line.c_str());
            continue;
        }
        if (!out_file_commit(file))
            return run_failed("\nWrite error on " + printable_name(shown) + ": " + std::strerror(file.error));
        say_time(con, clock_ms() - start);
    }
    if (skipped > 0)
        return run_failed("\n" + std::to_string(skipped) + (skipped == 1 ? " member was" : " members were") +
                          " not unpacked");
    return {};
}
