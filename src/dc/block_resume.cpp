#include "dc/block_resume.h"

#include <cassert>

CoderState coder_state(const RangeCoder& rc, uint64_t stream_start) {
    return CoderState{bytes_out(*rc.out) - stream_start, rc.low, rc.range};
}

Status decode_block_resumed(BlockDecoder& bd, NumberCoder& nc, const uint8_t* bytes, size_t len,
                            const CoderState& start, uint8_t* t, uint32_t block_size, int32_t& n, int32_t& primary,
                            CoderState& end, DecodeTick* tick) {
    // Callers pass only states the index checks let through: a narrower
    // range would make the model's unit zero.
    assert(start.range >= rc_min_range && start.low <= UINT32_MAX - start.range);
    ByteIn in;
    byte_in_from_memory(in, bytes, len);
    nc.rc.mode = rc_mode_unpack;
    nc.rc.in = &in;
    nc.rc.low = start.low;
    nc.rc.range = start.range;
    rc_load(nc.rc);
    const Status st = decode_block_symbols(bd, nc, t, block_size, false, n, primary, tick);
    nc.rc.in = nullptr;
    VORB_CHECK(!in.overread, Status::truncated);
    VORB_TRY(st);
    end = CoderState{start.written + bytes_in(in) - coder_lookahead, nc.rc.low, nc.rc.range};
    return Status::ok;
}
