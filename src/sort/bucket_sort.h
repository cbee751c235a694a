// Sorting ranges of positions whose contexts agree on their first bytes:
// down to a fixed depth, a three-way word quicksort for large ranges, a sort
// of the next two key words in scratch for mid-sized ones and insertion sort
// for small ones; deep_sort for ranges handed back by the repetition handling.
// Key words compare four context bytes at once (see keys.h).
//
// bucket_sort and deep_sort only schedule their work (see sort_tasks.h); the
// range is sorted once run_sort_tasks has returned.
#pragma once

#include <cstdint>

#include "sort/sorter.h"

// Contexts agreeing on this many bytes go to the repetition handling.
constexpr int32_t depth_limit = 150;
// Ranges of at most this many entries are insertion-sorted.
constexpr int32_t small_range = 10;
// small_sort compares at most this many words before calling two entries tied.
constexpr int32_t small_sort_words = 38;

// The one of positions i, j, k whose key word at key base key is the median.
int32_t median_of_three(const Sorter& s, int32_t i, int32_t j, int32_t k, int32_t key);

// Schedules sorting [first, last), whose contexts agree on every byte above
// the key base's depth. A range that hardly splits may once be compared all
// the way to the depth limit at one go (see bucket_sort.cpp) unless
// may_split_to_limit is false.
void bucket_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key, bool may_split_to_limit = true);

// Schedules sorting [first, last), whose contexts agree on more than
// depth_limit bytes, with no depth limit.
void deep_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key);

// Insertion sort of 2 to small_range entries comparing up to small_sort_words
// words; groups of entries equal over all of them are scheduled for
// repeat_sort 150 bytes deeper.
void small_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key);

// Task steps: one partition level each.
void bucket_sort_level(Sorter& s, const SortTask& task);
void deep_sort_level(Sorter& s, const SortTask& task);
