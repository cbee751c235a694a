#include "dc/dc_decode.h"

#include <climits>
#include <cstring>

#include "dc/dc_runs.h"

bool dc_placement_available(DcPlacement p) {
    switch (p) {
        case DcPlacement::portable_plain:
        case DcPlacement::portable: return true;
#if defined(__SSE2__)
        case DcPlacement::sse2_plain:
        case DcPlacement::sse2: return true;
#endif
        case DcPlacement::avx512: return runs_avx512_available();
        default: return false;
    }
}

DcPlacement dc_best_placement() {
    if (dc_placement_available(DcPlacement::avx512)) return DcPlacement::avx512;
    if (dc_placement_available(DcPlacement::sse2)) return DcPlacement::sse2;
    return DcPlacement::portable;
}

DcRunsFn dc_runs_for(DcPlacement p) {
    switch (p) {
        case DcPlacement::portable_plain: return runs_portable_plain;
#if defined(__SSE2__)
        case DcPlacement::sse2_plain: return runs_sse2_plain;
        case DcPlacement::sse2: return runs_sse2;
#endif
        case DcPlacement::avx512: return runs_avx512;
        default: return runs_portable;
    }
}

bool dc_use_placement(DistanceDecoder& dd, DcPlacement p) {
    if (!dc_placement_available(p)) return false;
    dd.runs = dc_runs_for(p);
    return true;
}

Status dc_decode(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, uint32_t max_n, int32_t& n,
                 DecodeTick* tick) {
    uint32_t len;
    VORB_TRY(decode_number(nc, 0, 0, len));
    VORB_CHECK(len <= max_n, Status::bad_block_length);
    n = static_cast<int32_t>(len);
    if (n == 0) return Status::ok;

    std::memset(dd.value_count, 0, sizeof dd.value_count);
    int32_t* list = dd.upcoming_list;
    int32_t* pos = dd.upcoming_pos;

    // Symbol set: ascending values, each with its first position. No two
    // share a position, so the list's positions rise strictly, and stay so
    // as runs place their values again.
    bool seen[256] = {};
    int32_t count = 0;
    uint32_t x = 0;
    uint32_t v;
    VORB_TRY(decode_number(nc, 0, 1, v));
    for (;;) {
        x = (x + v) & 0xFF;
        VORB_CHECK(!seen[x], Status::bad_symbol_set);
        seen[x] = true;
        uint32_t first;
        VORB_TRY(decode_number(nc, static_cast<uint8_t>(x), 0, first));
        VORB_CHECK(first < len, Status::bad_symbol_set);
        int32_t i = count;
        while (i > 0 && pos[i - 1] > static_cast<int32_t>(first)) {
            list[i] = list[i - 1];
            pos[i] = pos[i - 1];
            i--;
        }
        VORB_CHECK(i == 0 || pos[i - 1] != static_cast<int32_t>(first), Status::bad_symbol_set);
        list[i] = static_cast<int32_t>(x);
        pos[i] = static_cast<int32_t>(first);
        count++;
        VORB_TRY(decode_number(nc, 0, 1, v));
        if (v == 0) break;
    }
    dd.symbol_count = count;
    // n and every distance are below 2^27, so no candidate reaches the stop mark.
    for (int32_t j = count; j < count + upcoming_pad; j++) {
        pos[j] = INT32_MAX;
        list[j] = 0;
    }
    // The head owns every position up to the next value's first one, from
    // the block's start. Each run after the first starts where the one
    // before ended, at the next value's position, so this is checked once.
    VORB_CHECK(pos[0] == 0, Status::bad_run);

    Ticker ticker{tick, tick ? 0 : INT32_MAX};
    return dd.runs(dd, nc, buffer, n, ticker);
}
