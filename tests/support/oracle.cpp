#include "support/oracle.h"

#include <divsufsort.h>

#include <stdexcept>

OracleTransform oracle_transform(const std::vector<uint8_t>& block) {
    const int32_t n = static_cast<int32_t>(block.size());
    // Position v's context data[v], data[v-1], ..., data[0] is the suffix of
    // the reversed block starting at n - 1 - v, and a proper prefix of a
    // context is a shorter suffix, which suffix order also puts first.
    std::vector<uint8_t> reversed(block.rbegin(), block.rend());
    std::vector<saidx_t> sa(static_cast<size_t>(n));
    if (divsufsort(reversed.data(), sa.data(), n) != 0) throw std::runtime_error("divsufsort failed");

    OracleTransform t;
    t.rows.resize(static_cast<size_t>(n));
    t.transformed.resize(static_cast<size_t>(n));
    for (int32_t j = 0; j < n; ++j) {
        const int32_t v = n - 1 - sa[static_cast<size_t>(j)];
        t.rows[static_cast<size_t>(j)] = v;
        if (v == n - 1) {
            t.primary = j;
            t.transformed[static_cast<size_t>(j)] = block[0];
        } else {
            t.transformed[static_cast<size_t>(j)] = block[static_cast<size_t>(v) + 1];
        }
    }
    return t;
}
