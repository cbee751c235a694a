// Three-way partition of a range of positions on a key computed per entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

struct Partition {
    int32_t* lt;  // [first, lt): less than the pivot
    int32_t* gt;  // [lt, gt): equal; [gt, last): greater
};

// Nothing asked for ahead.
struct NoFetch {
    void operator()(int32_t) const {}
};

// Entries whose key the pass reads this far ahead are asked for early, from
// both ends: the entry taken next is the one after, or the one in front of
// the greater part when the current one joins it.
constexpr ptrdiff_t fetch_ahead = 8;

// One pass; entries are swapped, never copied elsewhere. fetch(v) may ask
// for what key_of(v) will read: the outcome of each compare is a coin flip
// on mixed ranges, and a mispredicted one leaves the next read to wait.
template <typename Key, typename KeyOf, typename Fetch = NoFetch>
inline Partition partition3(int32_t* first, int32_t* last, Key pivot, KeyOf key_of, Fetch fetch = {}) {
    int32_t* lt = first;
    int32_t* i = first;
    int32_t* gt = last;
    while (i < gt) {
        if (gt - i > 2 * fetch_ahead) {
            fetch(i[fetch_ahead]);
            fetch(gt[-fetch_ahead]);
        }
        const Key k = key_of(*i);
        if (k < pivot) {
            std::swap(*i, *lt);
            ++lt;
            ++i;
        } else if (k > pivot) {
            --gt;
            std::swap(*i, *gt);
        } else {
            ++i;
        }
    }
    return {lt, gt};
}
