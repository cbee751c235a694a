// Repetition handling: ranges whose contexts still agree past the depth limit
// are ordered by copying the order of nearby positions whose rows are already
// final (the period sort, order_by_partners), or else sorted by deep_sort
// through a compare cache that skips stretches known to be equal. Ranges
// before the limit may copy the order of a whole finished bucket.
//
// A group table records, per 128 consecutive positions, the lowest position
// that a finished repeat_sort has placed and the slot it stands in; that is
// how a range finds nearby sorted positions. It lives for one block.
#pragma once

#include <cstdint>

#include "sort/sorter.h"

// Per block, after the selection: no group table yet, empty compare cache.
void repeat_state_init(Sorter& s, int32_t n);
// Frees the group table if the block allocated one.
void repeat_state_release(Sorter& s);

// Schedules sorting [first, last), whose contexts agree on every byte above
// the key base's depth (always more than depth_limit bytes).
void repeat_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key);

// Orders [first, last), whose contexts agree on their first `known` bytes,
// by the order of their partners x - a (a small) when those are the
// selected positions of a bucket this sorter has finished and that bucket is
// small beside the range: one scan of it then does what sorting on would do
// word by word. False, with the range as it was, when no such bucket is
// found.
bool copy_from_finished_bucket(Sorter& s, int32_t* first, int32_t* last, int32_t known);

// Task steps: the choice of how to sort a repeat range, and the recording of
// a finished one in the group table.
void repeat_sort_step(Sorter& s, int32_t* first, int32_t* last, int32_t key);
void record_sorted(Sorter& s, const int32_t* first, const int32_t* last);

// 1 when the context whose key starts at index ka is greater than the one at
// kb (two different positions at the same depth), else 0.
int cached_compare(Sorter& s, int32_t ka, int32_t kb);
