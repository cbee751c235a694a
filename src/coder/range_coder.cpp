#include "coder/range_coder.h"

void rc_start(RangeCoder& rc) {
    rc.low = 0;
    rc.range = 0xFFFFFFFFu;
}

void rc_normalize(RangeCoder& rc, uint32_t low, uint32_t range) {
    for (;;) {
        uint32_t hi = low + range;
        if ((low ^ hi) >= (1u << 24) && range < rc_min_range) {
            // Narrow and straddling: keep the larger side of the boundary
            // (the upper one on a tie) so no carry can ever be needed.
            const uint32_t o = hi & 0xFF000000u;
            if (hi - o < o - low)
                hi = o - 1;
            else
                low = o;
        }
        while ((low ^ hi) < (1u << 24)) {
            if (rc.mode == rc_mode_unpack)
                rc_get_byte(rc);
            else
                put_byte(*rc.out, static_cast<uint8_t>(low >> 24));
            low <<= 8;
            hi <<= 8;
        }
        range = hi - low;
        if (range >= rc_min_range) break;
    }
    rc.low = low;
    rc.range = range;
}

void rc_flush(RangeCoder& rc) {
    for (int i = 0; i < 4; i++) {
        rc_put_byte(rc);
        rc.low <<= 8;
    }
}

void rc_load(RangeCoder& rc) {
    for (int i = 0; i < 4; i++) rc_get_byte(rc);
}
