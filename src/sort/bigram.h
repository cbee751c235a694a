// First stage of the forward sort: bigram buckets and the selected positions.
//
// The bigram bucket of position v is data[v] * 256 + data[v - 1] (the bytes
// in front of the block read as 0). Buckets lie in the index array in
// ascending order. Only the selected positions (1 <= v <= n - 1 with
// data[v - 1] > data[v] and data[v - 1] >= data[v - 2]) and position 0 are
// sorted by comparison; the forward transform places all others by induction.
#pragma once

#include <cstdint>

#include "sort/sorter.h"

// Whether position v (2 <= v <= n - 1) is selected, by the rule above.
inline bool is_selected(const uint8_t* data, int32_t v) { return data[v - 1] > data[v] && data[v - 1] >= data[v - 2]; }

// Finding the runs of buckets a block uses is a pass over the block, several
// operations a byte, and each run left out spares about a hundred (16
// buckets laid out, scanned and filled back): it pays for blocks below about
// 64 KiB, and larger ones lay out every bucket.
constexpr int32_t find_runs_below = 1 << 16;

// Buckets the lone sorter looks at together (see bucket_share.cpp); a
// group's buckets are laid out in whole runs of them.
constexpr int32_t bucket_scan_run = 16;

// Lays out the buckets of data[0, n) (1 <= n): bigram_start (entry 65536 is
// n), bigram_fill one past each bucket's selected positions, group_start per
// first byte; position 0 at the start of bucket data[0] * 256, one row below
// the rest of its first-byte group; the selected positions at the start of
// their buckets in ascending order; the sentinel 255 in data[n]. index needs
// n entries. Only what readers look at is set: in each group the runs of
// buckets that column_runs names (every run that holds a position) and the
// bucket after each, its first bucket and its bucket (h, h). The rest of the
// tables keeps whatever an earlier block left.
void bucket_block(Sorter& s, uint8_t* data, int32_t n, int32_t* index);
