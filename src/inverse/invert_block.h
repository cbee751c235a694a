// The inverse transform of a block, and the whole decode of one block: its
// entropy stage, then the inverse, writing the block's bytes out.
#pragma once

#include <cstdint>

#include "coder/byte_stream.h"
#include "common/progress.h"
#include "common/status.h"
#include "dc/block_symbols.h"
#include "inverse/many_walks.h"

// Inverts the transform of t[0, n) (primary < n) in place: on success
// t[0, n) holds the block's bytes. links and scratch need n entries each;
// bucket_start is scratch of 256 entries. Below 2^24 bytes the bytes are
// rebuilt by two walks, from the block's first byte forward and from its last
// byte backward, whose cache misses overlap. Fails when t with this primary
// index is no transformed block (its rows do not form one cycle); every
// access stays in bounds regardless, and t is then garbage. helpers, when
// given, take part in the walks of large blocks.
[[nodiscard]] Status invert_block(int32_t* bucket_start, uint8_t* t, int32_t n, int32_t primary, int32_t* links,
                                  int32_t* scratch, const HelperThreads* helpers = nullptr);

// A block's inverse run alongside the decoding of the next block on the same
// thread: the links are built at once, the walks advance between the next
// block's runs (its tick), and what is left runs at the end. Blocks too small
// for the many walks, or too large for packed links, are inverted whole at
// the end.
struct PendingInverse {
    SteppedWalks walks;
    uint8_t* t = nullptr;  // null when no block is pending
    int32_t n = 0;
    int32_t primary = 0;
    int32_t* bucket_start = nullptr;
    int32_t* links = nullptr;
    int32_t* scratch = nullptr;
    bool stepped = false;
    // Pacing against the block being decoded: bytes to walk per byte
    // decoded (16.16 fixed point) and decoded bytes between ticks.
    int32_t paced_for = 0;
    uint64_t ratio = 0;
    int32_t every = 1;
};

// Makes t[0, n) (primary < n) the pending block, as invert_block takes it.
// counts, when given, holds how often each value occurs in t (the distance
// decoder's value_count); otherwise t is counted. The arrays stay in use
// until inverse_end.
void inverse_begin(PendingInverse& p, const int32_t* counts, int32_t* bucket_start, uint8_t* t, int32_t n,
                   int32_t primary, int32_t* links, int32_t* scratch);

// The tick that advances the pending block's walks while the next block is
// decoded; nothing to do when the block is inverted whole at the end.
DecodeTick inverse_tick(PendingInverse& p);

// Ends the pending block's inverse: on success its t holds the block's
// bytes. Fails as invert_block does. No block is pending afterwards.
[[nodiscard]] Status inverse_end(PendingInverse& p, const HelperThreads* helpers = nullptr);

// The path for blocks of 2^24 bytes and more (links without the byte beside
// them); callable on any block of at least 8 bytes, for tests. With count
// false, bucket_start already holds the bucket starts of t.
[[nodiscard]] Status invert_block_plain(int32_t* bucket_start, uint8_t* t, int32_t n, int32_t primary,
                                        int32_t* links, int32_t* scratch, bool count,
                                        const HelperThreads* helpers = nullptr);

// The whole of one block: decode_block_symbols, block_decoded on progress, then
// invert_block. The coder is loaded when nothing has been written to out yet.
// n is the number of bytes written, 0 at the end marker.
[[nodiscard]] Status decode_block(BlockDecoder& bd, NumberCoder& nc, uint8_t* t, uint32_t block_size,
                                  int32_t* links, int32_t* scratch, ByteOut& out, ProgressSink progress,
                                  int32_t& n);
