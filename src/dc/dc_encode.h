// Distance coder: a transformed block becomes, per byte value present, its
// first position, and per run of equal bytes the distance to the value's next
// occurrence with the distinct values seen in between taken out.
#pragma once

#include <cstdint>

#include "coder/model.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Where the coding of a block stands, so that it can stop when a step record
// is full and be taken up again on the range coder.
enum : uint8_t { dc_stage_length, dc_stage_symbols, dc_stage_runs, dc_stage_primary, dc_stage_done };

struct DistanceCoder {
    int32_t last_pos[256];      // latest occurrence in this block, -1 = not seen
    int32_t last_run[256];      // that occurrence's run, valid for values seen
    int32_t first_pos[256];     // valid for values seen in this block
    uint8_t sorted_symbols[256];  // [0, symbol_count): values seen, ascending
    // [0, symbol_count): most recently seen first; the tail pads the last
    // 16-byte read of the search.
    uint8_t mtf_list[256 + 16];
    int32_t symbol_count;
    int32_t run_count;
    int32_t* distance;          // [0, run_count): each run's distance, in block order
    uint8_t stage;              // the next part of the block to code
    int32_t item;               // within it: the symbol set's next number, or the next run
    int32_t pos;                // the next run's first position
};

// The end of the run of t[p] that starts at p (p < n): the first position
// after it. Sixteen bytes are compared at a time: on binary data runs of one
// and of a few bytes mix, and a loop that stops after a byte or two
// mispredicts its exit about every other run.
inline int32_t run_end(const uint8_t* t, int32_t p, int32_t n) {
    const uint8_t x = t[p];
    int32_t e = p + 1;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8(static_cast<char>(x));
    for (; e + 16 <= n; e += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + e));
        const unsigned other = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, want))) & 0xFFFF;
        if (other) return e + __builtin_ctz(other);
    }
#endif
    while (e < n && t[e] == x) e++;
    return e;
}

// Resets the block state and works out every run's distance of t[0, n),
// n >= 1. dc.distance must hold as many entries as t has runs (n at most).
void dc_scan_block(DistanceCoder& dc, const uint8_t* t, int32_t n);

// A run of x that starts at pos (the byte before, if any, differs from x):
// its distance, the recency list and the symbol set move on.
void dc_note_new_run(DistanceCoder& dc, uint8_t x, int32_t pos);
