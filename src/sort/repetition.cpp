#include "sort/repetition.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "sort/bigram.h"
#include "sort/bucket_sort.h"
#include "sort/keys.h"
#include "sort/partition.h"
#include "sort/sort_tasks.h"

namespace {

// Three-way comparison of two positions by value (for sorting and searching
// arrays of positions).
int compare_positions(const void* a, const void* b) {
    const int32_t x = *static_cast<const int32_t*>(a);
    const int32_t y = *static_cast<const int32_t*>(b);
    return (x > y) - (x < y);
}

// Allocates the zeroed group table (and the final-row marks that go with it);
// false when memory is short.
[[nodiscard]] bool group_table_alloc(Sorter& s);

// The period sort: orders [first, last) like its partners x - a (a small,
// not 0), which must all be final rows of one bucket's sorted stretch, one of
// them in start_slot. Returns false, with the range's entries in some order,
// when the partners lie too thinly in the stretch to be worth walking to.
bool order_by_partners(Sorter& s, int32_t* first, int32_t* last, int32_t a, int32_t* start_slot);

// Narrows [first, last) to the entries that agree with x = d + c on the next
// ceil(c / 4) key words; entries split off lie before (less) or after
// (greater) the middle. key is the middle's key base after the passes.
struct Split {
    int32_t* mid;
    int32_t* mid_end;
    int32_t key;
};
Split split_on_pivot(Sorter& s, int32_t* first, int32_t* last, int32_t key, int32_t c, int32_t d);

// Slots of the sorted stretch of position v's bucket: its first row and the
// row of its last selected position.
struct SlotRange {
    int32_t* lo;
    int32_t* hi;
};
SlotRange bucket_range(const Sorter& s, int32_t v);

// Whether data[x + k] equals data[y + k]; both must lie in the block.
bool bytes_agree(const Sorter& s, int32_t x, int32_t y, int32_t k);

// Partners are looked for at most this far from a range's positions: a
// recorded position is always this near the entries of its own group, and the
// copy holds for any offset within the context the range is known to share
// (more than depth_limit bytes; a few more must stay for the bucket bytes).
constexpr int32_t max_offset = 128;
static_assert(max_offset + 3 <= depth_limit);

// compare_positions as an ordering the standard algorithms can inline.
constexpr auto position_less = [](int32_t a, int32_t b) { return compare_positions(&a, &b) < 0; };

// copy_from_finished_bucket looks for partners at most this far in front of
// a range (nearer ones are likelier to lie in a bucket already finished, and
// each look costs a few table reads), and scans at most this many of a
// bucket's rows per entry of the range.
constexpr int32_t finished_offset_max = 16;
constexpr ptrdiff_t finished_scan_per_entry = 32;

// Ranges from this size on are looked up in a bit set over the positions
// rather than by binary search, which would cost more than the walk itself.
constexpr ptrdiff_t member_bits_from = 64;

// order_by_partners gives up after walking this many slots per entry (plus a
// few).
constexpr ptrdiff_t walk_slots_per_entry = 8;
constexpr ptrdiff_t walk_slots_extra = 1024;

// Whether position v is marked in member_bits.
bool is_member(const Sorter& s, int32_t v) {
    if (v < 0 || v >= s.n) return false;
    return (s.member_bits[static_cast<uint32_t>(v) >> 6] >> (v & 63)) & 1;
}

// Whether position v is an entry of [first, last): the range is either sorted
// by position (small) or marked in member_bits (large).
bool holds_position(const Sorter& s, const int32_t* first, const int32_t* last, int32_t v) {
    if (last - first < member_bits_from) return std::binary_search(first, last, v, position_less);
    return is_member(s, v);
}

// Flips the member bits of the range's positions (on before the walk, off
// after it).
void flip_members(Sorter& s, const int32_t* first, const int32_t* last) {
    for (const int32_t* p = first; p < last; ++p)
        s.member_bits[static_cast<uint32_t>(*p) >> 6] ^= uint64_t{1} << (*p & 63);
}

// The nearest recorded positions of a range, by kind: in a lower bucket in
// front of an entry (b) or behind or at it (a), or in the current bucket in
// front of it (c). The first entry in range order wins among equal offsets.
struct Candidates {
    int32_t best_a = INT32_MIN;
    int32_t best_b = INT32_MAX;
    int32_t best_c = INT32_MAX;
    int32_t* slot_a = nullptr;
    int32_t* slot_b = nullptr;
    int32_t* slot_c = nullptr;
};

Candidates scan_candidates(const Sorter& s, const int32_t* first, const int32_t* last) {
    Candidates c;
    const uint32_t current = s.current_bucket & 0xffff;
    for (const int32_t* p = first; p < last; ++p) {
        const int32_t x = *p;
        const int32_t g = x >> 7;
        int32_t* const slot = s.group_slot[g];
        if (!slot) continue;
        const int32_t d = (g << 7) + s.group_offset[g];
        const int32_t e = x - d;
        if (bucket_of(s, d) == current) {
            if (e > 0 && e < c.best_c) {
                c.best_c = e;
                c.slot_c = slot;
            }
        } else if (e > 0) {
            if (e < c.best_b) {
                c.best_b = e;
                c.slot_b = slot;
            }
        } else if (e > c.best_a) {
            c.best_a = e;
            c.slot_a = slot;
        }
    }
    return c;
}

int32_t lowest_position(const int32_t* first, const int32_t* last) { return *std::min_element(first, last); }
int32_t highest_position(const int32_t* first, const int32_t* last) { return *std::max_element(first, last); }

// The sorted range goes into the group table once its sort has finished.
void fall_back(Sorter& s, int32_t* first, int32_t* last, int32_t key) {
    schedule(s, SortStep::record, first, last, key);
    deep_sort(s, first, last, key);
}

// Copies the partners' order; a walk that gives up leaves the range to deep_sort.
void copy_or_fall_back(Sorter& s, int32_t* first, int32_t* last, int32_t key, int32_t a, int32_t* slot) {
    if (order_by_partners(s, first, last, a, slot))
        record_sorted(s, first, last);
    else
        fall_back(s, first, last, key);
}

// Lower-bucket case: the partners x - a lie in a bucket below the current
// one, all final. Since the range agrees on more than depth_limit bytes they
// all lie in the recorded position's bucket; only a partner in front of the
// block start could spoil that, and none can, but it costs one pass to know.
void copy_from_lower_bucket(Sorter& s, int32_t* first, int32_t* last, int32_t key, int32_t a, int32_t* slot) {
    if (lowest_position(first, last) - a < 1) {
        VORB_SORT_COUNT(s, repeat_partner_outside);
        fall_back(s, first, last, key);
        return;
    }
    VORB_SORT_COUNT(s, repeat_lower_bucket);
    copy_or_fall_back(s, first, last, key, a, slot);
}

// Forward case: the partners x + m lie behind the positions; the order copies
// only if the m bytes after every entry are the same, and all lie in the block.
void copy_from_behind(Sorter& s, int32_t* first, int32_t* last, int32_t key, int32_t a, int32_t* slot) {
    const int32_t m = -a;
    s.work += static_cast<uint64_t>(last - first) * static_cast<uint64_t>(m);
    bool agree = highest_position(first, last) + m <= s.n - 1;
    const int32_t x0 = first[0];
    for (const int32_t* y = first + 1; agree && y < last; ++y)
        for (int32_t k = m; k >= 1; --k)
            if (!bytes_agree(s, x0, *y, k)) {
                agree = false;
                break;
            }
    if (!agree) {
        VORB_SORT_COUNT(s, repeat_forward_rejected);
        fall_back(s, first, last, key);
        return;
    }
    VORB_SORT_COUNT(s, repeat_forward);
    copy_or_fall_back(s, first, last, key, a, slot);
}

// Whether every partner x - c of [first, last) stands in a final row. The
// partners lie in the current bucket, parts of which are still being sorted.
bool partners_final(const Sorter& s, const int32_t* first, const int32_t* last, int32_t c) {
    for (const int32_t* p = first; p < last; ++p) {
        const int32_t partner = *p - c;
        if (partner < 1 || !is_final(s, partner)) return false;
    }
    return true;
}

// Same-bucket case: the partners lie in the current bucket. Only the entries
// agreeing with x = d + c on the next c bytes copy their order; the others
// are sorted from the range's key base.
void copy_from_same_bucket(Sorter& s, int32_t* first, int32_t* last, int32_t key, int32_t c, int32_t* slot) {
    VORB_SORT_COUNT(s, repeat_same_bucket);
    const Split split = split_on_pivot(s, first, last, key, c, *slot);
    schedule(s, SortStep::record, first, last, key);
    if (split.mid_end - split.mid >= 2) {
        if (!partners_final(s, split.mid, split.mid_end, c)) {
            VORB_SORT_COUNT(s, repeat_same_bucket_rejected);
            deep_sort(s, split.mid, split.mid_end, split.key);
        } else if (!order_by_partners(s, split.mid, split.mid_end, c, slot)) {
            deep_sort(s, split.mid, split.mid_end, split.key);
        }
    } else {
        settle(s, split.mid, split.mid_end);
    }
    deep_sort(s, first, split.mid, key);
    deep_sort(s, split.mid_end, last, key);
}

}  // namespace

void repeat_state_init(Sorter& s, int32_t n) {
    std::memset(s.finished_buckets, 0, sizeof s.finished_buckets);
    s.group_table_allocated = false;
    s.group_offset = nullptr;
    s.group_slot = nullptr;
    s.final_bits = nullptr;
    s.member_bits = nullptr;
    // The base entry stands for "no stretch known": it bounds the comparison
    // at the lowest key index of the first depth and is never replaced.
    s.cache_base = CacheEntry{};
    s.cache_base.high_end = -5;
    s.cache_base.length = n;
    s.cache_used = 0;
    s.group_count = (n + 127) >> 7;
}

void repeat_state_release(Sorter& s) {
    if (!s.group_table_allocated) return;
    s.group_table_allocated = false;
    std::free(s.group_offset);
    std::free(s.group_slot);
    std::free(s.final_bits);
    std::free(s.member_bits);
    s.group_offset = nullptr;
    s.group_slot = nullptr;
    s.final_bits = nullptr;
    s.member_bits = nullptr;
}

namespace {

bool group_table_alloc(Sorter& s) {
    const size_t groups = static_cast<size_t>(s.group_count);
    s.group_offset = static_cast<uint8_t*>(std::calloc(groups, 1));
    s.group_slot = static_cast<int32_t**>(std::calloc(groups, sizeof(int32_t*)));
    const size_t bit_words = (static_cast<size_t>(s.n) + 63) / 64;
    s.final_bits = static_cast<uint64_t*>(std::calloc(bit_words, sizeof(uint64_t)));
    s.member_bits = static_cast<uint64_t*>(std::calloc(bit_words, sizeof(uint64_t)));
    s.group_table_allocated = true;
    if (s.group_offset && s.group_slot && s.final_bits && s.member_bits) return true;
    repeat_state_release(s);
    return false;
}

}  // namespace

void repeat_sort(Sorter& s, int32_t* first, int32_t* last, int32_t key) {
    if (last - first >= 2)
        schedule(s, SortStep::repeat_sort, first, last, key);
    else
        settle(s, first, last);
}

void repeat_sort_step(Sorter& s, int32_t* first, int32_t* last, int32_t key) {
    VORB_SORT_COUNT(s, repeat_sort_calls);
    s.work += static_cast<uint64_t>(last - first);
    if (!s.group_table_allocated && !group_table_alloc(s)) {
        s.failed = true;
        return;
    }
    const Candidates c = scan_candidates(s, first, last);
    if (c.slot_b && c.best_b < max_offset) {
        copy_from_lower_bucket(s, first, last, key, c.best_b, c.slot_b);
    } else if (c.slot_a && c.best_a > -max_offset) {
        copy_from_behind(s, first, last, key, c.best_a, c.slot_a);
    } else if (c.slot_c && c.best_c < max_offset) {
        copy_from_same_bucket(s, first, last, key, c.best_c, c.slot_c);
    } else {
        VORB_SORT_COUNT(s, repeat_fallback);
        fall_back(s, first, last, key);
    }
}

bool copy_from_finished_bucket(Sorter& s, int32_t* first, int32_t* last, int32_t known) {
    const ptrdiff_t m = last - first;
    const int32_t x0 = first[0];
    // The partners' bucket bytes and the bytes their selection looks at
    // (x - a down to x - a - 2) lie in the shared context, so every entry's
    // partner is alike in both: the first entry's tells for all. And no
    // partner lies in front of the block: a selected one's byte before it is
    // above its own, so not one of the zeros there.
    const int32_t farthest = std::min(known - 3, finished_offset_max);
    int32_t a = 1;
    uint32_t k = 0;
    for (;; ++a) {
        if (a > farthest || x0 - a < 2) return false;
        if (!is_selected(s.data, x0 - a)) continue;
        k = bucket_of(s, x0 - a);
        const int32_t selected = s.bigram_fill[k] - s.bigram_start[k];
        // A lone selected position is final as laid out; the bucket being
        // sorted is not finished until its sort is.
        const bool finished = selected == 1 || ((s.finished_buckets[k >> 6] >> (k & 63)) & 1);
        if (finished && selected <= finished_scan_per_entry * m) break;
    }
    if (!s.group_table_allocated && !group_table_alloc(s)) return false;

    VORB_SORT_COUNT(s, repeat_finished_bucket);
    flip_members(s, first, last);
    const int32_t* const lo = s.index + s.bigram_start[k];
    const int32_t* const hi = s.index + s.bigram_fill[k];
    ptrdiff_t found = 0;
    for (const int32_t* slot = lo; slot < hi && found < m; ++slot) {
        const int32_t v = *slot + a;
        if (is_member(s, v)) first[found++] = v;
    }
    // Every partner is a selected position of the bucket, so each entry
    // came back once, and the bits it set are cleared again.
    assert(found == m);
    flip_members(s, first, last);
    s.shallow_work += static_cast<uint64_t>(m + (hi - lo));
    settle(s, first, last);
    return true;
}

void record_sorted(Sorter& s, const int32_t* first, const int32_t* last) {
    s.work += static_cast<uint64_t>(last - first);
    for (const int32_t* p = first; p < last; ++p) {
        const int32_t x = *p;
        const int32_t g = x >> 7;
        const uint8_t o = static_cast<uint8_t>(x & 127);
        if (!s.group_slot[g] || o < s.group_offset[g]) {
            s.group_slot[g] = const_cast<int32_t*>(p);
            s.group_offset[g] = o;
        }
    }
}

namespace {

bool order_by_partners(Sorter& s, int32_t* first, int32_t* last, int32_t a, int32_t* start_slot) {
    VORB_SORT_COUNT(s, partner_order_calls);
    const ptrdiff_t m = last - first;
    if (m < member_bits_from)
        std::sort(first, last, position_less);
    else
        flip_members(s, first, last);
    // All partners lie in one bucket, the one of any of them.
    const SlotRange stretch = bucket_range(s, first[0] - a);
    int32_t* const lo = stretch.lo;
    int32_t* const hi = stretch.hi;

    // Walk outwards from the start slot, marking every slot whose position
    // is a partner, until all are found. A slot whose lookup fails is passed
    // over for good. Partners scattered thinly through a large bucket would
    // make the walk cost more than sorting the range, so it has a limit.
    const ptrdiff_t walk_limit = walk_slots_per_entry * m + walk_slots_extra;
    *start_slot = ~*start_slot;
    ptrdiff_t remaining = m - 1;
    int32_t* x = start_slot;  // lowest slot reached
    int32_t* z = start_slot;  // highest slot reached
    while (remaining > 0 && z - x < walk_limit) {
        while (remaining > 0 && x > lo) {
            --x;
            if (!holds_position(s, first, last, *x + a)) break;
            *x = ~*x;
            --remaining;
        }
        while (remaining > 0 && z < hi) {
            ++z;
            if (!holds_position(s, first, last, *z + a)) break;
            *z = ~*z;
            --remaining;
        }
        if (remaining > 0 && !(x > lo || z < hi)) {
            // Callers only come here with every partner final in the
            // stretch, so the walk cannot run out of slots.
            assert(x > lo || z < hi);
            break;
        }
    }
    s.work += static_cast<uint64_t>(m + (z - x));
    if (m >= member_bits_from) flip_members(s, first, last);

    // The marked slots hold the partners in sorted order. (Every mark is
    // taken back, also after a walk that gave up.)
    int32_t* out = first;
    for (int32_t* slot = x; slot <= z; ++slot) {
        if (*slot >= 0) continue;
        *slot = ~*slot;
        if (remaining == 0) *out++ = *slot + a;
    }
    if (remaining > 0) {
        VORB_SORT_COUNT(s, partner_walks_abandoned);
        return false;
    }
    settle(s, first, last);
    return true;
}

Split split_on_pivot(Sorter& s, int32_t* first, int32_t* last, int32_t key, int32_t c, int32_t d) {
    VORB_SORT_COUNT(s, split_on_pivot_calls);
    const int32_t x = d + c;
    Partition p{first, last};
    for (;;) {
        const uint32_t pivot = key_word(s, x + key);
        p = partition3(first, last, pivot, [&](int32_t v) { return key_word(s, v + key); });
        s.work += static_cast<uint64_t>(last - first);
        key -= 4;
        if (p.lt == p.gt) break;
        c -= 4;
        if (c <= 0) break;
        first = p.lt;
        last = p.gt;
    }
    return Split{p.lt, p.gt, key};
}

}  // namespace

int cached_compare(Sorter& s, int32_t ka, int32_t kb) {
    VORB_SORT_COUNT(s, cached_compare_calls);
    const int32_t distance = ka > kb ? ka - kb : kb - ka;
    const int32_t high = ka > kb ? ka : kb;

    // The slot with the least length is the one to replace; the best match is
    // the one at this distance reaching below `high` with the highest end.
    CacheEntry* victim = &s.cache_base;
    CacheEntry* best = &s.cache_base;
    for (int i = 0; i < s.cache_used; ++i) {
        CacheEntry& e = s.cache[i];
        if (e.length < victim->length) victim = &e;
        if (e.filled && e.distance == distance && e.high_end - e.length < high && e.high_end > best->high_end)
            best = &e;
    }

    int32_t a = ka;
    int32_t b = kb;
    int32_t equal_words = 0;
    uint32_t wa = 0;
    uint32_t wb = 0;
    bool differ = false;
    while ((a > b ? a : b) >= best->high_end) {
        wa = key_word(s, a);
        wb = key_word(s, b);
        if (wa != wb) {
            differ = true;
            break;
        }
        ++equal_words;
        a -= 4;
        b -= 4;
    }
    s.work += static_cast<uint64_t>(equal_words) + 1 + static_cast<uint64_t>(s.cache_used) / 8;

    if (!differ) {
        // Equal down to a known stretch, whose end decides. (Two different
        // positions always differ before the higher key passes the block
        // start, so this is never the base entry.)
        assert(best != &s.cache_base);
        if (high > best->high_end) {
            best->length += high - best->high_end;
            best->high_end = high;
        }
        VORB_SORT_COUNT(s, cache_hits);
        return ka > kb ? best->high_greater : 1 - best->high_greater;
    }

    const int result = wa > wb ? 1 : 0;
    const int32_t length = 4 * equal_words - 4;
    if (s.cache_used < cache_slots) {
        victim = &s.cache[s.cache_used++];
        victim->length = 0;
        victim->filled = false;
    }
    if (victim != &s.cache_base && length > victim->length) {
        victim->high_end = high;
        victim->length = length;
        victim->distance = distance;
        victim->high_greater = (result == 1) == (ka > kb) ? 1 : 0;
        victim->filled = true;
    }
    return result;
}

namespace {

SlotRange bucket_range(const Sorter& s, int32_t v) {
    const uint32_t k = bucket_of(s, v);
    return SlotRange{s.index + s.bigram_start[k], s.index + s.bigram_fill[k] - 1};
}

bool bytes_agree(const Sorter& s, int32_t x, int32_t y, int32_t k) { return s.data[x + k] == s.data[y + k]; }

}  // namespace

