// The comparison sort of a block's buckets, in ascending order, shared with a
// helper thread when one is offered: a helper that starts while buckets are
// still untouched takes the upper part of them into its own sorter.
#pragma once

#include "sort/forward.h"
#include "sort/sorter.h"

// Sorts the selected positions bucket by bucket. False when the sort failed
// or ran past its budget (s.failed or s.over_budget says which).
bool sort_buckets(Sorter& s, const SortHelper* helper);
