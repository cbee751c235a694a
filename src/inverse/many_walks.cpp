#include "inverse/many_walks.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int start_shift = 12;  // a walk starts at every 4096th row (and at the first row)
constexpr uint32_t start_mask = (1u << start_shift) - 1;
constexpr int lanes = 16;  // walks in flight at once (at most 32: one event bit each)
constexpr size_t max_region_bytes = 16384;  // pool is handed out in pieces of this size at most

struct Piece {
    uint32_t walk;
    uint32_t offset;  // in the pool
    uint32_t length;
};

}  // namespace

namespace {

// Packed: next[row] carries the next row above the row's byte. Otherwise
// next[row] is the next row alone and bytes[row] the byte (any block size).
template <bool packed>
Status walk_and_stitch(const uint32_t* next, const uint8_t* bytes, int32_t n, uint32_t first_row, uint8_t* pool,
                       uint8_t* out) {
    const uint32_t rows = static_cast<uint32_t>(n);
    // Small enough that one unfilled region per lane fits the pool beside n bytes.
    const size_t region_bytes = std::min<size_t>(max_region_bytes, std::max<size_t>(1, static_cast<size_t>(n) / 64));
    // Walks start at the rows that are multiples of 4096, numbered row >> 12,
    // and at the first row when it is not one of them.
    const uint32_t aligned = (rows + start_mask) >> start_shift;
    const bool first_extra = (first_row & start_mask) != 0;
    const uint32_t walks = aligned + (first_extra ? 1 : 0);
    auto is_start = [&](uint32_t row) { return (row & start_mask) == 0 || row == first_row; };
    auto walk_of = [&](uint32_t row) { return (row & start_mask) == 0 ? row >> start_shift : aligned; };
    auto start_of = [&](uint32_t walk) { return walk < aligned ? walk << start_shift : first_row; };

    std::vector<uint32_t> next_walk(walks, UINT32_MAX);
    std::vector<Piece> pieces;
    pieces.reserve(walks + static_cast<size_t>(n) / region_bytes + lanes + 1);
    uint8_t* bump = pool;

    // Every row is visited by at most one walk, so the pool takes at most n
    // bytes plus one unfilled region per lane. The lanes' state lives in
    // plain arrays and the rare events (a walk reaching a start, a region
    // filling up) are handled after each sweep, so a sweep is a run of
    // independent loads.
    uint32_t row[lanes], walk[lanes];
    uint8_t *dst[lanes], *end[lanes], *piece_start[lanes];
    int active = 0;
    uint32_t started = 0;
    auto new_region = [&](int g) {
        dst[g] = piece_start[g] = bump;
        end[g] = bump + region_bytes;
        bump += region_bytes;
    };
    auto close_piece = [&](int g) {
        if (dst[g] > piece_start[g])
            pieces.push_back({walk[g], static_cast<uint32_t>(piece_start[g] - pool),
                              static_cast<uint32_t>(dst[g] - piece_start[g])});
        piece_start[g] = dst[g];
    };
    for (; active < lanes && started < walks; active++, started++) {
        row[active] = start_of(started);
        walk[active] = started;
        new_region(active);
    }
    while (active > 0) {
        uint32_t events = 0;
        for (int g = 0; g < active; g++) {
            if constexpr (packed) {
                const uint32_t e = next[row[g]];
                *dst[g]++ = static_cast<uint8_t>(e);
                row[g] = e >> 8;
            } else {
                *dst[g]++ = bytes[row[g]];
                row[g] = next[row[g]];
            }
            events |= static_cast<uint32_t>(is_start(row[g]) | (dst[g] == end[g])) << g;
        }
        bool dropped = false;
        while (events) {
            const int g = __builtin_ctz(events);
            events &= events - 1;
            if (is_start(row[g])) {
                close_piece(g);
                next_walk[walk[g]] = walk_of(row[g]);
                if (started < walks) {
                    row[g] = start_of(started);
                    walk[g] = started++;
                } else {
                    row[g] = UINT32_MAX;  // this lane is done
                    dropped = true;
                }
            }
            if (dst[g] == end[g] && row[g] != UINT32_MAX) {
                close_piece(g);
                new_region(g);
            }
        }
        if (dropped)
            for (int g = 0; g < active;) {
                if (row[g] != UINT32_MAX) {
                    g++;
                    continue;
                }
                active--;
                row[g] = row[active];
                walk[g] = walk[active];
                dst[g] = dst[active];
                end[g] = end[active];
                piece_start[g] = piece_start[active];
            }
    }

    // Pieces of each walk in the order they were written.
    std::vector<uint32_t> first_piece(walks + 1, 0);
    for (const Piece& p : pieces) first_piece[p.walk + 1]++;
    for (uint32_t w = 0; w < walks; w++) first_piece[w + 1] += first_piece[w];
    std::vector<uint32_t> fill(first_piece.begin(), first_piece.end() - 1);
    std::vector<Piece> by_walk(pieces.size());
    for (const Piece& p : pieces) by_walk[fill[p.walk]++] = p;

    // From the walk of position 0 the walks follow each other around the one
    // cycle of a real transform: bytes 1 .. n-1, then byte 0. Anything else
    // (an earlier return, a walk left out, rows no walk reached) is damage.
    uint32_t w = walk_of(first_row);
    uint32_t written = 0;
    for (uint32_t k = 0; k < walks; k++) {
        if (w >= walks) return Status::bad_transform;
        for (uint32_t i = first_piece[w]; i < first_piece[w + 1]; i++) {
            const Piece& p = by_walk[i];
            if (p.length > rows - written) return Status::bad_transform;
            std::memcpy(out + written, pool + p.offset, p.length);
            written += p.length;
        }
        w = next_walk[w];
        if ((w == walk_of(first_row)) != (k + 1 == walks)) return Status::bad_transform;
    }
    if (written != rows) return Status::bad_transform;
    // out holds bytes 1 .. n-1 and then byte 0.
    const uint8_t first = out[n - 1];
    std::memmove(out + 1, out, static_cast<size_t>(n - 1));
    out[0] = first;
    return Status::ok;
}

}  // namespace

Status invert_many_walks(const uint32_t* fwd, int32_t n, uint32_t first_row, uint8_t* pool, uint8_t* out) {
    return walk_and_stitch<true>(fwd, nullptr, n, first_row, pool, out);
}

Status invert_many_walks_wide(const uint32_t* links, uint8_t* t, int32_t n, uint32_t first_row, uint8_t* pool) {
    // The walks only read t; the bytes go to the pool and come back in the stitch.
    return walk_and_stitch<false>(links, t, n, first_row, pool, t);
}
