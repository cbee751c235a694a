// The library's callbacks over memory: a reader that may hand out its bytes
// in short pieces, and a writer into a vector with an optional limit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <vorb.h>

struct MemoryReader {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
    size_t piece = 0;  // largest read handed out; 0: as much as asked
    size_t fail_at = SIZE_MAX;  // a read from this offset on fails...
    size_t fail_to = SIZE_MAX;  // ...up to this one (at offsets, reads past it succeed)
};

// A read at an offset, leaving the position alone; fail_at and piece hold too.
inline ptrdiff_t memory_read_at(void* ctx, void* buf, size_t len, uint64_t offset) {
    const MemoryReader& r = *static_cast<const MemoryReader*>(ctx);
    if (offset >= r.fail_at && offset < r.fail_to) return -1;
    const size_t at = static_cast<size_t>(std::min<uint64_t>(offset, r.size));
    size_t n = std::min(len, r.size - at);
    if (at < r.fail_at) n = std::min(n, r.fail_at - at);
    if (r.piece > 0) n = std::min(n, r.piece);
    std::copy_n(r.data + at, n, static_cast<uint8_t*>(buf));
    return static_cast<ptrdiff_t>(n);
}

inline ptrdiff_t memory_read(void* ctx, void* buf, size_t len) {
    MemoryReader& r = *static_cast<MemoryReader*>(ctx);
    const ptrdiff_t n = memory_read_at(ctx, buf, len, r.at);
    if (n > 0) r.at += static_cast<size_t>(n);
    return n;
}

// A stream, or with at_offsets an archive read at offsets.
inline vorb_source memory_source(MemoryReader& r, bool at_offsets = false) {
    return vorb_source{memory_read, at_offsets ? memory_read_at : nullptr, &r, r.size};
}

struct VectorWriter {
    std::vector<uint8_t> bytes;
    uint64_t taken = 0;
    uint64_t limit = UINT64_MAX;  // past this many bytes the write fails
    bool keep = true;             // false: count only
};

inline int vector_write(void* ctx, const void* buf, size_t len) {
    VectorWriter& w = *static_cast<VectorWriter*>(ctx);
    w.taken += len;
    if (w.taken > w.limit) return 1;
    if (w.keep) w.bytes.insert(w.bytes.end(), static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + len);
    return 0;
}
