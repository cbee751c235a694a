#include "sort/bucket_sort.h"

#include <algorithm>
#include <cstring>

#include "sort/repetition.h"
#include "sort/keys.h"
#include "sort/partition.h"
#include "sort/period_run.h"
#include "sort/sort_tasks.h"

namespace {

// deep_sort looks for a periodic run this many bytes after it starts on a
// range, and again each time the depth has doubled since the last look.
constexpr int32_t period_check_delay = 64;

// Ranges of at least this many entries that hardly split are compared to the
// depth limit at once.
constexpr ptrdiff_t split_to_limit_from = 32;

// Ranges of at most this many entries are sorted on their key words in
// scratch space (two arrays of 16 bytes an entry, so at most 512 KiB); larger
// ones are partitioned down to it. From radix_from entries on that sort goes
// by bytes instead of by comparisons.
constexpr ptrdiff_t word_sort_max = 1 << 14;
constexpr size_t radix_from = 512;

// Ranges going deeper from this many entries on first look for a finished
// bucket to copy their order from (see repetition.h); for smaller ones
// sorting on costs less than the look.
constexpr ptrdiff_t copy_from = 16;

// Bytes compared at once when a deep range keeps agreeing.
constexpr int32_t agreeing_stride = 256;

// Schedules the outer parts of a partition for bucket_sort at the same key
// base, the smaller one on top so that it runs first (which keeps the stack
// shallow); single entries are final as they stand.
void schedule_outer(Sorter& s, int32_t* first, Partition p, int32_t* last, int32_t key, bool may_split_to_limit) {
    struct Part {
        int32_t* first;
        int32_t* last;
    };
    Part a{first, p.lt};
    Part b{p.gt, last};
    if (a.last - a.first < b.last - b.first) std::swap(a, b);
    for (const Part& part : {a, b}) {
        if (part.last - part.first >= 2)
            schedule(s, SortStep::bucket_sort, part.first, part.last, key, 0, may_split_to_limit);
        else
            settle(s, part.first, part.last);
    }
}

// Work on key bases within the depth limit is bounded by the limit itself
// (but for unlucky pivots); past it, it is what repetitions cost. The two are
// budgeted apart.
void count_work(Sorter& s, int32_t key, uint64_t amount) {
    if (key_depth(key) > depth_limit)
        s.work += amount;
    else
        s.shallow_work += amount;
}

// small_sort's comparison: -1, 0 or 1 as r's context is below, equal to (over
// small_sort_words words) or above a's.
int compare_words(Sorter& s, int32_t r, int32_t a, int32_t key) {
    // Two words at a time while both lie in the block.
    static_assert(small_sort_words % 2 == 0);
    if (std::min(r, a) + key - 4 * small_sort_words >= 0) {
        for (int32_t w = 0; w < small_sort_words; w += 2) {
            uint64_t x;
            uint64_t y;
            std::memcpy(&x, s.data + r + key - 4 * w - 4, sizeof x);
            std::memcpy(&y, s.data + a + key - 4 * w - 4, sizeof y);
            if (x != y) {
                // Counted as the word-by-word comparison would count it.
                count_work(s, key, static_cast<uint64_t>(w) + ((x ^ y) >> 32 ? 1 : 2));
                return x < y ? -1 : 1;
            }
        }
        count_work(s, key, small_sort_words);
        return 0;
    }
    for (int32_t w = 0; w < small_sort_words; ++w) {
        const uint32_t x = key_word(s, r + key - 4 * w);
        const uint32_t y = key_word(s, a + key - 4 * w);
        if (x != y) {
            count_work(s, key, static_cast<uint64_t>(w) + 1);
            return x < y ? -1 : 1;
        }
    }
    count_work(s, key, small_sort_words);
    return 0;
}

// Order of the contexts of x and y over their bytes from known up to (not
// including) the depth limit: -1, 0 or 1. Eight bytes at a time where both
// lie inside the block: read little-endian, the byte nearer the position is
// the more significant, as in a key word.
int compare_to_limit(const Sorter& s, int32_t x, int32_t y, int32_t known) {
    int32_t t = known;
    for (; t + 8 <= depth_limit && x - t - 7 >= 0 && y - t - 7 >= 0; t += 8) {
        uint64_t a;
        uint64_t b;
        std::memcpy(&a, s.data + x - t - 7, sizeof a);
        std::memcpy(&b, s.data + y - t - 7, sizeof b);
        if (a != b) return a < b ? -1 : 1;
    }
    for (; t < depth_limit; ++t) {
        const uint8_t a = context_byte(s, x - t);
        const uint8_t b = context_byte(s, y - t);
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

// A range that hardly split at its last word is likely a repetition: it is
// split three ways against one entry over all bytes down to the depth limit
// at once. The entries equal to it there go to the repetition handling with
// the key base the word-by-word descent would have reached; the others go on
// word by word, and never split this way again (so that no entry is compared
// to the limit more than once).
void split_to_limit(Sorter& s, int32_t* first, int32_t* last, int32_t key) {
    const int32_t known = key_depth(key) - 3;
    const int32_t pivot = first[(last - first) / 2];
    const Partition p = partition3(first, last, 0, [&](int32_t v) { return compare_to_limit(s, v, pivot, known); });
    count_work(s, key, static_cast<uint64_t>(last - first) * 4);
    repeat_sort(s, p.lt, p.gt, -(depth_limit + 3));
    schedule_outer(s, first, p, last, key, false);
}

// Moves the key base of a range whose contexts all agree above it further
// in front, in strides of agreeing_stride bytes compared with memcmp, while
// every context agrees with the first one over the whole stride (and the
// stride lies inside the block for all of them).
int32_t skip_agreeing(Sorter& s, const int32_t* first, const int32_t* last, int32_t key) {
    for (;;) {
        const int32_t known = key_depth(key) - 3;  // context bytes known equal
        const int32_t pivot_from = first[0] - known - agreeing_stride + 1;
        if (pivot_from < 0) return key;
        for (const int32_t* p = first + 1; p < last; ++p) {
            const int32_t from = *p - known - agreeing_stride + 1;
            if (from < 0 || std::memcmp(s.data + from, s.data + pivot_from, agreeing_stride) != 0) {
                s.work += static_cast<uint64_t>(p - first);
                return key;
            }
        }
        s.work += static_cast<uint64_t>(last - first);
        key -= agreeing_stride;
    }
}

// deep_sort's small ranges: straight insertion through the compare cache.
void insertion_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key) {
    for (int32_t* next = first + 1; next < last; ++next) {
        const int32_t a = *next;
        int32_t* hole = next;
        while (hole > first && cached_compare(s, key + hole[-1], key + a)) {
            *hole = hole[-1];
            --hole;
        }
        *hole = a;
    }
    settle(s, first, last);
}

// The key words at offsets i and i - 4 as one number, the first one high, so
// that numbers order as the contexts do over those eight bytes.
uint64_t key_pair(const Sorter& s, int32_t i) {
    if (i < 4) return uint64_t{key_word(s, i)} << 32 | key_word(s, i - 4);
    uint64_t w;
    std::memcpy(&w, s.data + i - 4, sizeof w);
    return w;
}

struct KeyedEntry {
    uint64_t pair;
    int32_t position;
};

// Least significant byte first over the bytes of the pairs that are not the
// same in every entry (the bits set in varying): one pass per such byte,
// each counting the next one's values as it goes. a and b hold count entries
// each. Returns the one that holds the sorted entries.
KeyedEntry* radix_sort(KeyedEntry* a, KeyedEntry* b, size_t count, uint64_t varying) {
    size_t counts[2][256];
    int shift[8];
    int passes = 0;
    for (int d = 0; d < 8; ++d)
        if ((varying >> (8 * d)) & 255) shift[passes++] = 8 * d;
    if (passes == 0) return a;
    std::memset(counts[0], 0, sizeof counts[0]);
    for (size_t i = 0; i < count; ++i) ++counts[0][(a[i].pair >> shift[0]) & 255];
    for (int k = 0; k < passes; ++k) {
        size_t* const c = counts[k & 1];
        size_t* const next = counts[(k + 1) & 1];
        size_t sum = 0;
        for (int v = 0; v < 256; ++v) {
            const size_t t = c[v];
            c[v] = sum;
            sum += t;
        }
        const int at = shift[k];
        if (k + 1 < passes) {
            const int then = shift[k + 1];
            std::memset(next, 0, sizeof counts[0]);
            for (size_t i = 0; i < count; ++i) {
                const uint64_t pair = a[i].pair;
                ++next[(pair >> then) & 255];
                b[c[(pair >> at) & 255]++] = a[i];
            }
        } else {
            for (size_t i = 0; i < count; ++i) b[c[(a[i].pair >> at) & 255]++] = a[i];
        }
        std::swap(a, b);
    }
    return a;
}

// Sorts [first, last) on two key words at one go: each entry's eight bytes
// are read once into scratch (entries has room for 2 * count) and sorted
// there, where a partition level reads every entry's word again at each
// level. Entries equal over both words go on two words deeper; near the depth
// limit only one word is taken, so that the repetition handling gets the key
// base the word-by-word descent gives. Runs are handed on in row order.
void sort_on_words(Sorter& s, int32_t* first, int32_t* last, int32_t key, bool may_split_to_limit,
                   KeyedEntry* entries) {
    const size_t count = static_cast<size_t>(last - first);
    const bool two_words = key_depth(key - 4) <= depth_limit;
    const int32_t deeper = two_words ? key - 8 : key - 4;
    const int shift = two_words ? 0 : 32;
    uint64_t varying = 0;  // the bits that differ between the first entry and any other
    for (size_t i = 0; i < count; ++i) {
        entries[i] = KeyedEntry{key_pair(s, first[i] + key) >> shift, first[i]};
        varying |= entries[i].pair ^ entries[0].pair;
    }
    if (count < radix_from)
        std::sort(entries, entries + count, [](const KeyedEntry& a, const KeyedEntry& b) { return a.pair < b.pair; });
    else
        entries = radix_sort(entries, entries + count, count, varying);
    for (size_t i = 0; i < count; ++i) first[i] = entries[i].position;

    const bool past_limit = key_depth(deeper) > depth_limit;
    // Last run first: the stack then runs them in row order.
    size_t end = count;
    while (end > 0) {
        const uint64_t pair = entries[end - 1].pair;
        size_t begin = end - 1;
        while (begin > 0 && entries[begin - 1].pair == pair) --begin;
        int32_t* const run_first = first + begin;
        int32_t* const run_last = first + end;
        const size_t run = end - begin;
        if (run < 2) {
            settle(s, run_first, run_last);
        } else if (past_limit) {
            repeat_sort(s, run_first, run_last, deeper);
        } else if (run >= static_cast<size_t>(copy_from) &&
                   copy_from_finished_bucket(s, run_first, run_last, key_depth(deeper) - 3)) {
            // Ordered as its partners are.
        } else if (may_split_to_limit && run >= static_cast<size_t>(split_to_limit_from) && run >= count - count / 8) {
            split_to_limit(s, run_first, run_last, deeper);
        } else if (run <= static_cast<size_t>(small_range)) {
            // What the scheduled step would do, done now: fewer tasks.
            count_work(s, deeper, run);
            small_sort(s, run_first, run_last, deeper);
        } else {
            bucket_sort(s, run_first, run_last, deeper, may_split_to_limit);
        }
        end = begin;
    }
}

}  // namespace

int32_t median_of_three(const Sorter& s, int32_t i, int32_t j, int32_t k, int32_t key) {
    const uint32_t x = key_word(s, i + key);
    const uint32_t y = key_word(s, j + key);
    const uint32_t z = key_word(s, k + key);
    if (x > y) {
        if (x < z) return i;
        return y > z ? j : k;
    }
    if (y < z) return j;
    return x > z ? i : k;
}

void bucket_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key, bool may_split_to_limit) {
    if (last - first >= 2)
        schedule(s, SortStep::bucket_sort, first, last, key, 0, may_split_to_limit);
    else
        settle(s, first, last);
}

void deep_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key) {
    if (last - first < 2) {
        settle(s, first, last);
        return;
    }
    VORB_SORT_COUNT(s, deep_sort_calls);
    schedule(s, SortStep::deep_sort, first, last, key, key_depth(key) + period_check_delay);
}

void bucket_sort_level(Sorter& s, const SortTask& task) {
    int32_t* const first = task.first;
    int32_t* const last = task.last;
    const int32_t key = task.key;
    const ptrdiff_t count = last - first;
    count_work(s, key, static_cast<uint64_t>(count));
    if (count <= small_range) {
        if (count >= 2)
            small_sort(s, first, last, key);
        else
            settle(s, first, last);
        return;
    }
    if (count <= word_sort_max) {
        // Room for the radix sort's second array.
        uint64_t* const scratch = sort_scratch(s, 4 * static_cast<size_t>(count));
        if (scratch) {
            sort_on_words(s, first, last, key, task.may_split_to_limit, reinterpret_cast<KeyedEntry*>(scratch));
            return;
        }
    }
    const int32_t pivot_pos = median_of_three(s, first[0], first[count / 2], last[-1], key);
    const uint32_t pivot = key_word(s, pivot_pos + key);
    const Partition p = partition3(
        first, last, pivot, [&](int32_t v) { return key_word(s, v + key); },
        [&](int32_t v) { __builtin_prefetch(s.data + v + key); });

    // The equal part goes one word deeper; past the depth limit it is a
    // repetition, whatever its size.
    const int32_t deeper = key - 4;
    const ptrdiff_t equal = p.gt - p.lt;
    if (key_depth(deeper) > depth_limit)
        repeat_sort(s, p.lt, p.gt, deeper);
    else if (equal >= copy_from && copy_from_finished_bucket(s, p.lt, p.gt, key_depth(deeper) - 3))
        ;  // ordered as its partners are
    else if (task.may_split_to_limit && equal >= split_to_limit_from && equal >= count - count / 8)
        split_to_limit(s, p.lt, p.gt, deeper);
    else
        bucket_sort(s, p.lt, p.gt, deeper, task.may_split_to_limit);
    schedule_outer(s, first, p, last, key, task.may_split_to_limit);
}

void small_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key) {
    // Insertion with tie marks: an entry equal to the one after it is stored
    // complemented, so a group of equal entries moves as one and is never
    // compared again.
    int32_t ties = 0;
    for (int32_t* next = first + 1; next < last; ++next) {
        const int32_t a = *next;
        int32_t* hole = next;
        for (;;) {
            if (hole == first) {
                *hole = a;
                break;
            }
            const int32_t r = hole[-1];
            const int c = compare_words(s, r, a, key);
            if (c < 0) {
                *hole = a;
                break;
            }
            if (c == 0) {
                hole[-1] = ~r;
                ++ties;
                *hole = a;
                break;
            }
            *hole = r;
            --hole;
            while (hole > first && hole[-1] < 0) {
                *hole = hole[-1];
                --hole;
            }
        }
    }
    if (ties == 0) {
        settle(s, first, last);
        return;
    }

    // Unmark every group before any of them is handed on: a later group's
    // marks must not be in the index while an earlier one copies its order
    // from this bucket.
    struct Group {
        int32_t* first;
        int32_t* last;
    };
    Group groups[small_range / 2];
    int group_count = 0;
    for (int32_t* p = first; p < last;) {
        if (*p >= 0) {
            settle(s, p, p + 1);
            ++p;
            continue;
        }
        int32_t* const start = p;
        while (*p < 0) {
            *p = ~*p;
            ++p;
        }
        ++p;  // the unmarked entry that closes the group
        groups[group_count++] = Group{start, p};
    }
    // Scheduled in reverse so that they run in row order.
    for (int g = group_count - 1; g >= 0; --g) {
        VORB_SORT_COUNT(s, small_sort_tie_groups);
        repeat_sort(s, groups[g].first, groups[g].last, key - depth_limit);
    }
}

void deep_sort_level(Sorter& s, const SortTask& task) {
    int32_t* const first = task.first;
    int32_t* const last = task.last;
    const int32_t key = task.key;
    const ptrdiff_t count = last - first;
    s.work += static_cast<uint64_t>(count);
    if (count <= small_range) {
        insertion_sort(s, first, last, key);
        return;
    }

    // Each look costs a sort of the range by position, so the next one waits
    // until the depth has doubled and could show the closest entries' gap to
    // be a period.
    int32_t period_check = task.period_check;
    if (key_depth(key) >= period_check) {
        int32_t retry_depth = 0;
        if (period_run_sort(s, first, last, key, retry_depth)) return;
        period_check = std::max(2 * key_depth(key), retry_depth);
    }

    // Keys are pairs of words: eight context bytes per level.
    const int32_t pivot_pos = median_of_three(s, first[0], first[count / 2], last[-1], key);
    const auto pair_at = [&](int32_t v) {
        return uint64_t{key_word(s, v + key)} << 32 | key_word(s, v + key - 4);
    };
    const Partition p = partition3(first, last, pair_at(pivot_pos), pair_at);

    if (p.gt - p.lt >= 2) {
        // A range that did not split at all may be a long repetition: see
        // how far it keeps agreeing before going on eight bytes at a time.
        const int32_t deeper = p.lt == first && p.gt == last ? skip_agreeing(s, first, last, key - 8) : key - 8;
        schedule(s, SortStep::deep_sort, p.lt, p.gt, deeper, period_check);
    } else {
        settle(s, p.lt, p.gt);
    }
    schedule_outer(s, first, p, last, key, false);
}
