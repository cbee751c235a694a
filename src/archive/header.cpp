#include "archive/header.h"

#include "dc/block_buffers.h"

namespace {
const uint8_t signature[5] = {'!', 'v', 'o', 'r', 'b'};
}

void write_header(ByteOut& out, const ArchiveHeader& h) {
    put_bytes(out, signature, sizeof signature);
    for (int shift = 0; shift < 32; shift += 8) put_byte(out, static_cast<uint8_t>(h.block_size >> shift));
    put_byte(out, static_cast<uint8_t>(h.member_count));
}

Status read_header(ByteIn& in, ArchiveHeader& h) {
    for (const uint8_t ch : signature) {
        const int c = get_byte(in);
        VORB_CHECK(!in.read_error, Status::read_failed);
        VORB_CHECK(c == ch, Status::bad_signature);
    }
    h.block_size = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int c = get_byte(in);
        VORB_CHECK(!in.read_error, Status::read_failed);
        VORB_CHECK(c >= 0, Status::truncated);
        h.block_size |= static_cast<uint32_t>(c) << shift;
    }
    VORB_CHECK(h.block_size != 0 && h.block_size <= max_block_size, Status::bad_block_size);
    h.member_count = get_byte(in);
    VORB_CHECK(!in.read_error, Status::read_failed);
    VORB_CHECK(h.member_count >= 0, Status::truncated);
    return Status::ok;
}
