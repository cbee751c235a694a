// Building a recovery record over bytes read front to back: parity for every
// stripe, a checksum per unit, and the header at both ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/recovery_layout.h"
#include "coder/byte_stream.h"

struct RecordInput {
    // Up to len bytes; 0 at the end, negative on an error.
    ptrdiff_t (*read)(void* ctx, void* buf, size_t len) = nullptr;
    void* ctx = nullptr;
};

// Reads layout.data_size bytes from in and writes the record for them to
// out (not flushed). With expected given the bytes must have that checksum:
// checksum_mismatch, and nothing written, otherwise. Also read_failed and
// truncated; std::bad_alloc passes through. Holds the parity in memory:
// about the record's size.
[[nodiscard]] Status record_build(RecordLayout layout, const RecordInput& in, const uint64_t* expected, ByteOut& out);
