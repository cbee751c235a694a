// Distance coder: a transformed block becomes, per byte value present, its
// first position, and per run of equal bytes the distance to the value's next
// occurrence with the distinct values seen in between taken out.
#pragma once

#include <cstdint>

#include "coder/model.h"

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
    int32_t prev_symbol;        // -1 before the first position
    int32_t run_count;
    int32_t* distance;          // [0, run_count): each run's distance, in block order
    uint8_t stage;              // the next part of the block to code
    int32_t item;               // within it: the symbol set's next number, or the next run
    int32_t pos;                // the next run's first position
};

// Resets the block state and works out every run's distance of t[0, n),
// n >= 1. dc.distance must hold as many entries as t has runs (n at most).
void dc_scan_block(DistanceCoder& dc, const uint8_t* t, int32_t n);

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
