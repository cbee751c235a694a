#include "dc/block_symbols.h"

Status decode_block_symbols(BlockDecoder& bd, NumberCoder& nc, uint8_t* t, uint32_t block_size, bool first_block,
                            int32_t& n, int32_t& primary, DecodeTick* tick) {
    reset_models(nc.models);
    if (first_block) rc_load(nc.rc);
    VORB_TRY(dc_decode(bd.dd, nc, t, block_size, n, tick));
    if (n == 0) return Status::ok;
    uint32_t p;
    VORB_TRY(decode_number(nc, 0, 0, p));
    VORB_CHECK(p < static_cast<uint32_t>(n), Status::bad_primary_index);
    primary = static_cast<int32_t>(p);
    return Status::ok;
}
