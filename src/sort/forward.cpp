#include "sort/forward.h"

#include <bit>
#include <cstring>

#include "sort/bigram.h"
#include "sort/bucket_share.h"
#include "sort/bucket_sort.h"
#include "sort/context_sort.h"
#include "sort/repetition.h"
#include "sort/sort_tasks.h"
#include "sort/sorter.h"

namespace {

// How much comparison work a block may take, per byte, before it goes to the
// whole-block sort. Past the depth limit, text and binaries take a few units
// per byte and periodic data up to about 12; the budget is reached on data
// whose repetitions defeat the copying of order (long two-letter sequences
// without a period, a file repeated many times), where going on could cost
// time quadratic in the block. Before the limit every entry takes at most a
// few dozen units, so that budget is only reached through unlucky pivots.
constexpr uint64_t deep_work_per_byte = 24;
constexpr uint64_t shallow_work_per_byte = 64;
constexpr uint64_t work_floor = 1u << 20;

// The placing scans read data at the position of each row, a cache miss
// apiece; the byte this many rows ahead is asked for early. (A row not yet
// placed holds a stale position: its request is merely wasted.)
constexpr int32_t prefetch_rows = 16;

// Right to left: the upper buckets of each first-byte group (second byte
// above the first) are complete here; every position in them hands its
// successor, when that one's bucket lies in a lower or the same group, to the
// top of its bucket.
void place_from_the_right(Sorter& s) {
    const uint8_t* const data = s.data;
    int32_t* const index = s.index;
    int32_t* const fill = s.bigram_fill;
    for (int32_t c = 255; c >= 0; --c) {
        const int32_t e = fill[c * 257];
        for (int32_t j = s.bigram_start[(c + 1) * 256] - 1; j >= e; --j) {
            if (j >= prefetch_rows) __builtin_prefetch(data + index[j - prefetch_rows] + 1);
            const int32_t v = index[j];
            const int32_t next = data[v + 1];
            if (next <= c) index[--fill[next * 256 + c]] = v + 1;
        }
        // Bucket (c, c) feeds itself: rows it fills are scanned in turn.
        int32_t f = fill[c * 257];
        for (int32_t j = e - 1; j >= f; --j) {
            const int32_t v = index[j];
            if (data[v + 1] == c) index[--f] = v + 1;
        }
    }
}

// Left to right: every row hands its successor to the next free row of the
// successor's group while that group's lower part is being filled, and its
// transformed byte is written over the index array's own memory (byte j lies
// in an entry already read; every store goes above row j).
int32_t place_from_the_left(Sorter& s) {
    const uint8_t* const data = s.data;
    const int32_t n = s.n;
    int32_t* const index = s.index;
    uint8_t* const out = reinterpret_cast<uint8_t*>(index);
    int32_t primary = -1;
    for (int32_t j = 0; j < n; ++j) {
        if (j + prefetch_rows < n) __builtin_prefetch(data + index[j + prefetch_rows] + 1);
        const int32_t w = index[j] + 1;
        uint8_t sym;
        if (w == n) {
            primary = j;
            sym = data[0];
        } else {
            sym = data[w];
        }
        out[j] = sym;
        // Without a branch on whether the successor's group is still being
        // filled, which is hard to foresee: one not placed goes to the spare
        // entry at n, past every byte written.
        const int32_t to = s.group_start[sym];
        const bool take = (w < n) & (j < to);
        index[n + ((to - n) & -static_cast<int32_t>(take))] = w;
        s.group_start[sym] = to + take;
    }
    return primary;
}

// The output scan alone, for an index that already holds every row.
int32_t emit_rows(Sorter& s) {
    const uint8_t* const data = s.data;
    const int32_t n = s.n;
    const int32_t* const index = s.index;
    uint8_t* const out = reinterpret_cast<uint8_t*>(s.index);
    int32_t primary = -1;
    for (int32_t j = 0; j < n; ++j) {
        const int32_t w = index[j] + 1;
        if (w == n) primary = j;
        out[j] = w == n ? data[0] : data[w];
    }
    return primary;
}

}  // namespace

bool forward_transform(Sorter& s, uint8_t* data, int32_t n, int32_t* index, ProgressSink progress,
                       int32_t& primary, const SortHelper* helper) {
    progress_put(progress, ProgressEvent::sort_started);
    primary = -1;
    s.data = data;
    s.n = n;
    s.index = index;
    s.failed = false;
    s.over_budget = false;
    s.work = 0;
    s.work_budget = deep_work_per_byte * static_cast<uint64_t>(n) + work_floor;
    s.shallow_work = 0;
    s.shallow_work_budget = shallow_work_per_byte * static_cast<uint64_t>(n) + work_floor;

    bucket_block(s, data, n, index);
    repeat_state_init(s, n);
    const bool sorted = sort_buckets(s, helper);
    // Each bucket's fill back to its top for the induction, over the runs
    // laid out; other buckets begin and end where they lie already.
    for (int32_t h = 0; h < 256; ++h)
        for (uint32_t m = s.column_runs[h]; m != 0; m &= m - 1) {
            const int32_t k = h * 256 + std::countr_zero(m) * bucket_scan_run;
            std::memcpy(s.bigram_fill + k, s.bigram_start + k + 1, bucket_scan_run * sizeof(int32_t));
        }
    repeat_state_release(s);
    if (!sorted && !s.over_budget) return false;

    if (s.over_budget) {
        VORB_SORT_COUNT(s, context_sort_fallbacks);
        if (!sort_all_contexts(data, n, index)) return false;
        progress_put(progress, ProgressEvent::sort_ended);
        primary = emit_rows(s);
        return true;
    }

    progress_put(progress, ProgressEvent::sort_ended);
    data[n] = 255;
    place_from_the_right(s);
    primary = place_from_the_left(s);
    return true;
}
