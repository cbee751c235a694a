#include "archive/salvage_decoder.h"

#include <algorithm>
#include <cassert>

SalvageDecoder::~SalvageDecoder() {
    for (BlockBuffers& b : slots) release_buffers(b);
    release_buffers(links);
}

uint64_t salvage_decoder_memory(uint32_t block_size) {
    return 2 * parts_bytes(block_size, part_block) + parts_bytes(block_size, part_index | part_distance) +
           max_packed_bytes(block_size) + sizeof(SalvageDecoder) + sizeof(BlockDecoder) + sizeof(NumberCoder);
}

Status salvage_decoder_init(SalvageDecoder& d, uint32_t block_size, uint64_t memory_limit) {
    VORB_CHECK(memory_limit == 0 || salvage_decoder_memory(block_size) <= memory_limit, Status::out_of_memory);
    d.block_size = block_size;
    for (BlockBuffers& b : d.slots) VORB_CHECK(setup_parts(b, block_size, part_block), Status::out_of_memory);
    return Status::ok;
}

Status salvage_links(SalvageDecoder& d, int32_t n) {
    assert(n >= 0 && static_cast<uint32_t>(n) <= d.block_size && !d.pending.t);
    const uint32_t need = static_cast<uint32_t>(n);
    if (d.links.index && d.links.block_size >= need) return Status::ok;
    // Doubling keeps the reallocations few; the first is small.
    constexpr uint32_t least = 64 << 10;
    const uint32_t grown = std::min(d.block_size, std::max({need, least, d.links.block_size * 2}));
    VORB_CHECK(setup_parts(d.links, grown, part_index | part_distance), Status::out_of_memory);
    return Status::ok;
}

void salvage_coder_start(SalvageDecoder& d, ByteIn& in) {
    d.nc->rc = RangeCoder{};
    d.nc->rc.mode = rc_mode_unpack;
    d.nc->rc.in = &in;
    rc_start(d.nc->rc);
}
