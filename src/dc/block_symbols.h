// Entropy decoding of one block, the counterpart of code_block: the length,
// the symbol set, the distances and the primary index, back into the
// transformed block.
#pragma once

#include <cstdint>

#include "coder/model.h"
#include "common/status.h"
#include "dc/dc_decode.h"

struct BlockDecoder {
    DistanceDecoder dd;
    int32_t bucket_start[256];  // scratch of the inverse transform
};

// Models reset, the coder loaded at a member's first block, the transformed
// block into t[0, n) (n <= block_size) and its primary index. n = 0 is the
// end marker. tick, when given, runs between the block's runs.
[[nodiscard]] Status decode_block_symbols(BlockDecoder& bd, NumberCoder& nc, uint8_t* t, uint32_t block_size,
                                          bool first_block, int32_t& n, int32_t& primary,
                                          DecodeTick* tick = nullptr);
