// Starting a member's stream at any block. Only the range coder's registers
// cross a block boundary (the models restart at every block), so a block
// decodes on its own from the coder state recorded when it was coded and the
// stream bytes from that point on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coder/model.h"
#include "common/status.h"
#include "dc/block_symbols.h"

// Bytes rc_load takes before the first step: a decoder reads this far ahead
// of what the coder had written, and rc_flush ends a stream with as many.
constexpr uint64_t coder_lookahead = 4;

// Where the coder stands between two blocks: how many bytes of the member's
// stream it had written, and its interval. rc_start's state at written 0.
struct CoderState {
    uint64_t written = 0;
    uint32_t low = 0;
    uint32_t range = 0xFFFFFFFFu;
    bool operator==(const CoderState&) const = default;
};

// The packing coder's state now, for a stream that began at stream_start
// bytes of its sink.
CoderState coder_state(const RangeCoder& rc, uint64_t stream_start);

// Decodes the numbers of one block starting from state `start`. bytes holds
// the member's stream from position start.written on, len bytes of it. The
// decoder reads four bytes ahead of what the coder had written, so a block
// needs bytes [start.written, next.written + 4). `end` receives the state
// after the block, to compare with the next block's recorded start. Reading
// past len is reported as truncated. tick, when given, runs between runs.
[[nodiscard]] Status decode_block_resumed(BlockDecoder& bd, NumberCoder& nc, const uint8_t* bytes, size_t len,
                                          const CoderState& start, uint8_t* t, uint32_t block_size, int32_t& n,
                                          int32_t& primary, CoderState& end, DecodeTick* tick = nullptr);
