#include "dc/block_code.h"

void code_block(DistanceCoder& dc, NumberCoder& nc, const uint8_t* t, int32_t n, int32_t primary) {
    reset_models(nc.models);
    dc_begin_block(dc, nc, n);
    if (n == 0) {
        rc_flush(nc.rc);
        return;
    }
    for (int32_t j = 0; j < n; j++) dc_note_symbol(dc, t[j], j);
    dc_emit(dc, nc, t, n);
    encode_number(nc, static_cast<uint32_t>(primary), 0, 0);
}
