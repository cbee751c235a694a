// Forward block-sorting transform over left contexts: positions are ordered
// by data[v], data[v-1], ... towards the block start (a proper prefix first);
// row j's byte is data[v+1] (data[0] for v = n-1) and the primary index is
// the row of position n-1.
#pragma once

#include <cstdint>

#include "common/helper_threads.h"
#include "common/progress.h"
#include "dc/block_buffers.h"

struct Sorter;

// A sorter holds the fixed tables of one block sort (about 0.5 MiB); make one
// per thread that sorts.
Sorter* sorter_create();
void sorter_destroy(Sorter* s);

// A thread that can sort part of a block beside the one sorting it, in its
// own sorter (not in use elsewhere meanwhile). keep_on(threads.ctx), when
// given, is asked between buckets: false sends the helper away, leaving what
// it has not begun to the thread it helps.
struct SortHelper {
    HelperThreads threads;
    Sorter* sorter;
    bool (*keep_on)(void* ctx) = nullptr;
};

// Sorts data[0, n), 1 <= n. Needs guard_bytes zero bytes in front of data,
// data[n] writable (sentinel) and index with n + 1 entries. On success the
// transformed block is left as bytes in ((uint8_t*)index)[0, n) and primary
// holds its primary index. Reports the sort's start and its end on progress.
// Fails only when a working table cannot be allocated. With a helper, one
// that starts in time takes part of the comparison sort.
[[nodiscard]] bool forward_transform(Sorter& s, uint8_t* data, int32_t n, int32_t* index, ProgressSink progress,
                                     int32_t& primary, const SortHelper* helper = nullptr);
