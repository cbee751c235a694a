// Repetition handling: ranges whose contexts still agree past the depth limit
// are ordered by copying the order of nearby positions whose rows are already
// final (the period sort `indiana`), or else sorted by deep_sort through a
// compare cache that skips stretches known to be equal.
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
// Allocates the zeroed group table (and the final-row marks that go with it);
// false when memory is short.
[[nodiscard]] bool group_table_alloc(Sorter& s);

// Schedules sorting [first, last), whose contexts agree on every byte above
// the key base's depth (always more than depth_limit bytes).
void repeat_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key);

// Task steps: the choice of how to sort a repeat range, and the recording of
// a finished one in the group table.
void repeat_sort_step(Sorter& s, int32_t* first, int32_t* last, int32_t key);
void record_sorted(Sorter& s, const int32_t* first, const int32_t* last);

// The period sort: orders [first, last) like its partners x - a (a small,
// not 0), which must all be final rows of one bucket's sorted stretch, one of
// them in start_slot. Returns false, with the range's entries in some order,
// when the partners lie too thinly in the stretch to be worth walking to.
bool indiana(Sorter& s, int32_t* first, int32_t* last, int32_t a, int32_t* start_slot);

// Narrows [first, last) to the entries that agree with x = d + c on the next
// ceil(c / 4) key words; entries split off lie before (less) or after
// (greater) the middle. key is the middle's key base after the passes.
struct Split {
    int32_t* mid;
    int32_t* mid_end;
    int32_t key;
};
Split split_on_pivot(Sorter& s, int32_t* first, int32_t* last, int32_t key, int32_t c, int32_t d);

// 1 when the context whose key starts at index ka is greater than the one at
// kb (two different positions at the same depth), else 0.
int cached_compare(Sorter& s, int32_t ka, int32_t kb);

// Slots of the sorted stretch of position v's bucket: its first row and the
// row of its last selected position.
struct SlotRange {
    int32_t* lo;
    int32_t* hi;
};
SlotRange bucket_range(const Sorter& s, int32_t v);

// Whether data[x + k] equals data[y + k]; both must lie in the block.
bool bytes_agree(const Sorter& s, int32_t x, int32_t y, int32_t k);

// Three-way comparison of two positions by value (for sorting and searching
// arrays of positions).
int compare_positions(const void* a, const void* b);
