#include "sort/bigram.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

uint32_t bigram_at(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

void bucket_block(Sorter& s, uint8_t* data, int32_t n, int32_t* index) {
    int32_t* const start = s.bigram_start;
    int32_t* const fill = s.bigram_fill;

    // Which runs of bucket_scan_run second bytes hold a position, per
    // first-byte group: a small block uses few, and the rest is laid out
    // without counting and only where readers look, so a block costs about
    // its length rather than the table's. Larger blocks lay out everything.
    uint16_t* const runs = s.column_runs;
    const bool find_runs = n < find_runs_below;
    std::fill_n(runs, 256, find_runs ? 0 : uint16_t{0xFFFF});
    if (find_runs)
        for (int32_t i = 0; i + 1 < n; ++i) runs[data[i + 1]] |= uint16_t(1u << (data[i] / bucket_scan_run));

    // Count position i + 1 under the 16 bits at data + i; position 0 is
    // placed by hand below.
    for (int32_t h = 0; h < 256; ++h)
        for (uint32_t m = runs[h]; m != 0; m &= m - 1)
            std::fill_n(start + h * 256 + std::countr_zero(m) * bucket_scan_run, bucket_scan_run, 0);
    for (int32_t i = 0; i + 1 < n; ++i) ++start[bigram_at(data + i)];

    // Boundaries from the top, so that position 0 can take the row just
    // below its group's first bucket. Readers look at every bucket of a run
    // laid out and at the first bucket after it (as its end), and in any
    // group at its first bucket (to pass over the group, or as the end of
    // the group below) and at its bucket (h, h), where the placing scans
    // begin; those are set here also where no run holds them, to where they
    // lie, and the rest keeps whatever an earlier block left.
    start[65536] = n;
    int32_t t = n;
    for (int32_t h = 255; h >= 0; --h) {
        const uint32_t m = runs[h];
        if (m == 0) start[h * 256] = fill[h * 256] = fill[h * 257] = t;
        for (int32_t r = 256 / bucket_scan_run - 1; m != 0 && r >= 0; --r) {
            const int32_t first = h * 256 + r * bucket_scan_run;
            if (!(m >> r & 1)) {
                if (r == h / bucket_scan_run) fill[h * 257] = t;
                continue;
            }
            start[first + bucket_scan_run] = t;
            for (int32_t k = first + bucket_scan_run - 1; k >= first; --k) {
                t -= start[k];
                start[k] = t;
                fill[k] = t;
            }
        }
        if (m != 0 && !(m & 1)) start[h * 256] = fill[h * 256] = t;
        s.group_start[h] = t;
        if (h == data[0]) {
            --t;
            index[t] = 0;
            start[h * 256] = t;
        }
    }

    data[n] = 255;

    // Selection, without a branch on the outcome, which on most data is
    // close to a coin flip: every position is stored at its bucket's fill,
    // which moves on only for a selected one. A position not selected has a
    // row of its bucket that no selected position takes, so the store stays
    // inside the bucket; the next selected position overwrites it, or it is
    // left in a row the placing scans write before they read.
    for (int32_t i = 0; i + 1 < n; ++i) {
        const uint8_t c = data[i];
        const uint32_t k = bigram_at(data + i);
        index[fill[k]] = i + 1;
        fill[k] += (c > data[i + 1]) & (c >= data[i - 1]);
    }
}
