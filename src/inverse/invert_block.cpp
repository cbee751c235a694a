#include "inverse/invert_block.h"

#include "inverse/many_walks.h"

#include <algorithm>
#include <cstring>

namespace {

// Row numbers below this fit beside a byte in one 32-bit link.
constexpr int32_t packed_rows_limit = 1 << 24;

// Blocks inverted by many walks over packed links.
bool walks_packed(int32_t n) { return n >= many_walks_min_block && n < packed_rows_limit; }

// Counts of each value in the block, turned into the first row of each
// value's bucket.
void counts_to_buckets(int32_t* bucket_start, int32_t n) {
    int32_t total = n;
    for (int x = 255; x >= 0; x--) {
        total -= bucket_start[x];
        bucket_start[x] = total;
    }
}

void count_buckets(int32_t* bucket_start, const uint8_t* t, int32_t n) {
    std::memset(bucket_start, 0, 256 * sizeof bucket_start[0]);
    for (int32_t i = 0; i < n; i++) bucket_start[t[i]]++;
    counts_to_buckets(bucket_start, n);
}

// Links that carry the next row and the row's byte together, so a walk
// step is one memory access; the primary row links to the row of position 0,
// which is returned. back, when given, gets the links reversed.
uint32_t build_packed_links(int32_t* bucket_start, const uint8_t* t, int32_t n, int32_t primary, uint32_t* fwd,
                            uint32_t* back) {
    const uint8_t x0 = t[primary];
    const uint32_t p0 = static_cast<uint32_t>(bucket_start[x0]++);
    // Each byte takes the next row of its value's bucket. Carrying a run's
    // next row in a register spares reading back the count just stored, but
    // costs a mispredicted branch at every run's end, which is dearer on
    // cores that forward a store to the next load quickly.
    auto link_span = [&](int32_t from, int32_t to) {
        for (int32_t i = from; i < to; i++) {
            const uint8_t y = t[i];
            const uint32_t next = static_cast<uint32_t>(bucket_start[y]++);
            if (back) back[next] = static_cast<uint32_t>(i) << 8 | y;
            fwd[i] = next << 8 | y;
        }
    };
    link_span(0, primary);
    link_span(primary + 1, n);
    // Closing the cycle keeps every walk inside the arrays, damaged or not.
    fwd[primary] = p0 << 8 | x0;
    if (back) back[p0] = static_cast<uint32_t>(primary) << 8 | x0;
    return p0;
}

// Two walks whose cache misses overlap: small blocks.
Status invert_two_walks(int32_t* bucket_start, uint8_t* t, int32_t n, int32_t primary, uint32_t* fwd,
                        uint32_t* back) {
    const uint8_t x0 = t[primary];
    const uint32_t p0 = build_packed_links(bucket_start, t, n, primary, fwd, back);

    // Forward from the row of position 0 writes bytes 1..h; backward from the
    // row of position n-1 writes n-1 down to h+1. On a real transform both
    // end on the row of position h, and neither passes the other's start:
    // that is checked, since a damaged block can form shorter cycles.
    const uint32_t last = static_cast<uint32_t>(primary);
    const int32_t h = (n - 1) / 2;
    const int32_t m = n - 1 - h;
    uint32_t p = p0, r = last;
    t[0] = x0;
    for (int32_t k = 0; k < h; k++) {
        VORB_CHECK(p != last && r != p0, Status::bad_transform);
        const uint32_t e = fwd[p];
        const uint32_t f = back[r];
        t[1 + k] = static_cast<uint8_t>(e);
        t[n - 1 - k] = static_cast<uint8_t>(f);
        p = e >> 8;
        r = f >> 8;
    }
    if (m > h) {
        VORB_CHECK(r != p0, Status::bad_transform);
        const uint32_t f = back[r];
        t[n - 1 - h] = static_cast<uint8_t>(f);
        r = f >> 8;
    }
    VORB_CHECK(p == r, Status::bad_transform);
    return Status::ok;
}

}  // namespace

Status invert_block(int32_t* bucket_start, uint8_t* t, int32_t n, int32_t primary, int32_t* links,
                    int32_t* scratch, const HelperThreads* helpers) {
    count_buckets(bucket_start, t, n);
    if (walks_packed(n)) {
        uint32_t* fwd = reinterpret_cast<uint32_t*>(links);
        const uint32_t p0 = build_packed_links(bucket_start, t, n, primary, fwd, nullptr);
        return invert_many_walks(fwd, n, p0, reinterpret_cast<uint8_t*>(scratch), t, helpers);
    }
    if (n < packed_rows_limit)
        return invert_two_walks(bucket_start, t, n, primary, reinterpret_cast<uint32_t*>(links),
                                reinterpret_cast<uint32_t*>(scratch));
    // Row numbers no longer fit beside a byte.
    return invert_block_plain(bucket_start, t, n, primary, links, scratch, false, helpers);
}

void inverse_begin(PendingInverse& p, const int32_t* counts, int32_t* bucket_start, uint8_t* t, int32_t n,
                   int32_t primary, int32_t* links, int32_t* scratch) {
    p.t = t;
    p.n = n;
    p.primary = primary;
    p.bucket_start = bucket_start;
    p.links = links;
    p.scratch = scratch;
    p.paced_for = 0;
    p.stepped = walks_packed(n);
    if (!p.stepped) return;
    if (counts) {
        std::memcpy(bucket_start, counts, 256 * sizeof bucket_start[0]);
        counts_to_buckets(bucket_start, n);
    } else {
        count_buckets(bucket_start, t, n);
    }
    uint32_t* fwd = reinterpret_cast<uint32_t*>(links);
    const uint32_t p0 = build_packed_links(bucket_start, t, n, primary, fwd, nullptr);
    stepped_walks_begin(p.walks, fwd, n, p0, reinterpret_cast<uint8_t*>(scratch));
}

namespace {

// Keeps the walks a little ahead of the decoding, in proportion to the two
// blocks' lengths, so that they end before the block being decoded does. A
// call sweeps once at most: a sweep reads the links the one before it asked
// for, and only the decoder's work in between gives them time to arrive from
// memory (a second sweep at once would wait for them). Calls come every
// quarter sweep's worth of bytes, as often as runs end, so the walks keep up
// where runs end far apart.
int32_t pace_walks(void* ctx, int32_t written, int32_t n) {
    PendingInverse& p = *static_cast<PendingInverse*>(ctx);
    if (p.paced_for != n) {
        constexpr uint64_t lead = 9;  // ninths: finish when 8/9 of the block is decoded
        constexpr int64_t calls_per_sweep = 4;
        p.paced_for = n;
        p.ratio = (static_cast<uint64_t>(p.n) << 16) * lead / (8 * static_cast<uint64_t>(n));
        p.every = std::max<int32_t>(
            1, static_cast<int32_t>(many_walks_lanes * static_cast<int64_t>(n) / (calls_per_sweep * p.n)));
    }
    const uint64_t target = static_cast<uint64_t>(written) * p.ratio >> 16;
    if (p.walks.walked < target && !stepped_walks_sweep(p.walks)) return INT32_MAX;
    return written + p.every;
}

}  // namespace

DecodeTick inverse_tick(PendingInverse& p) {
    if (!p.t || !p.stepped) return {};
    return {pace_walks, &p};
}

Status inverse_end(PendingInverse& p, const HelperThreads* helpers) {
    uint8_t* t = p.t;
    p.t = nullptr;
    if (p.stepped) return stepped_walks_end(p.walks, t, helpers);
    return invert_block(p.bucket_start, t, p.n, p.primary, p.links, p.scratch, helpers);
}

Status invert_block_plain(int32_t* bucket_start, uint8_t* t, int32_t n, int32_t primary, int32_t* links,
                          int32_t* scratch, bool count, const HelperThreads* helpers) {
    if (count) count_buckets(bucket_start, t, n);
    // The row of position 0 takes the first place of its bucket; every other
    // row links to the row of the position after it, and the primary row
    // back to the first, which closes the cycle.
    const uint8_t x0 = t[primary];
    const int32_t p0 = bucket_start[x0]++;
    for (int32_t i = 0; i < primary; i++) links[i] = bucket_start[t[i]]++;
    for (int32_t i = primary + 1; i < n; i++) links[i] = bucket_start[t[i]]++;
    links[primary] = p0;
    return invert_many_walks_wide(reinterpret_cast<const uint32_t*>(links), t, n, static_cast<uint32_t>(p0),
                                  reinterpret_cast<uint8_t*>(scratch), helpers);
}

Status decode_block(BlockDecoder& bd, NumberCoder& nc, uint8_t* t, uint32_t block_size, int32_t* links,
                    int32_t* scratch, ByteOut& out, ProgressSink progress, int32_t& n) {
    int32_t primary = 0;
    VORB_TRY(decode_block_symbols(bd, nc, t, block_size, bytes_out(out) == 0, n, primary));
    if (n == 0) return Status::ok;
    progress_put(progress, ProgressEvent::block_decoded);
    VORB_TRY(invert_block(bd.bucket_start, t, n, primary, links, scratch));
    put_bytes(out, t, static_cast<size_t>(n));
    return Status::ok;
}
