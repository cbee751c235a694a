// A second, independent way to the context order of a whole block, in time
// linear in its length whatever the data: suffix sorting by induction over
// the block read backwards (the context of v is the block's reversed suffix
// starting at n - 1 - v, and a proper prefix of a context is a shorter suffix,
// which suffix order also puts first).
//
// The forward sort turns to it when a block's repetitions make the bucket
// sorts too costly; its result is the same order.
#pragma once

#include <cstdint>

// Fills rows[0, n) with the positions 0 .. n-1 of data[0, n) in ascending
// context order (1 <= n; rows needs n entries). False when its working
// memory (at most about 4.5 n bytes) cannot be allocated.
[[nodiscard]] bool sort_all_contexts(const uint8_t* data, int32_t n, int32_t* rows);
