// What every way of placing values on the distance decoder's list shares:
// writing a run, taking the next distance, the plain arrays' loop and the
// hand-over from the packed list to them. Each instruction set's placement
// lives in a file of its own (dc_runs_portable.cpp, dc_runs_sse2.cpp,
// dc_runs_avx512.cpp) and comes to dc_decode as one RunsFn.
#pragma once

#include <cstdint>
#include <cstring>

#include "dc/dc_decode.h"

// Places in front of the packed list: the back scan's step may start there.
constexpr int32_t list_front = 8;

// Candidates from here on would not fit beside a value in 31 bits once the
// list's length is added; a block whose length reaches it, or a stream that
// sends a value this far, continues over the two plain arrays.
constexpr int32_t packed_limit = (1 << 23) - 2 * 256;

// Calls the tick between runs once the bytes written reach what it asked for.
struct Ticker {
    DecodeTick* tick;
    int32_t at;
    void after(int32_t written, int32_t n) {
        if (written >= at) [[unlikely]]
            at = tick->fn(tick->ctx, written, n);
    }
};

// Places s again after a run: every entry j >= 1 with pos[j] < c + j holds a
// value that occurs before s does again, and moves one place towards the
// head; s takes the place behind them, which is returned. pos ends with a
// stop mark, so the scan needs no count.
using PlaceFn = int32_t (*)(int32_t* list, int32_t* pos, int32_t c, uint8_t s);

// A block's runs, each value placed again on the list after its run; on a
// packed list while the block's positions allow it.
using RunsFn = Status (*)(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker);

Status runs_portable_plain(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker);
Status runs_portable(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker);
#if defined(__SSE2__)
int32_t place_again_sse2(int32_t* list, int32_t* pos, int32_t c, uint8_t s);
Status runs_sse2_plain(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker);
Status runs_sse2(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker);
#endif
// Built for processors with 64-byte vectors; runs_avx512_available says
// whether this one has them (false where the build cannot make them).
bool runs_avx512_available();
Status runs_avx512(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker);

// Most runs are short: eight bytes are stored at once, past the run's end
// too while inside the block, as later runs overwrite what lies beyond.
inline void write_run(uint8_t* buffer, int32_t i, int32_t e, int32_t n, uint8_t s) {
    if (e - i <= 8 && i + 8 <= n) {
        const uint64_t eight = s * 0x0101010101010101ull;
        std::memcpy(buffer + i, &eight, sizeof eight);
    } else if (e - i <= 8) {
        for (int32_t j = i; j < e; j++) buffer[j] = s;
    } else {
        std::memset(buffer + i, s, static_cast<size_t>(e - i));
    }
}

// The run of s over [i, e), checked against the block end and written; then
// the distance to s's next run, which codes with whether the run is long.
// i moves on to e, and c is where s's next run starts when no value that
// comes in between is counted (d < 2^27 and e <= n < 2^27: no overflow).
inline Status take_run(NumberCoder& nc, uint8_t* buffer, int32_t& i, int32_t e, int32_t n, uint8_t s,
                       int32_t* value_count, Ticker& ticker, int32_t& c) {
    VORB_CHECK(e > i && e <= n, Status::bad_run);
    write_run(buffer, i, e, n, s);
    value_count[s] += e - i;
    uint32_t d;
    VORB_TRY(decode_number(nc, s, e - i >= 2 ? 1 : 0, d));
    i = e;
    ticker.after(i, n);
    c = i + static_cast<int32_t>(d);
    return Status::ok;
}

// The runs over the plain arrays, from i on.
template <PlaceFn place_again>
inline Status plain_runs(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, int32_t i,
                         Ticker ticker) {
    int32_t* list = dd.upcoming_list;
    int32_t* pos = dd.upcoming_pos;
    const int32_t count = dd.symbol_count;
    while (i < n) {
        const uint8_t s = static_cast<uint8_t>(list[0]);
        const int32_t e = count >= 2 ? pos[1] : n;
        int32_t c;
        VORB_TRY(take_run(nc, buffer, i, e, n, s, dd.value_count, ticker, c));
        place_again(list, pos, c, s);
    }
    return Status::ok;
}

// Hands the packed list back to the plain arrays, for a candidate past
// packed_limit (with a default-sized block, only a damaged stream sends
// one), and places s there.
template <PlaceFn place_again>
inline void unpack_list(DistanceDecoder& dd, const int32_t* packed, int32_t c, uint8_t s) {
    for (int32_t j = 0; j < dd.symbol_count; j++) {
        dd.upcoming_pos[j] = packed[j] >> 8;
        dd.upcoming_list[j] = packed[j] & 0xFF;
    }
    place_again(dd.upcoming_list, dd.upcoming_pos, c, s);
}
