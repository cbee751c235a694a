// Sorting a range inside a periodic stretch without walking the stretch word
// by word.
//
// When the common context P of a range (its first T bytes, T known equal) has
// a period q with 2q <= T, every context of the range continues P
// periodically for some length L >= T and then breaks the period with a byte
// below or above the one the period predicts. Two contexts with different L
// agree up to the shorter L, where the shorter one breaks: a downward break
// puts it first, an upward one last. So the range sorts as: downward breaks by
// L ascending, then upward breaks by L descending; entries with the same break
// direction and L agree on L bytes and are sorted from there on by deep_sort.
// Finding L costs a few bytes per entry when the entries lie close together.
#pragma once

#include <cstdint>

#include "sort/sorter.h"

// Tries the above on [first, last) at key base key (T = depth - 3). Returns
// true when the range has been ordered by break and the rest scheduled;
// false, leaving the range untouched, when the closest two entries lie more
// than T/2 apart, so that no period of P is known. retry_depth is then set to
// the least key depth at which the range (or any part of it) could pass.
bool period_run_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key, int32_t& retry_depth);
