// Everything one forward sort works on: the bigram tables, the current block,
// the repetition state and the work stack. One Sorter per thread that sorts;
// nothing here is shared between Sorters.
//
// Key bases are kept as offsets from the block start (always negative: the
// key word of position v at key base k covers data[v + k] .. data[v + k + 3]),
// so that deep key bases never form pointers outside the block buffer.
#pragma once

#include <cstddef>
#include <cstdint>

// A stretch where the keys at one distance were found equal (see
// cached_compare in repetition.h). high_end is a key index (offset from the block
// start) in the key at the higher index.
struct CacheEntry {
    int32_t high_end = 0;
    int32_t length = 0;
    int32_t distance = 0;
    uint8_t high_greater = 0;
    bool filled = false;  // filled in the current block
};

constexpr int cache_slots = 64;

// The sort runs from an explicit stack of these, so that no input can exhaust
// the call stack however deep its repetitions nest.
enum class SortStep : uint8_t {
    bucket_sort,  // one partition level of bucket_sort
    deep_sort,    // one partition level of deep_sort
    repeat_sort,  // a range agreeing past the depth limit
    record,       // enter a finished repeat_sort range into the group table
};

struct SortTask {
    int32_t* first;
    int32_t* last;
    int32_t key;             // key base, as an offset from the block start
    int32_t period_check;    // deep_sort: depth from which a periodic run is looked for
    SortStep step;
    bool may_split_to_limit;  // bucket_sort: not yet split to the depth limit
};

// How often each of the rarer paths ran, for studying the sort: counted only
// in a build with VORB_SORT_COUNTERS on (a CMake option), never consulted by
// the sort itself.
#ifdef VORB_SORT_COUNTERS
struct SortCounters {
    uint64_t repeat_sort_calls = 0;
    uint64_t repeat_lower_bucket = 0;       // copied from a lower bucket
    uint64_t repeat_finished_bucket = 0;    // copied from a finished bucket before the depth limit
    uint64_t repeat_forward = 0;            // copied from the positions after
    uint64_t repeat_forward_rejected = 0;   // bytes after differed or ran past the block
    uint64_t repeat_same_bucket = 0;        // middle copied from the current bucket
    uint64_t repeat_same_bucket_rejected = 0;  // partners not all final yet
    uint64_t repeat_partner_outside = 0;    // a partner fell outside the block
    uint64_t repeat_fallback = 0;           // no usable candidate
    uint64_t partner_order_calls = 0;
    uint64_t partner_walks_abandoned = 0;   // partners too thinly spread
    uint64_t split_on_pivot_calls = 0;
    uint64_t cached_compare_calls = 0;
    uint64_t cache_hits = 0;
    uint64_t deep_sort_calls = 0;
    uint64_t small_sort_tie_groups = 0;
    uint64_t period_run_sorts = 0;
    uint64_t context_sort_fallbacks = 0;    // blocks handed to the whole-block sort
};
#define VORB_SORT_COUNT(s, counter) (++(s).counters.counter)
#else
#define VORB_SORT_COUNT(s, counter) ((void)0)
#endif

struct Sorter {
    // Bigram buckets (see bigram.h).
    int32_t bigram_start[65537];
    int32_t bigram_fill[65536];
    int32_t group_start[256];
    // Per first-byte group, the runs of second bytes laid out (bit r: from
    // r * bucket_scan_run on; see bigram.h).
    uint16_t column_runs[256];
    uint32_t current_bucket = 0;

    // The block being sorted.
    uint8_t* data = nullptr;
    int32_t n = 0;
    int32_t* index = nullptr;

    // Per bigram bucket: this sorter has sorted it in the current block, so
    // its rows are final and their order may be copied (see repetition.h).
    uint64_t finished_buckets[65536 / 64];

    // Repetition state (see repetition.h); the group table lives for one block.
    uint8_t* group_offset = nullptr;
    int32_t** group_slot = nullptr;
    uint64_t* final_bits = nullptr;   // per position: its row is final
    uint64_t* member_bits = nullptr;  // per position: in the range order_by_partners orders
    int32_t group_count = 0;
    bool group_table_allocated = false;

    // Compare cache (see repetition.h).
    CacheEntry cache_base;
    CacheEntry cache[cache_slots];
    int cache_used = 0;

    // Work stack, and scratch space of the periodic-run sort and of the
    // mid-sized ranges sorted on their key words (only ever within one step).
    SortTask* tasks = nullptr;
    size_t task_count = 0;
    size_t task_capacity = 0;
    uint64_t* scratch = nullptr;
    size_t scratch_capacity = 0;

    // Work done on the block by comparison (entries partitioned, words
    // compared, slots walked), above and below the depth limit; past either
    // budget the block is sorted by the whole-block sort instead, which bounds
    // the time of any input.
    uint64_t work = 0;
    uint64_t work_budget = 0;
    uint64_t shallow_work = 0;
    uint64_t shallow_work_budget = 0;
    bool over_budget = false;

    bool failed = false;  // a working table could not be allocated

#ifdef VORB_SORT_COUNTERS
    SortCounters counters;
#endif
};
