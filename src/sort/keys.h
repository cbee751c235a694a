// Reads of context bytes and key words. Every byte in front of the block
// start reads as 0 however deep the sort goes; only the last three guard bytes
// are ever loaded, so the guard's size never limits the depth.
#pragma once

#include <cstdint>
#include <cstring>

#include "dc/block_buffers.h"
#include "sort/sorter.h"

// The byte at offset i from the block start (i < 0: in front of it).
inline uint8_t context_byte(const Sorter& s, int32_t i) { return i < 0 ? 0 : s.data[i]; }

// The key word whose lowest byte is at offset i: four context bytes, the one
// at the highest offset most significant.
inline uint32_t key_word(const Sorter& s, int32_t i) {
    if (i <= -4) return 0;
    uint32_t w;
    std::memcpy(&w, s.data + i, sizeof w);
    return w;
}

// Depth of a key base: how many bytes it lies in front of the block start.
inline int32_t key_depth(int32_t key) { return -key; }

// Bigram bucket of position v (0 <= v < n): data[v] * 256 + data[v - 1], the
// 16 bits in front of position v + 1 read little-endian.
inline uint32_t bucket_of(const Sorter& s, int32_t v) {
    uint16_t b;
    std::memcpy(&b, byte_before(s.data, v), sizeof b);
    return b;
}

// Marks the rows of [first, last) as final, for the checks of the same-bucket
// copy. Rows settled before the first repetition of a block are not marked;
// that only makes the check more cautious.
inline void settle(Sorter& s, const int32_t* first, const int32_t* last) {
    if (!s.final_bits) return;
    for (const int32_t* p = first; p < last; ++p)
        s.final_bits[static_cast<uint32_t>(*p) >> 6] |= uint64_t{1} << (*p & 63);
}

inline bool is_final(const Sorter& s, int32_t v) {
    return (s.final_bits[static_cast<uint32_t>(v) >> 6] >> (v & 63)) & 1;
}
