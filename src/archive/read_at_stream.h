// A byte stream over an archive read at offsets, which can be moved to any
// position: what salvage reads with, since after damage it jumps back and
// forth between the places where an entry may start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/index_load.h"
#include "coder/byte_stream.h"

struct ReadAtStream {
    IndexSource src;
    std::vector<uint8_t> buffer;
    uint64_t next = 0;    // archive offset of the next refill
    size_t refill_bytes = 0;  // how much the next refill asks for
    ByteIn in;
};

// A stream of the archive src, at offset 0.
void read_at_stream_init(ReadAtStream& s, const IndexSource& src);

// The stream goes on from archive offset `offset`. The first refill there is
// small, so a probe that fails after a few bytes reads few.
void read_at_stream_seek(ReadAtStream& s, uint64_t offset);

// Reads len bytes at offset into dst: false when the archive ends first or a
// read fails (read_error tells which).
[[nodiscard]] bool read_at_exact(const IndexSource& src, uint8_t* dst, size_t len, uint64_t offset, bool& read_error);
