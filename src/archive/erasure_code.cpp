#include "archive/erasure_code.h"

#include <isa-l/erasure_code.h>

#include <algorithm>
#include <cassert>

namespace {

// ISA-L takes its tables and buffers through pointers to non-const.
uint8_t* writable(const uint8_t* p) { return const_cast<uint8_t*>(p); }

constexpr size_t table_bytes_per_coefficient = 32;

}  // namespace

void erasure_code_init(ErasureCode& ec, int k, int m) {
    assert(k >= 1 && m >= 1 && k + m <= 255);
    ec.k = k;
    ec.m = m;
    ec.matrix.assign(static_cast<size_t>((k + m) * k), 0);
    gf_gen_cauchy1_matrix(ec.matrix.data(), k + m, k);
    ec.tables.assign(table_bytes_per_coefficient * static_cast<size_t>(k * m), 0);
    ec_init_tables(k, m, ec.matrix.data() + static_cast<size_t>(k * k), ec.tables.data());
}

void erasure_add(const ErasureCode& ec, int row, const uint8_t* unit, size_t len, uint8_t* const* parity) {
    ec_encode_data_update(static_cast<int>(len), ec.k, ec.m, row, writable(ec.tables.data()), writable(unit),
                          const_cast<uint8_t**>(parity));
}

bool erasure_rebuild(const ErasureCode& ec, const std::vector<int>& erased, const std::vector<int>& parity_rows,
                     const uint8_t* const* sources, size_t len, uint8_t* const* out) {
    const int e = static_cast<int>(erased.size());
    if (e == 0 || parity_rows.size() != erased.size()) return e == 0;
    const int k = ec.k;
    auto coef = [&](int row, int col) { return ec.matrix[static_cast<size_t>(row * k + col)]; };
    // The parity rows' coefficients of the erased units, inverted: the
    // erased units are that inverse times the parity less the known units'
    // share of it (minus is plus in GF(2^8)).
    std::vector<uint8_t> square(static_cast<size_t>(e * e)), inverse(static_cast<size_t>(e * e));
    for (int j = 0; j < e; j++)
        for (int i = 0; i < e; i++) square[static_cast<size_t>(j * e + i)] = coef(parity_rows[j], erased[i]);
    if (gf_invert_matrix(square.data(), inverse.data(), e) != 0) return false;
    std::vector<uint8_t> decode(static_cast<size_t>(e * k));
    for (int i = 0; i < e; i++) {
        const uint8_t* inv = &inverse[static_cast<size_t>(i * e)];
        uint8_t* row = &decode[static_cast<size_t>(i * k)];
        int src = 0;
        for (int c = 0; c < k; c++) {
            if (std::find(erased.begin(), erased.end(), c) != erased.end()) continue;
            uint8_t v = 0;
            for (int j = 0; j < e; j++) v ^= gf_mul(inv[j], coef(parity_rows[j], c));
            row[src++] = v;
        }
        for (int j = 0; j < e; j++) row[src++] = inv[j];
    }
    std::vector<uint8_t> tables(table_bytes_per_coefficient * static_cast<size_t>(e * k));
    ec_init_tables(k, e, decode.data(), tables.data());
    ec_encode_data(static_cast<int>(len), k, e, tables.data(), const_cast<uint8_t**>(sources),
                   const_cast<uint8_t**>(out));
    return true;
}
