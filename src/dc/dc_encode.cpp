#include "dc/dc_encode.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// list[0, k) moves one place up and x goes in front: a value seen for the
// first time, a few hundred times a block at most.
inline void move_to_front(uint8_t* list, int k, uint8_t x) {
    std::memmove(list + 1, list, static_cast<size_t>(k));
    list[0] = x;
}

// Finds x in list[1, ...), where it is known to be, and moves it to the
// front; returns its index before the move. On nearly incompressible blocks
// x lies about halfway down a list of 256 values, so the search goes sixteen
// entries at a time and moves each group up by one as it passes, the byte
// that falls off a group's top carried into the next; in x's group only the
// entries up to x's place move.
inline int find_and_move_to_front(uint8_t* list, uint8_t x) {
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8(static_cast<char>(x));
    const __m128i place = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i carry = _mm_cvtsi32_si128(x);  // what goes into the group's lowest byte
    for (int k = 0;; k += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list + k));
        const int hit = _mm_movemask_epi8(_mm_cmpeq_epi8(v, want));
        const __m128i up = _mm_or_si128(_mm_slli_si128(v, 1), carry);
        if (hit) {
            const int h = __builtin_ctz(static_cast<unsigned>(hit));
            const __m128i moves = _mm_cmplt_epi8(place, _mm_set1_epi8(static_cast<char>(h + 1)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(list + k),
                             _mm_or_si128(_mm_and_si128(moves, up), _mm_andnot_si128(moves, v)));
            return k + h;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(list + k), up);
        carry = _mm_srli_si128(v, 15);
    }
#else
    int k = 1;  // index 0 holds the previous run's value, not x
    while (list[k] != x) k++;
    move_to_front(list, k, x);
    return k;
#endif
}

}  // namespace

void dc_scan_block(DistanceCoder& dc, const uint8_t* t, int32_t n) {
    std::memset(dc.last_pos, 0xFF, sizeof dc.last_pos);
    dc.symbol_count = 0;
    dc.run_count = 0;
    dc.stage = dc_stage_length;
    dc.item = 0;
    dc.pos = 0;
    for (int32_t j = 0; j < n;) {
        const int32_t e = run_end(t, j, n);
        dc_note_new_run(dc, t[j], j);
        dc.last_pos[t[j]] = e - 1;
        j = e;
    }
    // The run of the i-th most recent value has i distinct values after it.
    for (int i = 0; i < dc.symbol_count; i++) {
        const uint8_t x = dc.mtf_list[i];
        dc.distance[dc.last_run[x]] = n - dc.last_pos[x] - i - 1;
    }
}

void dc_note_new_run(DistanceCoder& dc, uint8_t x, int32_t pos) {
    int k;
    if (dc.last_pos[x] < 0) {
        dc.first_pos[x] = pos;
        k = dc.symbol_count;  // the list's first free place; move_to_front fills it
        int i = dc.symbol_count;
        while (i > 0 && dc.sorted_symbols[i - 1] > x) {
            dc.sorted_symbols[i] = dc.sorted_symbols[i - 1];
            i--;
        }
        dc.sorted_symbols[i] = x;
        dc.symbol_count++;
        move_to_front(dc.mtf_list, k, x);
    } else {
        k = find_and_move_to_front(dc.mtf_list, x);
        dc.distance[dc.last_run[x]] = pos - dc.last_pos[x] - k - 1;
    }
    dc.last_pos[x] = pos;
    dc.last_run[x] = dc.run_count++;
}
