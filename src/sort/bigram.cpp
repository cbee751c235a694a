#include "sort/bigram.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t bigram_at(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Finding the groups a block uses is a pass over the block, a few operations
// a byte, and each group left out spares about 1,500 (its two rows of 256):
// it pays for blocks below about 64 KiB, and larger ones lay out every group.
constexpr int32_t find_groups_below = 1 << 16;

}  // namespace

void bucket_block(Sorter& s, uint8_t* data, int32_t n, int32_t* index) {
    int32_t* const start = s.bigram_start;
    int32_t* const fill = s.bigram_fill;

    // Which first-byte groups hold a position at all: a small block uses few,
    // and the others are laid out without counting and only where readers
    // look, so a block costs about its length rather than the table's.
    // Position 0's group is laid out in full, as it is not empty.
    const bool find_groups = n < find_groups_below;
    bool used[256];
    std::fill_n(used, 256, !find_groups);
    if (find_groups)
        for (int32_t i = 1; i < n; ++i) used[data[i]] = true;
    used[data[0]] = true;

    // Count position i + 1 under the 16 bits at data + i; position 0 is
    // placed by hand below.
    for (int32_t h = 0; h < 256; ++h)
        if (used[h]) std::memset(start + h * 256, 0, 256 * sizeof *start);
    for (int32_t i = 0; i + 1 < n; ++i) ++start[bigram_at(data + i)];

    // Boundaries from the top, so that position 0 can take the row just
    // below its group's first bucket.
    start[65536] = n;
    int32_t t = n;
    for (int32_t h = 255; h >= 0; --h) {
        // An empty group: readers look only at its first bucket (to pass
        // over the group, or as the end of the group below) and at its
        // bucket (h, h), where the placing scans begin; the rest keeps
        // whatever an earlier block left.
        if (!used[h]) start[h * 256] = fill[h * 256] = fill[h * 257] = t;
        for (int32_t k = h * 256 + 255; used[h] && k >= h * 256; --k) {
            t -= start[k];
            start[k] = t;
            fill[k] = t;
        }
        s.group_start[h] = t;
        if (h == data[0]) {
            --t;
            index[t] = 0;
            start[h * 256] = t;
        }
    }

    data[n] = 255;

    // Selection. The position after a selected one never qualifies, so the
    // scan skips it.
    for (int32_t i = 0; i < n;) {
        const uint8_t c = data[i];
        if (c > data[i + 1] && c >= data[i - 1]) {
            const uint32_t k = bigram_at(data + i);
            index[fill[k]++] = i + 1;
            i += 2;
        } else {
            ++i;
        }
    }
}
