// The explicit work stack of the forward sort. The sorting routines never
// call each other recursively: each one does one step on its range and
// schedules what is left, and run_sort_tasks works the stack off. Work is
// taken last-in first-out, so a routine schedules first what it wants done
// last.
#pragma once

#include <cstdint>

#include "sort/sorter.h"

// Adds a task; on allocation failure marks the sorter failed and drops it.
void schedule(Sorter& s, SortStep step, int32_t* first, int32_t* last, int32_t key, int32_t period_check = 0,
              bool may_split_to_limit = false);

// Runs tasks until the stack is empty. When the sorter has failed or its
// work has passed the budget (over_budget is then set) the remaining tasks are
// dropped.
void run_sort_tasks(Sorter& s);

// Frees the stack and scratch space.
void release_sort_tasks(Sorter& s);

// Scratch space of at least count entries, or null when it cannot be had.
uint64_t* sort_scratch(Sorter& s, size_t count);
