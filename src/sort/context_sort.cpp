#include "sort/context_sort.h"

#include <cstdlib>

namespace {

// The text of the top level: the block read backwards, bytes as symbols.
struct ReversedBlock {
    const uint8_t* data;
    int32_t n;
    int32_t operator[](int32_t i) const { return data[n - 1 - i]; }
};

// The text of a deeper level: names of the previous level's substrings.
struct Names {
    const int32_t* names;
    int32_t operator[](int32_t i) const { return names[i]; }
};

constexpr int32_t empty_slot = -1;

// Working memory of one level: the type of every suffix (1: smaller than
// the suffix after it; the text ends in a virtual sentinel smaller than every
// symbol) and per symbol its count and a moving bucket pointer.
struct LevelMemory {
    uint8_t* smaller = nullptr;
    int32_t* count = nullptr;
    int32_t* bucket = nullptr;

    bool allocate(int32_t n, int32_t k) {
        smaller = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(n)));
        count = static_cast<int32_t*>(std::calloc(static_cast<size_t>(k), sizeof(int32_t)));
        bucket = static_cast<int32_t*>(std::calloc(static_cast<size_t>(k), sizeof(int32_t)));
        return smaller && count && bucket;
    }
    void release() {
        std::free(smaller);
        std::free(count);
        std::free(bucket);
        *this = LevelMemory{};
    }
};

template <typename Text>
struct Level {
    const Text& s;
    int32_t* sa;
    int32_t n;
    int32_t k;
    LevelMemory m;

    bool is_lms(int32_t i) const { return i > 0 && m.smaller[i] && !m.smaller[i - 1]; }

    void classify() {
        m.smaller[n - 1] = 0;  // above the sentinel
        for (int32_t i = n - 2; i >= 0; --i)
            m.smaller[i] = s[i] < s[i + 1] || (s[i] == s[i + 1] && m.smaller[i + 1]);
        for (int32_t i = 0; i < n; ++i) ++m.count[s[i]];
    }

    void bucket_starts() {
        int32_t sum = 0;
        for (int32_t c = 0; c < k; ++c) {
            m.bucket[c] = sum;
            sum += m.count[c];
        }
    }

    void bucket_ends() {
        int32_t sum = 0;
        for (int32_t c = 0; c < k; ++c) {
            sum += m.count[c];
            m.bucket[c] = sum;
        }
    }

    // From the LMS suffixes in place at their bucket ends, places every other
    // suffix: the larger ones left to right, then the smaller ones right to left.
    void induce() {
        bucket_starts();
        sa[m.bucket[s[n - 1]]++] = n - 1;  // follows the sentinel
        for (int32_t i = 0; i < n; ++i) {
            const int32_t j = sa[i] - 1;
            if (sa[i] > 0 && !m.smaller[j]) sa[m.bucket[s[j]]++] = j;
        }
        bucket_ends();
        for (int32_t i = n - 1; i >= 0; --i) {
            const int32_t j = sa[i] - 1;
            if (sa[i] > 0 && m.smaller[j]) sa[--m.bucket[s[j]]] = j;
        }
    }

    // Whether the LMS substrings at a and b (each up to and including the
    // next LMS position) are equal; one that reaches the sentinel is unique.
    bool same_substring(int32_t a, int32_t b) const {
        for (int32_t d = 0;; ++d) {
            if (a + d == n || b + d == n) return false;
            if (s[a + d] != s[b + d] || m.smaller[a + d] != m.smaller[b + d]) return false;
            if (d > 0) {
                const bool end_a = is_lms(a + d);
                const bool end_b = is_lms(b + d);
                if (end_a || end_b) return end_a && end_b;
            }
        }
    }

    // Sorts the LMS substrings, names them and leaves the names in text
    // order in sa[n - count, n). Returns the number of LMS positions; sets
    // distinct to the number of names.
    int32_t name_substrings(int32_t& distinct) {
        for (int32_t i = 0; i < n; ++i) sa[i] = empty_slot;
        bucket_ends();
        for (int32_t i = 1; i < n; ++i)
            if (is_lms(i)) sa[--m.bucket[s[i]]] = i;
        induce();

        int32_t lms = 0;
        for (int32_t i = 0; i < n; ++i)
            if (is_lms(sa[i])) sa[lms++] = sa[i];
        // LMS positions are at least two apart, so pos / 2 packs their
        // names into the free upper part.
        for (int32_t i = lms; i < n; ++i) sa[i] = empty_slot;
        int32_t name = 0;
        int32_t prev = -1;
        for (int32_t i = 0; i < lms; ++i) {
            const int32_t pos = sa[i];
            if (prev < 0 || !same_substring(prev, pos)) {
                ++name;
                prev = pos;
            }
            sa[lms + pos / 2] = name - 1;
        }
        for (int32_t i = n - 1, j = n - 1; i >= lms; --i)
            if (sa[i] != empty_slot) sa[j--] = sa[i];
        distinct = name;
        return lms;
    }

    // With the LMS suffixes' order in sa[0, lms) (as indexes into their text
    // order), places all suffixes.
    void place_all(int32_t lms) {
        int32_t* const order = sa + n - lms;
        for (int32_t i = n - 1, j = lms; i >= 1; --i)
            if (is_lms(i)) order[--j] = i;
        for (int32_t i = 0; i < lms; ++i) sa[i] = order[sa[i]];
        for (int32_t i = lms; i < n; ++i) sa[i] = empty_slot;
        bucket_ends();
        for (int32_t i = lms - 1; i >= 0; --i) {
            const int32_t j = sa[i];
            sa[i] = empty_slot;
            sa[--m.bucket[s[j]]] = j;
        }
        induce();
    }
};

template <typename Text>
bool suffix_sort(const Text& s, int32_t* sa, int32_t n, int32_t k) {
    Level<Text> level{s, sa, n, k, {}};
    if (!level.m.allocate(n, k)) {
        level.m.release();
        return false;
    }
    level.classify();
    int32_t distinct = 0;
    const int32_t lms = level.name_substrings(distinct);
    // The level's memory is given back while the shorter text is sorted.
    level.m.release();

    const int32_t* const names = sa + n - lms;
    if (distinct < lms) {
        if (!suffix_sort(Names{names}, sa, lms, distinct)) return false;
    } else {
        for (int32_t i = 0; i < lms; ++i) sa[names[i]] = i;
    }

    if (!level.m.allocate(n, k)) {
        level.m.release();
        return false;
    }
    level.classify();
    level.place_all(lms);
    level.m.release();
    return true;
}

}  // namespace

bool sort_all_contexts(const uint8_t* data, int32_t n, int32_t* rows) {
    if (!suffix_sort(ReversedBlock{data, n}, rows, n, 256)) return false;
    // Suffix i of the reversed block is the context of position n - 1 - i.
    for (int32_t j = 0; j < n; ++j) rows[j] = n - 1 - rows[j];
    return true;
}
