#include "dc/dc_decode.h"

#include <algorithm>
#include <climits>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The whole-list placement needs GCC or Clang on x86-64: they compile its
// functions for 64-byte vectors alone and tell at run time whether the
// processor has them.
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define DC_WHOLE_LIST 1
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

#if DC_WHOLE_LIST
// The limits of sixteen entries from j on, (c + j + k) << 8 for k = 0..15.
[[gnu::target("avx512f")]] inline __m512i lane_limits(int32_t cj) {
    const __m512i k = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm512_add_epi32(_mm512_set1_epi32(cj << 8), _mm512_slli_epi32(k, 8));
}

// place_again_packed over the list's first vectors (enough to hold the
// place), sixteen entries a vector, with no branch on where in them it lies.
// On binary and nearly incompressible blocks the place lies anywhere in a
// list of all 256 values, and a scan that stops there mispredicts its stop
// about every run, each time holding up the next number. The entries below
// their limits are a prefix of the list, its positions rising strictly: up
// to the place. So an entry moves one towards the head when the entry after
// it is below its limit too, s goes where the entry is and the one after is
// not, and the rest stay. vectors * 16 entries are rewritten and 16 more
// read; past the list's end they are stop marks.
[[gnu::target("avx512f")]] inline void place_again_whole(int32_t* packed, int32_t vectors, int32_t c, uint8_t s) {
    const __m512i sixteen = _mm512_set1_epi32(16 << 8);
    const __m512i one = _mm512_set1_epi32(1 << 8);
    const __m512i value = _mm512_set1_epi32(s);
    __m512i limit = lane_limits(c);
    __m512i here = _mm512_loadu_si512(packed);
    for (int32_t v = 0; v < vectors; v++, limit = _mm512_add_epi32(limit, sixteen)) {
        const __m512i next = _mm512_loadu_si512(packed + 16 * (v + 1));
        // Each entry's successor beside it. Every lane merged is the plain
        // instruction; GCC 12 warns on the unmerged form's undefined source.
        const __m512i after = _mm512_mask_alignr_epi32(here, 0xFFFF, next, here, 1);
        const __mmask16 to_place = _mm512_cmplt_epi32_mask(here, limit);
        const __mmask16 before_place = _mm512_cmplt_epi32_mask(after, _mm512_add_epi32(limit, one));
        __m512i out = _mm512_mask_or_epi32(here, to_place, limit, value);
        out = _mm512_mask_mov_epi32(out, before_place, after);
        _mm512_storeu_si512(packed + 16 * v, out);
        here = next;
    }
}
#endif

// Places in front of the packed list: the back scan's step may start there.
constexpr int32_t list_front = 8;

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

// Hands the packed list back to the plain arrays, for a candidate past
// packed_limit (with a default-sized block, only a damaged stream sends
// one), and places s there.
void unpack_list(DistanceDecoder& dd, const int32_t* packed, int32_t c, uint8_t s) {
    for (int32_t j = 0; j < dd.symbol_count; j++) {
        dd.upcoming_pos[j] = packed[j] >> 8;
        dd.upcoming_list[j] = packed[j] & 0xFF;
    }
    place_again(dd.upcoming_list, dd.upcoming_pos, c, s);
}

// The runs over the packed list, from i while i < n. The list starts at `at`
// in a wider array and moves up as values go in from its back; when it nears
// the array's end it moves down again. A candidate past packed_limit leaves
// the rest of the block to the plain arrays.
Status packed_runs(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, int32_t& i, Ticker& ticker) {
    const int32_t count = dd.symbol_count;
    int32_t* const room = dd.upcoming_packed;
    int32_t at = list_front;
    std::fill(room, room + upcoming_room, INT32_MAX);
    for (int32_t j = 0; j < count; j++) room[at + j] = dd.upcoming_pos[j] << 8 | dd.upcoming_list[j];
    while (i < n) {
        int32_t* packed = room + at;
        const uint8_t s = static_cast<uint8_t>(packed[0]);
        const int32_t e = count >= 2 ? packed[1] >> 8 : n;
        int32_t c;
        VORB_TRY(take_run(nc, buffer, i, e, n, s, dd.value_count, ticker, c));
        if (c >= packed_limit) [[unlikely]] {
            unpack_list(dd, packed, c, s);
            break;
        }
#if defined(__SSE2__)
        // Which half the place lies in, from the middle entry. A list this
        // long is then searched from the front only up to the middle, so
        // past its end nothing is read for its value and the stop mark need
        // not follow it.
        const int32_t mid = count >> 1;
        if (count >= 16 && packed[mid] < (c + mid) << 8) {
            if (at + count + upcoming_pad >= upcoming_room) {
                std::memmove(room + list_front, packed, static_cast<size_t>(count) * sizeof(int32_t));
                at = list_front;
                packed = room + at;
            }
            place_again_back(packed, count, c, s);
            at++;
            continue;
        }
#endif
        place_again_packed(packed, c, s);
    }
    return Status::ok;
}

#if DC_WHOLE_LIST
// The vectors the rewrite must cover: up to the one holding s's place. The
// place lies before entry j exactly when entry j is not below its limit, so
// two looks, at entries 32 and 64, spare the rest of the list. Text values
// come back soon and land near the head, and the looks' outcomes run in
// streaks, so they seldom mispredict.
inline int32_t vectors_to_place(const int32_t* packed, int32_t vectors, int32_t c) {
    if (vectors > 2 && packed[32] >= (c + 32) << 8) return 2;
    if (vectors > 4 && packed[64] >= (c + 64) << 8) return 4;
    return vectors;
}

// packed_runs with the whole list placed at once; the list stays put. The
// next run's value and end are taken from the list as it was, so the next
// number need not wait for the placement: the value is the entry after the
// head, and the end is the one after that unless s lands in between, at c + 1.
// Compiled for 64-byte vectors as a whole, so that the placement inlines.
[[gnu::target("avx512f"), gnu::flatten]] Status whole_runs(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer,
                                                           int32_t n, int32_t& i, Ticker& ticker) {
    const int32_t count = dd.symbol_count;
    const int32_t vectors = (count + 15) / 16;
    int32_t* const packed = dd.upcoming_packed + list_front;
    std::fill(packed, packed + 16 * (vectors + 1), INT32_MAX);
    for (int32_t j = 0; j < count; j++) packed[j] = dd.upcoming_pos[j] << 8 | dd.upcoming_list[j];
    uint8_t s = static_cast<uint8_t>(packed[0]);
    int32_t e = count >= 2 ? packed[1] >> 8 : n;
    while (i < n) {
        int32_t c;
        VORB_TRY(take_run(nc, buffer, i, e, n, s, dd.value_count, ticker, c));
        if (c >= packed_limit) [[unlikely]] {
            unpack_list(dd, packed, c, s);
            break;
        }
        const uint8_t next = static_cast<uint8_t>(packed[1]);
        e = std::min(packed[2] >> 8, c + 1);
        place_again_whole(packed, vectors_to_place(packed, vectors, c), c, s);
        s = next;
    }
    return Status::ok;
}
#endif

}  // namespace

bool dc_whole_list_available() {
#if DC_WHOLE_LIST
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

    // Runs: packed first, where the positions allow.
    int32_t i = 0;
    Ticker ticker{tick, tick ? 0 : INT32_MAX};
    if (n < packed_limit && !dd.plain_arrays) {
#if DC_WHOLE_LIST
        if (dd.whole_list && dc_whole_list_available())
            VORB_TRY(whole_runs(dd, nc, buffer, n, i, ticker));
        else
#endif
            VORB_TRY(packed_runs(dd, nc, buffer, n, i, ticker));
    }
    while (i < n) {
        const uint8_t s = static_cast<uint8_t>(list[0]);
        const int32_t e = count >= 2 ? pos[1] : n;
        int32_t c;
        VORB_TRY(take_run(nc, buffer, i, e, n, s, dd.value_count, ticker, c));
        place_again(list, pos, c, s);
    }
    return Status::ok;
}
