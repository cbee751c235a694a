#include "dc/dc_decode.h"

#include <algorithm>
#include <climits>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The wide scan needs GCC or Clang on x86-64: they compile its functions for
// 64-byte vectors alone and tell at run time whether the processor has them.
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define DC_WIDE_SCAN 1
#endif

namespace {

// Places s again after a run: every entry j >= 1 with pos[j] < c + j holds a
// value that occurs before s does again, and moves one place towards the
// head; s takes the place behind them, which is returned. pos ends with a
// stop mark, so the scan needs no count. On nearly incompressible blocks it
// passes about half the list for every byte, so it goes four entries at a
// time, moving them as it goes.
inline int32_t place_again(int32_t* list, int32_t* pos, int32_t c, uint8_t s) {
    int32_t j = 1;
#if defined(__SSE2__)
    const __m128i four = _mm_set1_epi32(4);
    __m128i limit = _mm_add_epi32(_mm_set1_epi32(c + 1), _mm_setr_epi32(0, 1, 2, 3));  // c + j, ..., c + j + 3
    for (;; limit = _mm_add_epi32(limit, four)) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos + j));
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list + j));
        const int below = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(p, limit)));
        if (below != 0xF) {
            const int32_t end = j + __builtin_ctz(~below);
            for (; j < end; j++) {
                pos[j - 1] = pos[j];
                list[j - 1] = list[j];
            }
            break;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pos + j - 1), p);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(list + j - 1), l);
        j += 4;
    }
#else
    for (; pos[j] < c + j; j++) {
        pos[j - 1] = pos[j];
        list[j - 1] = list[j];
    }
#endif
    const int32_t k = j - 1;
    list[k] = s;
    pos[k] = c + k;
    return k;
}

#if defined(__SSE2__)
// Eight entries of the packed list, in two vectors.
struct Eight {
    __m128i lo, hi;
};
inline Eight load_eight(const int32_t* p) {
    return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4))};
}
inline void store_eight(int32_t* p, Eight e) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), e.lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 4), e.hi);
}
// The limits of four entries from j on, (c + j + k) << 8 for k = 0..3.
inline __m128i limits_from(int32_t cj) {
    return _mm_add_epi32(_mm_set1_epi32(cj << 8), _mm_setr_epi32(0, 1 << 8, 2 << 8, 3 << 8));
}
// Bit k set: entry k of e lies below its limit (limit's, then four on).
inline int eight_below(Eight e, __m128i limit) {
    const __m128i four = _mm_set1_epi32(4 << 8);
    return _mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(e.lo, limit))) |
           _mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(e.hi, _mm_add_epi32(limit, four)))) << 4;
}
#endif

// place_again over the packed list: pos[j] < c + j exactly when
// packed[j] < (c + j) << 8, the value taking the low 8 bits.
inline void place_again_packed(int32_t* packed, int32_t c, uint8_t s) {
    int32_t j = 1;
#if defined(__SSE2__)
    const __m128i eight = _mm_set1_epi32(8 << 8);
    for (__m128i limit = limits_from(c + 1);; limit = _mm_add_epi32(limit, eight)) {
        const Eight e = load_eight(packed + j);
        const int below = eight_below(e, limit);
        if (below != 0xFF) {
            // The step moves whole, then the entries from the stop on are
            // put back: no loop over the last few to mispredict.
            const int32_t end = j + __builtin_ctz(~below);
            const Eight kept = load_eight(packed + end);
            store_eight(packed + j - 1, e);
            store_eight(packed + end, kept);
            j = end;
            break;
        }
        store_eight(packed + j - 1, e);
        j += 8;
    }
#else
    for (; packed[j] < (c + j) << 8; j++) packed[j - 1] = packed[j];
#endif
    const int32_t k = j - 1;
    packed[k] = (c + k) << 8 | s;
}

#if defined(__SSE2__)
// place_again_packed from the list's far end, for a value whose place lies
// in the back half: the entries from that place on move one up, eight a
// step, and the list then starts one later (the head's place is left
// behind). At least eight places in front of the list are readable.
inline void place_again_back(int32_t* packed, int32_t count, int32_t c, uint8_t s) {
    const __m128i eight = _mm_set1_epi32(8 << 8);
    int32_t j = count - 8;  // the step's lowest entry
    for (__m128i limit = limits_from(c + j);; j -= 8, limit = _mm_sub_epi32(limit, eight)) {
        const Eight e = load_eight(packed + j);
        const int below = eight_below(e, limit);
        if (below != 0) {
            // The head always stays, so every search ends here. The step
            // moves up whole and the entries up to the place are put back.
            const int32_t at = j + 32 - __builtin_clz(static_cast<uint32_t>(below));
            const Eight kept = load_eight(packed + at - 8);
            store_eight(packed + j + 1, e);
            store_eight(packed + at - 8, kept);
            packed[at] = (c + at - 1) << 8 | s;
            return;
        }
        store_eight(packed + j + 1, e);
    }
}
#endif

#if DC_WIDE_SCAN
// place_again_packed and place_again_back sixteen entries a step. Nearly
// incompressible blocks keep all 256 values in the list, and a value's place
// lies anywhere in it: half as many steps there.
[[gnu::target("avx512f")]] inline __m512i limits_from_wide(int32_t cj) {
    const __m512i k = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm512_add_epi32(_mm512_set1_epi32(cj << 8), _mm512_slli_epi32(k, 8));
}

[[gnu::target("avx512f")]] inline void place_again_packed_wide(int32_t* packed, int32_t c, uint8_t s) {
    const __m512i sixteen = _mm512_set1_epi32(16 << 8);
    int32_t j = 1;
    for (__m512i limit = limits_from_wide(c + 1);; limit = _mm512_add_epi32(limit, sixteen)) {
        const __m512i e = _mm512_loadu_si512(packed + j);
        const uint32_t below = _mm512_cmplt_epi32_mask(e, limit);
        if (below != 0xFFFF) {
            // Whole stores, not masked ones: the next run's loads of the
            // list's head can then be forwarded from them.
            const int32_t end = j + __builtin_ctz(~below);
            const __m512i kept = _mm512_loadu_si512(packed + end);
            _mm512_storeu_si512(packed + j - 1, e);
            _mm512_storeu_si512(packed + end, kept);
            j = end;
            break;
        }
        _mm512_storeu_si512(packed + j - 1, e);
        j += 16;
    }
    const int32_t k = j - 1;
    packed[k] = (c + k) << 8 | s;
}

// Sixteen places in front of the list are readable.
[[gnu::target("avx512f")]] inline void place_again_back_wide(int32_t* packed, int32_t count, int32_t c, uint8_t s) {
    const __m512i sixteen = _mm512_set1_epi32(16 << 8);
    int32_t j = count - 16;
    for (__m512i limit = limits_from_wide(c + j);; j -= 16, limit = _mm512_sub_epi32(limit, sixteen)) {
        const __m512i e = _mm512_loadu_si512(packed + j);
        const uint32_t below = _mm512_cmplt_epi32_mask(e, limit);
        if (below != 0) {
            const int32_t at = j + 32 - __builtin_clz(below);
            const __m512i kept = _mm512_loadu_si512(packed + at - 16);
            _mm512_storeu_si512(packed + j + 1, e);
            _mm512_storeu_si512(packed + at - 16, kept);
            packed[at] = (c + at - 1) << 8 | s;
            return;
        }
        _mm512_storeu_si512(packed + j + 1, e);
    }
}
#endif

// The placement scans of the packed list, one vector width each: step
// entries a step, and whether a place in the back half is searched from the
// list's end.
struct NarrowScan {
    static constexpr int32_t step = 8;
#if defined(__SSE2__)
    static constexpr bool from_back = true;
    static void back(int32_t* packed, int32_t count, int32_t c, uint8_t s) { place_again_back(packed, count, c, s); }
#else
    static constexpr bool from_back = false;
#endif
    static void front(int32_t* packed, int32_t c, uint8_t s) { place_again_packed(packed, c, s); }
};

#if DC_WIDE_SCAN
struct WideScan {
    static constexpr int32_t step = 16;
    static constexpr bool from_back = true;
    [[gnu::target("avx512f")]] static void back(int32_t* packed, int32_t count, int32_t c, uint8_t s) {
        place_again_back_wide(packed, count, c, s);
    }
    [[gnu::target("avx512f")]] static void front(int32_t* packed, int32_t c, uint8_t s) {
        place_again_packed_wide(packed, c, s);
    }
};
#endif

// Places in front of the packed list: the back scan's widest step may start there.
constexpr int32_t list_front = 16;

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
inline Status take_run(NumberCoder& nc, uint8_t* buffer, int32_t i, int32_t e, int32_t n, uint8_t s, uint32_t& d,
                       int32_t* value_count) {
    VORB_CHECK(e > i && e <= n, Status::bad_run);
    write_run(buffer, i, e, n, s);
    value_count[s] += e - i;
    return decode_number(nc, s, e - i >= 2 ? 1 : 0, d);
}

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

// The runs over the packed list, from i while i < n. The list starts at `at`
// in a wider array and moves up as values go in from its back; when it nears
// the array's end it moves down again. A candidate past packed_limit leaves
// the rest of the block to the plain arrays, which then hold the list.
template <class Scan>
inline Status packed_runs(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, int32_t& i,
                          Ticker& ticker) {
    const int32_t count = dd.symbol_count;
    int32_t* const room = dd.upcoming_packed;
    int32_t at = list_front;
    std::fill(room, room + upcoming_room, INT32_MAX);
    for (int32_t j = 0; j < count; j++) room[at + j] = dd.upcoming_pos[j] << 8 | dd.upcoming_list[j];
    while (i < n) {
        int32_t* packed = room + at;
        const uint8_t s = static_cast<uint8_t>(packed[0]);
        VORB_CHECK(packed[0] >> 8 == i, Status::bad_run);
        const int32_t e = count >= 2 ? packed[1] >> 8 : n;
        uint32_t d;
        VORB_TRY(take_run(nc, buffer, i, e, n, s, d, dd.value_count));
        i = e;
        ticker.after(i, n);
        const int32_t c = i + static_cast<int32_t>(d);
        if (c < packed_limit) [[likely]] {
            if constexpr (Scan::from_back) {
                // Which half the place lies in, from the middle entry. A list
                // this long is then searched from the front only up to the
                // middle, so past its end nothing is read for its value and
                // the stop mark need not follow it.
                const int32_t mid = count >> 1;
                if (count >= 2 * Scan::step && packed[mid] < (c + mid) << 8) {
                    if (at + count + upcoming_pad >= upcoming_room) {
                        std::memmove(room + list_front, packed, static_cast<size_t>(count) * sizeof(int32_t));
                        at = list_front;
                        packed = room + at;
                    }
                    Scan::back(packed, count, c, s);
                    at++;
                    continue;
                }
            }
            Scan::front(packed, c, s);
            continue;
        }
        // Only a damaged stream gets here with a default-sized block.
        for (int32_t j = 0; j < count; j++) {
            dd.upcoming_pos[j] = packed[j] >> 8;
            dd.upcoming_list[j] = packed[j] & 0xFF;
        }
        place_again(dd.upcoming_list, dd.upcoming_pos, c, s);
        break;
    }
    return Status::ok;
}

Status packed_runs_narrow(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, int32_t& i,
                          Ticker& ticker) {
    return packed_runs<NarrowScan>(dd, nc, buffer, n, i, ticker);
}

#if DC_WIDE_SCAN
// Compiled for 64-byte vectors as a whole, so that the wide scans inline.
[[gnu::target("avx512f"), gnu::flatten]] Status packed_runs_wide(DistanceDecoder& dd, NumberCoder& nc,
                                                                 uint8_t* buffer, int32_t n, int32_t& i,
                                                                 Ticker& ticker) {
    return packed_runs<WideScan>(dd, nc, buffer, n, i, ticker);
}
#endif

}  // namespace

bool dc_wide_scan_available() {
#if DC_WIDE_SCAN
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
#else
    return false;
#endif
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

    // Symbol set: ascending values, each with its first position.
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

    // Runs: the head value owns every position up to the next value's
    // occurrence. Packed first, where the positions allow.
    int32_t i = 0;
    Ticker ticker{tick, tick ? 0 : INT32_MAX};
    if (n < packed_limit && !dd.plain_arrays) {
#if DC_WIDE_SCAN
        if (dd.wide_scan && dc_wide_scan_available())
            VORB_TRY(packed_runs_wide(dd, nc, buffer, n, i, ticker));
        else
#endif
            VORB_TRY(packed_runs_narrow(dd, nc, buffer, n, i, ticker));
    }
    while (i < n) {
        const uint8_t s = static_cast<uint8_t>(list[0]);
        VORB_CHECK(pos[0] == i, Status::bad_run);
        const int32_t e = count >= 2 ? pos[1] : n;
        uint32_t d;
        VORB_TRY(take_run(nc, buffer, i, e, n, s, d, dd.value_count));
        i = e;
        ticker.after(i, n);
        // d < 2^27 and i <= n < 2^27: the candidate cannot overflow.
        const int32_t c = i + static_cast<int32_t>(d);
        place_again(list, pos, c, s);
    }
    return Status::ok;
}
