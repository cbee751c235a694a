#include "sort/bucket_share.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <mutex>

#include "sort/bigram.h"
#include "sort/bucket_sort.h"
#include "sort/repetition.h"
#include "sort/sort_tasks.h"

namespace {

constexpr uint32_t bucket_count = 65536;

// A helper takes at least this many entries, else it leaves the rest alone:
// below it, setting up its sorter costs about what it would save.
constexpr int64_t min_helper_entries = 1 << 14;

int32_t selected(const Sorter& s, uint32_t k) { return s.bigram_fill[k] - s.bigram_start[k]; }

// Whether bucket k begins a first-byte group that holds no position: its 256
// buckets are passed over at once (a small block leaves most groups empty).
bool empty_group_at(const Sorter& s, uint32_t k) {
    return (k & 255) == 0 && s.bigram_start[k] == s.bigram_start[k + 256];
}

// Whether a bucket of the run from k holds two selected positions or more.
// A lone sorter looks at bucket_scan_run buckets together: most of a small
// block's buckets hold fewer, and telling that for a run of them at once
// takes a few vector operations.
bool run_has_work(const Sorter& s, uint32_t k) {
    int32_t any = 0;
    for (int32_t j = 0; j < bucket_scan_run; ++j) any |= static_cast<int32_t>(selected(s, k + j) >= 2);
    return any != 0;
}

bool sort_bucket(Sorter& s, uint32_t k) {
    s.current_bucket = k;
    bucket_sort(s, s.index + s.bigram_start[k], s.index + s.bigram_fill[k], -5);
    run_sort_tasks(s);
    s.finished_buckets[k >> 6] |= uint64_t{1} << (k & 63);
    return !s.failed && !s.over_budget;
}

// The buckets [lo, hi) one sorter has yet to begin, in one word: the sorter
// takes them one at a time from the bottom, in ascending order, and the
// other sorter may cut a part off the top. Each sorter copies order only from
// buckets it has finished itself (the repetition handling relies on them
// being final), so the two can share a block's buckets this way.
using Span = std::atomic<uint64_t>;
uint64_t span_of(uint32_t lo, uint32_t hi) { return lo | uint64_t{hi} << 32; }
uint32_t span_lo(uint64_t w) { return static_cast<uint32_t>(w); }
uint32_t span_hi(uint64_t w) { return static_cast<uint32_t>(w >> 32); }

// The next bucket of the span with anything to sort, now taken; bucket_count
// when none is left.
uint32_t take_bucket(const Sorter& s, Span& own) {
    uint64_t w = own.load(std::memory_order_acquire);
    for (;;) {
        uint32_t k = span_lo(w);
        const uint32_t hi = span_hi(w);
        while (k < hi && selected(s, k) < 2) k += k + 256 <= hi && empty_group_at(s, k) ? 256 : 1;
        const uint32_t next = k < hi ? k + 1 : hi;
        if (own.compare_exchange_weak(w, span_of(next, hi), std::memory_order_acq_rel))
            return k < hi ? k : bucket_count;
    }
}

// Moves the top half of from's entries (all of them, when fewer than
// twice the minimum and all is true) into the empty span into. Cuts take
// turns: a sorter that finds the other's span empty knows no cut is halfway.
bool cut_span(const Sorter& s, Span& from, Span& into, bool all, std::mutex& cutting) {
    std::lock_guard lock(cutting);
    uint64_t w = from.load(std::memory_order_acquire);
    for (;;) {
        const uint32_t lo = span_lo(w), hi = span_hi(w);
        // Only blocks that lay out every bucket come here (see sort_buckets).
        int64_t total = 0;
        for (uint32_t k = lo; k < hi; ++k) total += selected(s, k);
        if (total == 0 || (total < 2 * min_helper_entries && !all)) return false;
        uint32_t cut = lo;
        if (total >= 2 * min_helper_entries) {
            int64_t upper = 0;
            for (cut = hi; 2 * upper < total;) upper += selected(s, --cut);
        }
        if (from.compare_exchange_weak(w, span_of(lo, cut), std::memory_order_acq_rel)) {
            into.store(span_of(cut, hi), std::memory_order_release);
            return true;
        }
    }
}

struct BucketShare {
    Sorter* owner;
    const SortHelper* helper;
    Span owner_span{span_of(0, bucket_count)};
    Span helper_span{span_of(bucket_count, bucket_count)};
    std::mutex cutting{};
    std::atomic<bool> abandon{false};  // the owner has failed: stop
    // Written by the helper, read once it has been dismissed.
    bool helper_failed = false;
    bool helper_over_budget = false;
};

// Sorts the span's buckets, and then, on the owner's side, what it can cut
// from the helper's, until both are empty; false when the sorter failed.
bool work_spans(Sorter& s, Span& own, Span* theirs, BucketShare& b, bool helper) {
    for (;;) {
        if (helper && (b.abandon.load(std::memory_order_relaxed) ||
                       (b.helper->keep_on && !b.helper->keep_on(b.helper->threads.ctx))))
            return true;
        const uint32_t k = take_bucket(s, own);
        if (k != bucket_count) {
            if (!sort_bucket(s, k)) return false;
        } else if (!theirs || !cut_span(s, *theirs, own, true, b.cutting)) {
            return true;
        }
    }
}

void helper_sorts(void* arg) {
    BucketShare& b = *static_cast<BucketShare*>(arg);
    const Sorter& o = *b.owner;
    if (!cut_span(o, b.owner_span, b.helper_span, false, b.cutting)) return;
    Sorter& h = *b.helper->sorter;
    std::memcpy(h.bigram_start, o.bigram_start, sizeof h.bigram_start);
    std::memcpy(h.bigram_fill, o.bigram_fill, sizeof h.bigram_fill);
    h.data = o.data;
    h.n = o.n;
    h.index = o.index;
    h.failed = h.over_budget = false;
    h.work = h.shallow_work = 0;
    h.work_budget = o.work_budget;
    h.shallow_work_budget = o.shallow_work_budget;
    repeat_state_init(h, o.n);
    work_spans(h, b.helper_span, nullptr, b, true);
    b.helper_failed = h.failed;
    b.helper_over_budget = h.over_budget;
    repeat_state_release(h);
}

}  // namespace

bool sort_buckets(Sorter& s, const SortHelper* helper) {
    // A small block is sorted alone: at most half its positions are
    // selected, too few for a helper to take a share, and the shared path
    // reads columns such a block does not lay out.
    static_assert(find_runs_below / 2 <= 2 * min_helper_entries);
    if (!helper || s.n < find_runs_below) {
        for (uint32_t h = 0; h < 256; ++h)
            for (uint32_t m = s.column_runs[h]; m != 0; m &= m - 1) {
                const uint32_t run = h * 256 + std::countr_zero(m) * bucket_scan_run;
                if (!run_has_work(s, run)) continue;
                for (uint32_t k = run; k < run + bucket_scan_run; ++k)
                    if (selected(s, k) >= 2 && !sort_bucket(s, k)) return false;
            }
        return true;
    }
    BucketShare b{&s, helper};
    helper->threads.invite(helper->threads.ctx, helper_sorts, &b);
    const bool done = work_spans(s, b.owner_span, &b.helper_span, b, false);
    if (!done) b.abandon.store(true, std::memory_order_relaxed);
    helper->threads.dismiss(helper->threads.ctx);
    if (!done) return false;
    // A helper's failure is the block's: past its budget (its part alone
    // cost more than the whole block may) the whole-block sort takes over.
    s.failed = b.helper_failed;
    s.over_budget = b.helper_over_budget;
    return !s.failed && !s.over_budget;
}
