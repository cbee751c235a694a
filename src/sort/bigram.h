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

// Lays out the buckets of data[0, n) (1 <= n): bigram_start (entry 65536 is
// n), bigram_fill one past each bucket's selected positions, group_start per
// first byte (a first-byte group h that holds no position has only its first
// bucket and its bucket (h, h) set, both to where the group lies; the rest of
// its buckets are stale); position 0 at the start of bucket data[0] * 256,
// one row below the rest of its first-byte group; the selected positions at
// the start of their buckets in ascending order; the sentinel 255 in data[n].
// index needs n entries.
void bucket_block(Sorter& s, uint8_t* data, int32_t n, int32_t* index);
