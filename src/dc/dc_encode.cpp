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

void dc_begin_block(DistanceCoder& dc, NumberCoder& nc, int32_t n) {
    encode_number(nc, static_cast<uint32_t>(n), 0, 0);
    std::memset(dc.last_pos, 0xFF, sizeof dc.last_pos);
    if (n > 0) std::memset(dc.distance, 0xFF, static_cast<size_t>(n) * sizeof dc.distance[0]);
    dc.symbol_count = 0;
    dc.prev_symbol = -1;
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
        dc.distance[dc.last_pos[x]] = pos - dc.last_pos[x] - k - 1;
    }
    std::memmove(dc.mtf_list + 1, dc.mtf_list, static_cast<size_t>(k));
    dc.mtf_list[0] = x;
    dc.prev_symbol = x;
    dc.last_pos[x] = pos;
}

void dc_emit(DistanceCoder& dc, NumberCoder& nc, const uint8_t* t, int32_t n) {
    int a = 0;
    for (int i = 0; i < dc.symbol_count; i++) {
        const uint8_t x = dc.sorted_symbols[i];
        encode_number(nc, static_cast<uint8_t>(x - a), 0, 1);
        encode_number(nc, static_cast<uint32_t>(dc.first_pos[x]), x, 0);
        // The run of the i-th most recent value has i distinct values after it.
        const int32_t last = dc.last_pos[dc.mtf_list[i]];
        dc.distance[last] = n - last - i - 1;
        a = x;
    }
    encode_number(nc, 0, 0, 1);

    uint8_t flag = 0;
    for (int32_t p = 0; p < n; p++) {
        if (dc.distance[p] < 0) {
            flag = 1;
        } else {
            encode_number(nc, static_cast<uint32_t>(dc.distance[p]), t[p], flag);
            flag = 0;
        }
    }
}
