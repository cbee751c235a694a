// The list placed with 64-byte vectors, every vector up to the place at once.
// Compiled for those vectors function by function (never the whole file, so
// that no inline function it shares with other files is built for them), and
// chosen only where the processor has them.
#include "dc/dc_runs.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#include <algorithm>
#include <climits>

namespace {

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

}  // namespace

// The runs with the whole list placed at once; the list stays put. The
// next run's value and end are taken from the list as it was, so the next
// number need not wait for the placement: the value is the entry after the
// head, and the end is the one after that unless s lands in between, at c + 1.
// Compiled for 64-byte vectors as a whole, so that the placement inlines.
[[gnu::target("avx512f"), gnu::flatten]] Status runs_avx512(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer,
                                                            int32_t n, Ticker ticker) {
    if (n >= packed_limit) return runs_sse2_plain(dd, nc, buffer, n, ticker);
    int32_t i = 0;
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
            unpack_list<place_again_sse2>(dd, packed, c, s);
            break;
        }
        const uint8_t next = static_cast<uint8_t>(packed[1]);
        e = std::min(packed[2] >> 8, c + 1);
        place_again_whole(packed, vectors_to_place(packed, vectors, c), c, s);
        s = next;
    }
    return plain_runs<place_again_sse2>(dd, nc, buffer, n, i, ticker);
}

bool runs_avx512_available() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
}

#else

bool runs_avx512_available() { return false; }
Status runs_avx512(DistanceDecoder&, NumberCoder&, uint8_t*, int32_t, Ticker) { return Status::bad_parameter; }

#endif
