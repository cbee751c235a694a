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
    size_t fail_at = SIZE_MAX;  // a read from this offset on fails
};

inline ptrdiff_t memory_read(void* ctx, void* buf, size_t len) {
    MemoryReader& r = *static_cast<MemoryReader*>(ctx);
    if (r.at >= r.fail_at) return -1;
    size_t n = std::min({len, r.size - r.at, r.fail_at - r.at});
    if (r.piece > 0) n = std::min(n, r.piece);
    std::copy_n(r.data + r.at, n, static_cast<uint8_t*>(buf));
    r.at += n;
    return static_cast<ptrdiff_t>(n);
}

inline vorb_source memory_source(MemoryReader& r) { return vorb_source{memory_read, nullptr, &r, r.size}; }

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
