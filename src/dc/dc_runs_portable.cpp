// The list placed one entry at a time, in plain C++: for processors without
// the vectors of the other placements, and a reference for them in tests.
#include <algorithm>
#include <climits>

#include "dc/dc_runs.h"

namespace {

int32_t place_again(int32_t* list, int32_t* pos, int32_t c, uint8_t s) {
    int32_t j = 1;
    for (; pos[j] < c + j; j++) {
        pos[j - 1] = pos[j];
        list[j - 1] = list[j];
    }
    const int32_t k = j - 1;
    list[k] = s;
    pos[k] = c + k;
    return k;
}

// place_again over the packed list: pos[j] < c + j exactly when
// packed[j] < (c + j) << 8, the value taking the low 8 bits.
void place_again_packed(int32_t* packed, int32_t c, uint8_t s) {
    int32_t j = 1;
    for (; packed[j] < (c + j) << 8; j++) packed[j - 1] = packed[j];
    const int32_t k = j - 1;
    packed[k] = (c + k) << 8 | s;
}

}  // namespace

Status runs_portable_plain(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker) {
    return plain_runs<place_again>(dd, nc, buffer, n, 0, ticker);
}

Status runs_portable(DistanceDecoder& dd, NumberCoder& nc, uint8_t* buffer, int32_t n, Ticker ticker) {
    if (n >= packed_limit) return runs_portable_plain(dd, nc, buffer, n, ticker);
    const int32_t count = dd.symbol_count;
    int32_t* const packed = dd.upcoming_packed + list_front;
    std::fill(packed, packed + count + upcoming_pad, INT32_MAX);
    for (int32_t j = 0; j < count; j++) packed[j] = dd.upcoming_pos[j] << 8 | dd.upcoming_list[j];
    int32_t i = 0;
    while (i < n) {
        const uint8_t s = static_cast<uint8_t>(packed[0]);
        const int32_t e = count >= 2 ? packed[1] >> 8 : n;
        int32_t c;
        VORB_TRY(take_run(nc, buffer, i, e, n, s, dd.value_count, ticker, c));
        if (c >= packed_limit) [[unlikely]] {
            unpack_list<place_again>(dd, packed, c, s);
            break;
        }
        place_again_packed(packed, c, s);
    }
    return plain_runs<place_again>(dd, nc, buffer, n, i, ticker);
}
