#include "app/pack.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "app/file_io.h"
#include "app/names.h"
#include "sort/encode_block.h"

namespace {

const char signature[5] = {'!', 'v', 'o', 'r', 'b'};

struct SorterDeleter {
    void operator()(Sorter* s) const { sorter_destroy(s); }
};

// Limits checked before anything is created, so a refused run leaves no trace.
RunResult check_pack_request(const PackOptions& opt) {
    if (opt.files.size() > max_members)
        return run_failed("\nToo many files: an archive holds at most 255");
    for (const std::string& name : opt.files)
        if (name.size() > max_name_length)
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

struct Packer {
    BlockBuffers buffers;
    std::unique_ptr<Sorter, SorterDeleter> sorter{sorter_create()};
    std::unique_ptr<DistanceCoder> dc = std::make_unique<DistanceCoder>();
    std::unique_ptr<NumberCoder> nc = std::make_unique<NumberCoder>();
    ~Packer() { release_buffers(buffers); }
};

// Codes one member file; the caller has written its presence byte and name.
RunResult pack_member(Packer& p, InFile& in, const std::string& name, const Console& con) {
    rc_start(p.nc->rc);
    const ProgressSink progress = console_progress(con);
    for (;;) {
        const int64_t got = in_file_read(in, p.buffers.block_start, p.buffers.block_size);
        if (got < 0)
            return run_failed("\nRead error in " + printable_name(name) + ": " + std::strerror(in.error));
        if (!encode_block(*p.sorter, *p.dc, *p.nc, p.buffers.block_start, static_cast<int32_t>(got),
                          p.buffers.index, progress))
            return run_failed("\nNot enough memory to sort a block");
        if (got == 0) return {};
    }
}

}  // namespace

RunResult pack_archive(const PackOptions& opt, const Console& con) {
    RunResult r = check_pack_request(opt);
    if (r.status != 0) return r;

    OutFile archive;
    if (!out_file_create(archive, opt.archive, true)) return run_failed("\nCan't open output");

    Packer p;
    if (!p.sorter || !setup_buffers(p.buffers, opt.block_size, true)) {
        out_file_discard(archive);
        return run_failed("\nNot enough memory for the block size");
    }
    p.dc->distance = p.buffers.distance;
    p.nc->rc.mode = rc_mode_pack;
    p.nc->rc.out = &archive.out;

    ByteOut& out = archive.out;
    put_bytes(out, reinterpret_cast<const uint8_t*>(signature), sizeof signature);
    for (int shift = 0; shift < 32; shift += 8) put_byte(out, static_cast<uint8_t>(opt.block_size >> shift));
    put_byte(out, static_cast<uint8_t>(opt.files.size()));

    for (const std::string& name : opt.files) {
        InFile in;
        if (!in_file_open(in, name)) {
            put_byte(out, 0xFF);
            continue;
        }
        put_byte(out, 0x00);
        write_name(out, name);
        const uint64_t start = clock_ms();
        say_member(con, name);
        r = pack_member(p, in, name, con);
        in_file_close(in);
        if (r.status != 0) {
            out_file_discard(archive);
            return r;
        }
        say_time(con, clock_ms() - start);
        if (out.failed) break;
    }

    if (!out_file_commit(archive))
        return run_failed("\nWrite error on " + printable_name(opt.archive) + ": " + std::strerror(archive.error));
    return {};
}
