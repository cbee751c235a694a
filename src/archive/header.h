// The archive header: the signature, the block size (4 bytes, low byte
// first) and the member count (1 byte). Written and read only here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coder/byte_stream.h"
#include "common/status.h"

constexpr size_t max_members = 255;  // the member count is one byte
constexpr size_t header_size = 10;   // signature, block size, member count

struct ArchiveHeader {
    uint32_t block_size = 0;
    int member_count = 0;
};

void write_header(ByteOut& out, const ArchiveHeader& h);

// Fails with bad_signature, truncated, bad_block_size (h.block_size then
// holds the value read) or read_failed.
[[nodiscard]] Status read_header(ByteIn& in, ArchiveHeader& h);
