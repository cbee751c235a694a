#include "archive/salvage_decoder.h"

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
    VORB_CHECK(setup_parts(d.links, block_size, part_index | part_distance), Status::out_of_memory);
    return Status::ok;
}

void salvage_coder_start(SalvageDecoder& d, ByteIn& in) {
    d.nc->rc = RangeCoder{};
    d.nc->rc.mode = rc_mode_unpack;
    d.nc->rc.in = &in;
    rc_start(d.nc->rc);
}
