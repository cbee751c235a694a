#include "inverse/many_walks.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace {

constexpr int start_shift = 12;  // a walk starts at every 4096th row (and at the first row)
constexpr uint32_t start_mask = (1u << start_shift) - 1;
constexpr int lanes = 16;  // walks in flight at once (at most 32: one event bit each)
constexpr size_t max_region_bytes = 16384;  // pool is handed out in pieces of this size at most
// The caller and up to three helpers: with 16 lanes each and regions of at
// most n / 64 bytes, the pool's unfilled regions stay within n bytes.
constexpr int max_team = 4;

struct Piece {
    uint32_t walk;
    uint32_t offset;  // in the pool
    uint32_t length;
};

// One block's walks, shared by the thread that inverts it and any helpers:
// each takes the next walk not yet started, writes into regions of the pool
// handed out one at a time and keeps its own list of pieces.
struct WalkTeam {
    const uint32_t* next;
    const uint8_t* bytes;  // null when next carries the byte (packed)
    uint32_t rows;
    uint32_t first_row;
    uint32_t aligned;  // walks that start at a multiple of 4096
    uint32_t walks;
    size_t region_bytes;
    uint8_t* pool;
    std::atomic<uint32_t> started{0};
    std::atomic<size_t> bump{0};
    std::atomic<int> members{0};
    std::vector<uint32_t> next_walk;
    std::vector<Piece> pieces[max_team];

    // Walks start at the rows that are multiples of 4096, numbered row >> 12,
    // and at the first row when it is not one of them.
    bool is_start(uint32_t row) const { return (row & start_mask) == 0 || row == first_row; }
    uint32_t walk_of(uint32_t row) const { return (row & start_mask) == 0 ? row >> start_shift : aligned; }
    uint32_t start_of(uint32_t walk) const { return walk < aligned ? walk << start_shift : first_row; }
};

// Packed: next[row] carries the next row above the row's byte. Otherwise
// next[row] is the next row alone and bytes[row] the byte (any block size).
template <bool packed>
void walk_lanes(WalkTeam& team, std::vector<Piece>& pieces) {
    const uint32_t* next = team.next;
    const uint8_t* bytes = team.bytes;
    const uint32_t walks = team.walks;
    uint8_t* pool = team.pool;
    // Every row is visited by at most one walk, so the pool takes at most n
    // bytes plus one unfilled region per lane of each member. The lanes'
    // state lives in plain arrays and the rare events (a walk reaching a
    // start, a region filling up) are handled after each sweep, so a sweep is
    // a run of independent loads.
    uint32_t row[lanes], walk[lanes];
    uint8_t *dst[lanes], *end[lanes], *piece_start[lanes];
    int active = 0;
    auto new_region = [&](int g) {
        dst[g] = piece_start[g] = pool + team.bump.fetch_add(team.region_bytes, std::memory_order_relaxed);
        end[g] = dst[g] + team.region_bytes;
    };
    auto close_piece = [&](int g) {
        if (dst[g] > piece_start[g])
            pieces.push_back({walk[g], static_cast<uint32_t>(piece_start[g] - pool),
                              static_cast<uint32_t>(dst[g] - piece_start[g])});
        piece_start[g] = dst[g];
    };
    auto claim = [&] { return team.started.fetch_add(1, std::memory_order_relaxed); };
    for (uint32_t w; active < lanes && (w = claim()) < walks; active++) {
        row[active] = team.start_of(w);
        walk[active] = w;
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
            events |= static_cast<uint32_t>(team.is_start(row[g]) | (dst[g] == end[g])) << g;
        }
        bool dropped = false;
        while (events) {
            const int g = __builtin_ctz(events);
            events &= events - 1;
            if (team.is_start(row[g])) {
                close_piece(g);
                team.next_walk[walk[g]] = team.walk_of(row[g]);
                const uint32_t w = claim();
                if (w < walks) {
                    row[g] = team.start_of(w);
                    walk[g] = w;
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
}

// What a helper runs: it joins while the team has room, until no walk is left.
void join_walks(void* arg) {
    WalkTeam& team = *static_cast<WalkTeam*>(arg);
    const int member = team.members.fetch_add(1, std::memory_order_relaxed);
    if (member >= max_team) return;
    if (team.bytes)
        walk_lanes<false>(team, team.pieces[member]);
    else
        walk_lanes<true>(team, team.pieces[member]);
}

Status walk_and_stitch(const uint32_t* next, const uint8_t* bytes, int32_t n, uint32_t first_row, uint8_t* pool,
                       uint8_t* out, const WalkHelpers* helpers) {
    WalkTeam team;
    team.next = next;
    team.bytes = bytes;
    team.rows = static_cast<uint32_t>(n);
    team.first_row = first_row;
    team.aligned = (team.rows + start_mask) >> start_shift;
    team.walks = team.aligned + ((first_row & start_mask) != 0 ? 1 : 0);
    // Small enough that one unfilled region per lane of every member fits the
    // pool beside n bytes.
    team.region_bytes = std::min<size_t>(max_region_bytes, std::max<size_t>(1, static_cast<size_t>(n) / 64));
    team.pool = pool;
    team.next_walk.assign(team.walks, UINT32_MAX);
    team.members.store(1, std::memory_order_relaxed);  // the caller is member 0
    team.pieces[0].reserve(team.walks + static_cast<size_t>(n) / team.region_bytes + lanes + 1);
    if (helpers) helpers->invite(helpers->ctx, join_walks, &team);
    if (bytes)
        walk_lanes<false>(team, team.pieces[0]);
    else
        walk_lanes<true>(team, team.pieces[0]);
    // The helpers' writes are seen from here on.
    if (helpers) helpers->dismiss(helpers->ctx);

    const uint32_t rows = team.rows;
    const uint32_t walks = team.walks;
    const std::vector<uint32_t>& next_walk = team.next_walk;
    auto walk_of = [&](uint32_t row) { return team.walk_of(row); };
    size_t piece_count = 0;
    for (const auto& list : team.pieces) piece_count += list.size();

    // Pieces of each walk in the order they were written. A walk is written by one lane of one member, so its pieces sit in one
    // list, in order.
    std::vector<uint32_t> first_piece(walks + 1, 0);
    for (const auto& list : team.pieces)
        for (const Piece& p : list) first_piece[p.walk + 1]++;
    for (uint32_t w = 0; w < walks; w++) first_piece[w + 1] += first_piece[w];
    std::vector<uint32_t> fill(first_piece.begin(), first_piece.end() - 1);
    std::vector<Piece> by_walk(piece_count);
    for (const auto& list : team.pieces)
        for (const Piece& p : list) by_walk[fill[p.walk]++] = p;

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

Status invert_many_walks(const uint32_t* fwd, int32_t n, uint32_t first_row, uint8_t* pool, uint8_t* out,
                         const WalkHelpers* helpers) {
    return walk_and_stitch(fwd, nullptr, n, first_row, pool, out, helpers);
}

Status invert_many_walks_wide(const uint32_t* links, uint8_t* t, int32_t n, uint32_t first_row, uint8_t* pool,
                              const WalkHelpers* helpers) {
    // The walks only read t; the bytes go to the pool and come back in the stitch.
    return walk_and_stitch(links, t, n, first_row, pool, t, helpers);
}
