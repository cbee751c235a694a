// The list placed with 16-byte vectors, which every x86-64 processor has:
// the plain arrays four entries a step, the packed list eight, from
// whichever end is nearer the value's place.
#include "dc/dc_runs.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <algorithm>
#include <climits>

// PlaceFn for the plain arrays. On nearly incompressible blocks it
// passes about half the list for every byte, so it goes four entries at a
// time, moving them as it goes.
int32_t place_again_sse2(int32_t* list, int32_t* pos, int32_t c, uint8_t s) {
    int32_t j = 1;
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
    const int32_t k = j - 1;
    list[k] = s;
    pos[k] = c + k;
    return k;
}

namespace {

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

// place_again over the packed list: pos[j] < c + j exactly when
// packed[j] < (c + j) << 8, the value taking the low 8 bits.
void place_again_packed(int32_t* packed, int32_t c, uint8_t s) {
    int32_t j = 1;
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
    const int32_t k = j - 1;
    packed[k] = (c + k) << 8 | s;
}

// place_again_packed from the list's far end, for a value whose place lies
// in the back half: the entries from that place on move one up, eight a
// step, and the list then starts one later (the head's place is left
// behind). At least eight places in front of the list are readable.
void place_again_back(int32_t* packed, int32_t count, int32_t c, uint8_t s) {
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

}  // namespace

Status runs_sse2_plain(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker) {
    return plain_runs<place_again_sse2>(dd, nc, buffer, n, 0, ticker);
}

// The runs over the packed list. The list starts at `at` in a wider array
// and moves up as values go in from its back; when it nears the array's end
// it moves down again. A candidate past packed_limit leaves the rest of the
// block to the plain arrays.
Status runs_sse2(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker) {
    if (n >= packed_limit) return runs_sse2_plain(dd, nc, buffer, n, ticker);
    int32_t i = 0;
    const int32_t count = dd.symbol_count;
    int32_t* const room = dd.upcoming_packed;
    int32_t at = list_front;
    std::fill(room, room + upcoming_room, INT32_MAX);
    for (int32_t j = 0; j < count; j++) room[at + j] = dd.upcoming_pos[j] << 8 | dd.upcoming_list[j];
    uint8_t s = static_cast<uint8_t>(room[at]);
    int32_t e = count >= 2 ? room[at + 1] >> 8 : n;
    while (i < n) {
        int32_t* packed = room + at;
        int32_t c;
        VORB_TRY(take_run(nc, buffer, i, e, n, s, dd.value_count, ticker, c));
        if (c >= packed_limit) [[unlikely]] {
            unpack_list<place_again_sse2>(dd, packed, c, s);
            break;
        }
        // The next run, from the list as it is: the entry after the head
        // comes to the head, and its run ends at the entry after it unless
        // the value just decoded lands in between, at c + 1. The next number
        // need not wait for the placement.
        const uint8_t placed = s;
        s = static_cast<uint8_t>(packed[1]);
        e = count >= 2 ? std::min(packed[2] >> 8, c + 1) : n;
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
            place_again_back(packed, count, c, placed);
            at++;
            continue;
        }
        place_again_packed(packed, c, placed);
    }
    return plain_runs<place_again_sse2>(dd, nc, buffer, n, i, ticker);
}

#endif
