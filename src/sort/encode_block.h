// One block of a member file, from its bytes to its coded stream.
#pragma once

#include <cstdint>

#include "coder/progress.h"
#include "dc/block_code.h"
#include "sort/forward.h"

// Sorts data[0, n) and codes it; n = 0 ends the member. data needs the guard
// in front and one spare byte after; index and dc.distance n + 1 entries.
// Fails only when the sort cannot allocate its working table.
[[nodiscard]] bool encode_block(Sorter& s, DistanceCoder& dc, NumberCoder& nc, uint8_t* data, int32_t n,
                                int32_t* index, ProgressSink progress);
