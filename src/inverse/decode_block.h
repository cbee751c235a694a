// The inverse transform of a block, and the whole decode of one block: its
// entropy stage, then the inverse, writing the block's bytes out.
#pragma once

#include <cstdint>

#include "coder/byte_stream.h"
#include "coder/progress.h"
#include "coder/status.h"
#include "dc/block_decode.h"
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
                                  int32_t* scratch, const WalkHelpers* helpers = nullptr);

// The path for blocks of 2^24 bytes and more (links without the byte beside
// them); callable on any block of at least 8 bytes, for tests. With count
// false, bucket_start already holds the bucket starts of t.
[[nodiscard]] Status invert_block_plain(int32_t* bucket_start, uint8_t* t, int32_t n, int32_t primary,
                                        int32_t* links, int32_t* scratch, bool count,
                                        const WalkHelpers* helpers = nullptr);

// The whole of one block: decode_block_symbols, an 'H' on progress, then
// invert_block. The coder is loaded when nothing has been written to out yet.
// n is the number of bytes written, 0 at the end marker.
[[nodiscard]] Status decode_block(BlockDecoder& bd, NumberCoder& nc, uint8_t* t, uint32_t block_size,
                                  int32_t* links, int32_t* scratch, ByteOut& out, ProgressSink progress,
                                  int32_t& n);
