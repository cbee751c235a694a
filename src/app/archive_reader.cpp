#include "app/archive_reader.h"

namespace {
const char signature[5] = {'!', 'v', 'o', 'r', 'b'};
}

HeaderRead read_header(ByteIn& in, ArchiveHeader& h) {
    for (const char ch : signature)
        if (get_byte(in) != static_cast<uint8_t>(ch)) return HeaderRead::bad_signature;
    h.block_size = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int c = get_byte(in);
        if (c < 0) return HeaderRead::truncated;
        h.block_size |= static_cast<uint32_t>(c) << shift;
    }
    if (h.block_size == 0 || h.block_size > max_block_size) return HeaderRead::bad_block_size;
    h.member_count = get_byte(in);
    if (h.member_count < 0) return HeaderRead::truncated;
    return HeaderRead::ok;
}

bool read_entry(ByteIn& in, ArchiveEntry& e) {
    const int presence = get_byte(in);
    if (presence < 0) return false;
    e.present = presence != 0xFF;
    e.name.clear();
    e.name_read = NameRead::ok;
    if (!e.present) return true;
    e.name_read = read_name(in, e.name);
    return e.name_read != NameRead::truncated;
}

bool member_decoder_init(MemberDecoder& d, ByteIn& in, uint32_t block_size) {
    if (!setup_buffers(d.buffers, block_size, true)) return false;
    d.in = &in;
    d.nc->rc.mode = rc_mode_unpack;
    d.nc->rc.in = &in;
    return true;
}

Status decode_member(MemberDecoder& d, ByteOut& out, ProgressSink progress, bool invert, MemberStats& stats) {
    const uint64_t start = bytes_in(*d.in);
    stats = MemberStats{};
    rc_start(d.nc->rc);
    for (;;) {
        int32_t n = 0;
        int32_t primary = 0;
        uint8_t* t = d.buffers.block_start;
        Status st = decode_block_symbols(*d.bd, *d.nc, t, d.buffers.block_size, stats.blocks == 0, n, primary);
        // Garbage read past the end usually trips a check; the cause is the cut.
        // An intact stream never needs a byte past the end of the archive.
        if (d.in->overread) return Status::truncated;
        VORB_TRY(st);
        stats.blocks++;
        if (n == 0) break;
        stats.unpacked += static_cast<uint64_t>(n);
        if (invert) {
            progress_put(progress, 'H');
            VORB_TRY(invert_block(d.bd->bucket_start, t, n, primary, d.buffers.index, d.buffers.distance));
            put_bytes(out, t, static_cast<size_t>(n));
            if (out.failed) return Status::write_failed;
        }
    }
    stats.packed = bytes_in(*d.in) - start;
    return Status::ok;
}
