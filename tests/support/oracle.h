// An independent reference for the forward transform: the context order of a
// block is the suffix order of the reversed block, which libdivsufsort
// computes.
#pragma once

#include <cstdint>
#include <vector>

struct OracleTransform {
    std::vector<int32_t> rows;         // rows[j]: the position sorted into row j
    std::vector<uint8_t> transformed;  // byte of row j: data[v + 1], data[0] for v = n - 1
    int32_t primary = -1;              // row of position n - 1
};

// n >= 1.
OracleTransform oracle_transform(const std::vector<uint8_t>& block);
