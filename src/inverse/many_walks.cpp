#include "inverse/many_walks.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace {

constexpr int start_shift = 12;  // a walk starts at every 4096th row (and at the first row)
constexpr uint32_t start_mask = (1u << start_shift) - 1;
constexpr int lanes = many_walks_lanes;
constexpr size_t max_region_bytes = 16384;  // pool is handed out in pieces of this size at most
// The caller and up to three helpers: with 32 lanes each and regions of at
// most n / 128 bytes, the pool's unfilled regions stay within n bytes.
constexpr int max_team = 4;

struct Piece {
    uint32_t walk;
    uint32_t offset;  // in the pool
    uint32_t length;
};

}  // namespace

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

// The walks one thread has in flight: each lane's row, where it writes, and
// the walk it belongs to. The lanes' state lives in plain arrays and the rare
// events (a walk reaching a start, a region filling up) are handled after
// each sweep, so a sweep is a run of independent loads.
struct WalkLanes {
    WalkTeam* team = nullptr;
    std::vector<Piece>* pieces = nullptr;
    uint32_t row[lanes], walk[lanes];
    uint8_t *dst[lanes], *end[lanes], *piece_start[lanes];
    int active = 0;
};

namespace {

// Every row is visited by at most one walk, so the pool takes at most n
// bytes plus one unfilled region per lane of each member.
void new_region(WalkLanes& l, int g) {
    WalkTeam& team = *l.team;
    l.dst[g] = l.piece_start[g] = team.pool + team.bump.fetch_add(team.region_bytes, std::memory_order_relaxed);
    l.end[g] = l.dst[g] + team.region_bytes;
}

void close_piece(WalkLanes& l, int g) {
    if (l.dst[g] > l.piece_start[g])
        l.pieces->push_back({l.walk[g], static_cast<uint32_t>(l.piece_start[g] - l.team->pool),
                             static_cast<uint32_t>(l.dst[g] - l.piece_start[g])});
    l.piece_start[g] = l.dst[g];
}

uint32_t claim(WalkTeam& team) { return team.started.fetch_add(1, std::memory_order_relaxed); }

void lanes_start(WalkLanes& l, WalkTeam& team, std::vector<Piece>& pieces) {
    l.team = &team;
    l.pieces = &pieces;
    l.active = 0;
    for (uint32_t w; l.active < lanes && (w = claim(team)) < team.walks; l.active++) {
        l.row[l.active] = team.start_of(w);
        l.walk[l.active] = w;
        new_region(l, l.active);
    }
}

// One byte from every lane; returns a bit for each lane with an event.
// Packed: next[row] carries the next row above the row's byte, and the
// lane's next link is fetched ahead as soon as its row is known, beside the
// other lanes' loads rather than in a burst after them. Otherwise next[row]
// is the next row alone and bytes[row] the byte (any block size).
template <bool packed>
uint32_t lanes_sweep(WalkLanes& l) {
    const uint32_t* next = l.team->next;
    const uint8_t* bytes = l.team->bytes;
    uint32_t events = 0;
    for (int g = 0; g < l.active; g++) {
        if constexpr (packed) {
            const uint32_t e = next[l.row[g]];
            *l.dst[g]++ = static_cast<uint8_t>(e);
            l.row[g] = e >> 8;
            __builtin_prefetch(next + (e >> 8));
        } else {
            *l.dst[g]++ = bytes[l.row[g]];
            l.row[g] = next[l.row[g]];
        }
        events |= static_cast<uint32_t>(l.team->is_start(l.row[g]) | (l.dst[g] == l.end[g])) << g;
    }
    return events;
}

// A lane whose walk reached a start takes the next walk, or ends when none
// is left; a lane whose region is full takes a new one.
void lanes_settle(WalkLanes& l, uint32_t events) {
    WalkTeam& team = *l.team;
    bool dropped = false;
    while (events) {
        const int g = __builtin_ctz(events);
        events &= events - 1;
        if (team.is_start(l.row[g])) {
            close_piece(l, g);
            team.next_walk[l.walk[g]] = team.walk_of(l.row[g]);
            const uint32_t w = claim(team);
            if (w < team.walks) {
                l.row[g] = team.start_of(w);
                l.walk[g] = w;
            } else {
                l.row[g] = UINT32_MAX;  // this lane is done
                dropped = true;
            }
        }
        if (l.dst[g] == l.end[g] && l.row[g] != UINT32_MAX) {
            close_piece(l, g);
            new_region(l, g);
        }
    }
    if (dropped)
        for (int g = 0; g < l.active;) {
            if (l.row[g] != UINT32_MAX) {
                g++;
                continue;
            }
            l.active--;
            l.row[g] = l.row[l.active];
            l.walk[g] = l.walk[l.active];
            l.dst[g] = l.dst[l.active];
            l.end[g] = l.end[l.active];
            l.piece_start[g] = l.piece_start[l.active];
        }
}

template <bool packed>
void lanes_run(WalkLanes& l) {
    while (l.active > 0) lanes_settle(l, lanes_sweep<packed>(l));
}

template <bool packed>
void walk_lanes(WalkTeam& team, std::vector<Piece>& pieces) {
    WalkLanes l;
    lanes_start(l, team, pieces);
    lanes_run<packed>(l);
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

void team_init(WalkTeam& team, const uint32_t* next, const uint8_t* bytes, int32_t n, uint32_t first_row,
               uint8_t* pool) {
    team.next = next;
    team.bytes = bytes;
    team.rows = static_cast<uint32_t>(n);
    team.first_row = first_row;
    team.aligned = (team.rows + start_mask) >> start_shift;
    team.walks = team.aligned + ((first_row & start_mask) != 0 ? 1 : 0);
    // Small enough that one unfilled region per lane of every member fits the
    // pool beside n bytes.
    team.region_bytes = std::min<size_t>(max_region_bytes, std::max<size_t>(1, static_cast<size_t>(n) / 128));
    team.pool = pool;
    team.next_walk.assign(team.walks, UINT32_MAX);
    team.members.store(1, std::memory_order_relaxed);  // the caller is member 0
    team.pieces[0].reserve(team.walks + static_cast<size_t>(n) / team.region_bytes + lanes + 1);
}

// The caller's lanes run to the end, with the helpers taking walks not yet
// started; their writes are seen once this returns.
void team_run(WalkTeam& team, WalkLanes& l, const HelperThreads* helpers) {
    if (helpers) helpers->invite(helpers->ctx, join_walks, &team);
    if (team.bytes)
        lanes_run<false>(l);
    else
        lanes_run<true>(l);
    if (helpers) helpers->dismiss(helpers->ctx);
}

// Puts the pieces together into out[0, n).
Status team_stitch(const WalkTeam& team, uint8_t* out) {
    const uint32_t rows = team.rows;
    const uint32_t walks = team.walks;
    const uint32_t first_row = team.first_row;
    const std::vector<uint32_t>& next_walk = team.next_walk;
    auto walk_of = [&](uint32_t row) { return team.walk_of(row); };
    size_t piece_count = 0;
    for (const auto& list : team.pieces) piece_count += list.size();

    // Pieces of each walk in the order they were written. A walk is written
    // by one lane of one member, so its pieces sit in one list, in order.
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
            std::memcpy(out + written, team.pool + p.offset, p.length);
            written += p.length;
        }
        w = next_walk[w];
        if ((w == walk_of(first_row)) != (k + 1 == walks)) return Status::bad_transform;
    }
    if (written != rows) return Status::bad_transform;
    // out holds bytes 1 .. n-1 and then byte 0.
    const uint8_t first = out[rows - 1];
    std::memmove(out + 1, out, rows - 1);
    out[0] = first;
    return Status::ok;
}

Status walk_and_stitch(const uint32_t* next, const uint8_t* bytes, int32_t n, uint32_t first_row, uint8_t* pool,
                       uint8_t* out, const HelperThreads* helpers) {
    WalkTeam team;
    team_init(team, next, bytes, n, first_row, pool);
    WalkLanes l;
    lanes_start(l, team, team.pieces[0]);
    team_run(team, l, helpers);
    return team_stitch(team, out);
}

}  // namespace

Status invert_many_walks(const uint32_t* fwd, int32_t n, uint32_t first_row, uint8_t* pool, uint8_t* out,
                         const HelperThreads* helpers) {
    return walk_and_stitch(fwd, nullptr, n, first_row, pool, out, helpers);
}

Status invert_many_walks_wide(const uint32_t* links, uint8_t* t, int32_t n, uint32_t first_row, uint8_t* pool,
                              const HelperThreads* helpers) {
    // The walks only read t; the bytes go to the pool and come back in the stitch.
    return walk_and_stitch(links, t, n, first_row, pool, t, helpers);
}

SteppedWalks::SteppedWalks() = default;
SteppedWalks::~SteppedWalks() = default;

void stepped_walks_begin(SteppedWalks& s, const uint32_t* fwd, int32_t n, uint32_t first_row, uint8_t* pool) {
    s.team = std::make_unique<WalkTeam>();
    team_init(*s.team, fwd, nullptr, n, first_row, pool);
    s.lanes = std::make_unique<WalkLanes>();
    lanes_start(*s.lanes, *s.team, s.team->pieces[0]);
    s.walked = 0;
}

bool stepped_walks_sweep(SteppedWalks& s) {
    WalkLanes& l = *s.lanes;
    if (l.active == 0) return false;
    s.walked += static_cast<uint32_t>(l.active);
    // The sweep leaves the next one's links on their way while other work
    // runs (a lane that took a new walk or region fetches on its next sweep).
    lanes_settle(l, lanes_sweep<true>(l));
    return l.active > 0;
}

Status stepped_walks_end(SteppedWalks& s, uint8_t* out, const HelperThreads* helpers) {
    team_run(*s.team, *s.lanes, helpers);
    const Status st = team_stitch(*s.team, out);
    s.lanes.reset();
    s.team.reset();
    return st;
}
