#include "sort/encode_block.h"

bool encode_block(Sorter& s, DistanceCoder& dc, NumberCoder& nc, uint8_t* data, int32_t n, int32_t* index,
                  ProgressSink progress) {
    int32_t primary = 0;
    if (n > 0 && !forward_transform(s, data, n, index, progress, primary)) return false;
    code_block(dc, nc, reinterpret_cast<const uint8_t*>(index), n, primary);
    return true;
}
