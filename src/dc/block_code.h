// Codes one transformed block as the block stream lays it out: the length,
// the symbol set with first positions, the distances, the primary index.
#pragma once

#include <cstdint>

#include "dc/dc_encode.h"

// Resets the models and codes t[0, n) with its primary index. n = 0 codes the
// end marker and flushes the coder, which ends the member's stream.
// dc.distance must hold at least n entries.
void code_block(DistanceCoder& dc, NumberCoder& nc, const uint8_t* t, int32_t n, int32_t primary);
