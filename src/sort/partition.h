// Three-way partition of a range of positions on a key computed per entry.
#pragma once

#include <cstdint>
#include <utility>

struct Partition {
    int32_t* lt;  // [first, lt): less than the pivot
    int32_t* gt;  // [lt, gt): equal; [gt, last): greater
};

// One pass; entries are swapped, never copied elsewhere.
template <typename Key, typename KeyOf>
inline Partition partition3(int32_t* first, int32_t* last, Key pivot, KeyOf key_of) {
    int32_t* lt = first;
    int32_t* i = first;
    int32_t* gt = last;
    while (i < gt) {
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
