// What salvage decodes blocks with: one thread, two block buffers so that a
// block's inverse runs while the next block's numbers are decoded (as
// unpacking on one thread does), and the coder and tables they share.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "coder/model.h"
#include "common/status.h"
#include "dc/block_buffers.h"
#include "dc/block_symbols.h"
#include "inverse/invert_block.h"

struct SalvageDecoder {
    uint32_t block_size = 0;
    BlockBuffers slots[2];  // block bytes only
    BlockBuffers links;     // the index and distance arrays of an inverse, grown to the largest block yet
    int32_t bucket_start[256];
    PendingInverse pending;
    std::unique_ptr<BlockDecoder> bd = std::make_unique<BlockDecoder>();
    std::unique_ptr<NumberCoder> nc = std::make_unique<NumberCoder>();
    std::vector<uint8_t> packed;  // an indexed block's stream bytes
    SalvageDecoder() = default;
    SalvageDecoder(const SalvageDecoder&) = delete;
    SalvageDecoder& operator=(const SalvageDecoder&) = delete;
    ~SalvageDecoder();
};

// The most stream bytes a packer writes for one block: incompressible bytes
// grow by well under an eighth. An index record claiming more is damage, and
// is not read into memory.
inline uint64_t max_packed_bytes(uint32_t block_size) { return uint64_t{block_size} + block_size / 8 + (64 << 10); }

// Bytes salvage_decoder_init allocates for block_size, and packed at most.
uint64_t salvage_decoder_memory(uint32_t block_size);

// Buffers for blocks up to block_size; out_of_memory when they cannot be
// had, or when they take more than memory_limit bytes (0: no limit).
[[nodiscard]] Status salvage_decoder_init(SalvageDecoder& d, uint32_t block_size, uint64_t memory_limit);

// Makes the links hold a block of n bytes (n <= d.block_size): eight bytes
// per block byte, so they grow with the blocks met rather than the largest
// the block size allows, which a damaged header only guesses. Never while an
// inverse is pending.
[[nodiscard]] Status salvage_links(SalvageDecoder& d, int32_t n);

// Restarts the coder on in for a member's stream, or for a block from a
// recorded coder state.
void salvage_coder_start(SalvageDecoder& d, ByteIn& in);
