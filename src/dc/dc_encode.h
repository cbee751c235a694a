// Distance coder: a transformed block becomes, per byte value present, its
// first position, and per run of equal bytes the distance to the value's next
// occurrence with the distinct values seen in between taken out.
#pragma once

#include <cstdint>

#include "coder/model.h"

struct DistanceCoder {
    int32_t last_pos[256];      // latest occurrence in this block, -1 = not seen
    int32_t first_pos[256];     // valid for values seen in this block
    uint8_t sorted_symbols[256];  // [0, symbol_count): values seen, ascending
    // [0, symbol_count): most recently seen first; the tail pads the last
    // 16-byte read of the search.
    uint8_t mtf_list[256 + 16];
    int32_t symbol_count;
    int32_t prev_symbol;        // -1 before the first position
    int32_t* distance;          // [0, n): -1 or the distance of a run's end
};

// Codes the block length n (0 is the end marker) and resets the block state.
// dc.distance must hold at least n entries.
void dc_begin_block(DistanceCoder& dc, NumberCoder& nc, int32_t n);

// Slow path of dc_note_symbol: a position whose byte differs from the one before.
void dc_note_new_run(DistanceCoder& dc, uint8_t x, int32_t pos);

// Called for positions 0..n-1 in ascending order with t[position].
inline void dc_note_symbol(DistanceCoder& dc, uint8_t x, int32_t pos) {
    if (x == dc.prev_symbol) {
        dc.last_pos[x] = pos;  // inside a run nothing else changes
        return;
    }
    dc_note_new_run(dc, x, pos);
}

// Codes the symbol set, the first positions and the distances of t[0..n-1].
void dc_emit(DistanceCoder& dc, NumberCoder& nc, const uint8_t* t, int32_t n);
