#include "dc/dc_decode.h"

#include <cstring>

Status dc_decode(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, uint32_t max_n, int32_t& n) {
    uint32_t len;
    VORB_TRY(decode_number(nc, 0, 0, len));
    VORB_CHECK(len <= max_n, Status::bad_block_length);
    n = static_cast<int32_t>(len);
    if (n == 0) return Status::ok;

    // Symbol set: ascending values, each with its first position.
    bool seen[256] = {};
    dd.symbol_count = 0;
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
        dd.next_pos[x] = static_cast<int32_t>(first);
        int i = dd.symbol_count;
        while (i > 0 && dd.next_pos[dd.upcoming_list[i - 1]] > dd.next_pos[x]) {
            dd.upcoming_list[i] = dd.upcoming_list[i - 1];
            i--;
        }
        dd.upcoming_list[i] = static_cast<uint8_t>(x);
        dd.symbol_count++;
        VORB_TRY(decode_number(nc, 0, 1, v));
        if (v == 0) break;
    }

    // Runs: the head value owns every position up to the next value's occurrence.
    const int32_t count = dd.symbol_count;
    int32_t i = 0;
    while (i < n) {
        const uint8_t s = dd.upcoming_list[0];
        VORB_CHECK(dd.next_pos[s] == i, Status::bad_run);
        const int32_t e = count >= 2 ? dd.next_pos[dd.upcoming_list[1]] : n;
        VORB_CHECK(e > i && e <= n, Status::bad_run);
        if (e - i <= 8) {
            for (int32_t j = i; j < e; j++) buffer[j] = s;  // most runs are short: no call
        } else {
            std::memset(buffer + i, s, static_cast<size_t>(e - i));
        }
        const uint8_t flag = e - i >= 2 ? 1 : 0;
        i = e;
        uint32_t d;
        VORB_TRY(decode_number(nc, s, flag, d));
        // d < 2^27 and i <= n < 2^27: the candidate cannot overflow.
        const int32_t c = i + static_cast<int32_t>(d);
        int32_t k = 0;
        while (k + 1 < count && dd.next_pos[dd.upcoming_list[k + 1]] <= c + k) {
            dd.upcoming_list[k] = dd.upcoming_list[k + 1];
            k++;
        }
        dd.upcoming_list[k] = s;
        dd.next_pos[s] = c + k;
    }
    return Status::ok;
}
