#include "sort/period_run.h"

#include <algorithm>
#include <climits>

#include "sort/bucket_sort.h"
#include "sort/keys.h"
#include "sort/sort_tasks.h"

namespace {

// Sort key of an entry: downward breaks first by length ascending, then
// upward breaks by length descending.
uint32_t break_rank(bool upward, int32_t length) {
    return upward ? 0x80000000u | static_cast<uint32_t>(INT32_MAX - length) : static_cast<uint32_t>(length);
}

}  // namespace

bool period_run_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key, int32_t& retry_depth) {
    const size_t count = static_cast<size_t>(last - first);
    uint64_t* const keys = sort_scratch(s, count);
    if (!keys) {
        s.failed = true;
        return true;
    }
    for (size_t i = 0; i < count; ++i) keys[i] = static_cast<uint32_t>(first[i]);
    std::sort(keys, keys + count);

    const int32_t agreed = key_depth(key) - 3;
    int64_t gap = INT64_MAX;
    for (size_t i = 1; i < count; ++i) gap = std::min<int64_t>(gap, static_cast<int64_t>(keys[i] - keys[i - 1]));
    if (2 * gap > agreed) {
        retry_depth = static_cast<int32_t>(std::min<int64_t>(2 * gap + 3, INT32_MAX));
        return false;
    }
    const int32_t q = static_cast<int32_t>(gap);
    VORB_SORT_COUNT(s, period_run_sorts);
    s.work += 2 * count;

    // The period breaks for x at the highest index i <= x - q with
    // data[i] != data[i + q]; for i in (x - agreed, x - q] it holds already.
    // Entries are taken in ascending position, so the scan of one stops where
    // the previous entry's known stretch begins.
    int32_t prev = 0;
    int32_t prev_break = 0;
    bool have_prev = false;
    for (size_t i = 0; i < count; ++i) {
        const int32_t x = static_cast<int32_t>(keys[i]);
        int32_t j = x - agreed;
        int32_t brk;
        if (have_prev && j <= prev - q) {
            brk = prev_break;
        } else {
            // Without a previous entry the scan ends at the latest where the
            // zeros in front of the block begin (it cannot get there: a
            // context of a sorted position is not periodic into the zeros).
            const int32_t stop = have_prev ? prev - q : -q - 1;
            const int32_t from = j;
            while (j > stop && context_byte(s, j) == context_byte(s, j + q)) --j;
            s.work += static_cast<uint64_t>(from - j);
            brk = (j == stop && have_prev) ? prev_break : j;
        }
        const int32_t length = x - brk;
        const bool upward = context_byte(s, brk) > context_byte(s, brk + q);
        keys[i] = uint64_t{break_rank(upward, length)} << 32 | static_cast<uint32_t>(x);
        prev = x;
        prev_break = brk;
        have_prev = true;
    }
    std::sort(keys, keys + count);

    for (size_t i = 0; i < count; ++i) first[i] = static_cast<int32_t>(keys[i] & 0xffffffffu);
    for (size_t g = 0; g < count;) {
        size_t end = g + 1;
        while (end < count && (keys[end] >> 32) == (keys[g] >> 32)) ++end;
        const uint32_t rank = static_cast<uint32_t>(keys[g] >> 32);
        const int32_t length =
            (rank & 0x80000000u) ? INT32_MAX - static_cast<int32_t>(rank & 0x7fffffffu) : static_cast<int32_t>(rank);
        // The group agrees on `length` bytes; its next word starts there.
        deep_sort(s, first + g, first + end, -(length + 3));
        g = end;
    }
    return true;
}
