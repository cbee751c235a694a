// Inverting a large block by many walks at once. A single walk over the links
// waits for one cache miss per byte; walks started from many rows at once
// keep a dozen misses in flight. Each walk stops where another one started,
// and the pieces are put together in block order afterwards.
#pragma once

#include <cstdint>
#include <memory>

#include "common/helper_threads.h"
#include "common/status.h"

// Helper threads take part in a block's walks; their work returns once no
// walk is left to start.

// Smallest block for which the many walks pay off (smaller ones fit in cache).
constexpr int32_t many_walks_min_block = 1 << 18;

// fwd[0, n): for each row the row of the next position above the low 8 bits,
// which hold the row's byte, with the primary row linked to first_row (the row
// of position 0); n < 2^24. pool: at least 4 * n bytes of scratch. On success
// out[0, n) holds the block's bytes. Fails, with every access in bounds, when
// the rows do not form one cycle. With helpers, the walks are shared with them.
[[nodiscard]] Status invert_many_walks(const uint32_t* fwd, int32_t n, uint32_t first_row, uint8_t* pool,
                                       uint8_t* out, const HelperThreads* helpers = nullptr);

// The same for blocks of any size: links[0, n) holds the next row alone (the
// primary row linked to first_row) and t[0, n) the rows' bytes, which are
// replaced by the block's bytes on success. pool: at least 4 * n bytes; n >= 8.
[[nodiscard]] Status invert_many_walks_wide(const uint32_t* links, uint8_t* t, int32_t n, uint32_t first_row,
                                            uint8_t* pool, const HelperThreads* helpers = nullptr);

struct WalkTeam;
struct WalkLanes;

// A large block's walks run a sweep at a time between other work on the
// same thread, whose steps then fill the time the walks' cache misses take.
struct SteppedWalks {
    std::unique_ptr<WalkTeam> team;  // null when no walks are under way
    std::unique_ptr<WalkLanes> lanes;
    uint64_t walked = 0;  // bytes written by the sweeps so far
    SteppedWalks();
    ~SteppedWalks();
};

// Starts the walks of invert_many_walks (same fwd, n, first_row and pool).
void stepped_walks_begin(SteppedWalks& s, const uint32_t* fwd, int32_t n, uint32_t first_row, uint8_t* pool);

// Walks one thread keeps in flight (at most 32: one event bit each).
constexpr int many_walks_lanes = 32;

// Every walk in flight writes one byte, then the links the next sweep reads
// are fetched ahead. False once no walk is left in flight.
bool stepped_walks_sweep(SteppedWalks& s);

// The walks left (shared with helpers, when given), then the block's bytes
// into out[0, n), as invert_many_walks; the walks are over after it.
[[nodiscard]] Status stepped_walks_end(SteppedWalks& s, uint8_t* out, const HelperThreads* helpers = nullptr);
