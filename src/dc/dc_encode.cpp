#include "dc/dc_encode.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Index of x in list[1, ...), where it is known to be. On nearly
// incompressible blocks x lies about halfway down a list of 256 values, so
// sixteen entries are compared at a time.
inline int find_in_list(const uint8_t* list, uint8_t x) {
    int k = 1;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8(static_cast<char>(x));
    for (;; k += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list + k));
        const int hit = _mm_movemask_epi8(_mm_cmpeq_epi8(v, want));
        if (hit) return k + __builtin_ctz(static_cast<unsigned>(hit));
    }
#else
    while (list[k] != x) k++;
    return k;
#endif
}

}  // namespace

void dc_scan_block(DistanceCoder& dc, const uint8_t* t, int32_t n) {
    std::memset(dc.last_pos, 0xFF, sizeof dc.last_pos);
    dc.symbol_count = 0;
    dc.prev_symbol = -1;
    dc.run_count = 0;
    dc.stage = dc_stage_length;
    dc.item = 0;
    dc.pos = 0;
    for (int32_t j = 0; j < n; j++) dc_note_symbol(dc, t[j], j);
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
        k = dc.symbol_count;
        dc.mtf_list[k] = x;
        int i = dc.symbol_count;
        while (i > 0 && dc.sorted_symbols[i - 1] > x) {
            dc.sorted_symbols[i] = dc.sorted_symbols[i - 1];
            i--;
        }
        dc.sorted_symbols[i] = x;
        dc.symbol_count++;
    } else {
        k = find_in_list(dc.mtf_list, x);  // index 0 holds prev_symbol, which differs from x
        dc.distance[dc.last_run[x]] = pos - dc.last_pos[x] - k - 1;
    }
    std::memmove(dc.mtf_list + 1, dc.mtf_list, static_cast<size_t>(k));
    dc.mtf_list[0] = x;
    dc.prev_symbol = x;
    dc.last_pos[x] = pos;
    dc.last_run[x] = dc.run_count++;
}
