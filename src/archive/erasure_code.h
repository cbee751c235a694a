// Reed-Solomon erasure coding over GF(2^8), from ISA-L: the parity rows of
// a Cauchy matrix, so that any k of a stripe's k + m units rebuild the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ErasureCode {
    int k = 0;                      // data units per stripe
    int m = 0;                      // parity units per stripe
    std::vector<uint8_t> matrix;    // (k + m) x k, the identity on top
    std::vector<uint8_t> tables;    // ISA-L's expanded tables of the m parity rows
};

// k + m at most 255. Allocates (std::bad_alloc).
void erasure_code_init(ErasureCode& ec, int k, int m);

// Adds data unit `row` (0 to k - 1) of a stripe into its m parity units,
// which start zeroed; len is a multiple of 64.
void erasure_add(const ErasureCode& ec, int row, const uint8_t* unit, size_t len, uint8_t* const* parity);

// Rebuilds a stripe's erased data rows (ascending) from k sources: its
// other data rows in ascending order, then the parity rows named (code rows
// k and up, as many as erased). False when the rows chosen cannot do it.
// Allocates (std::bad_alloc).
[[nodiscard]] bool erasure_rebuild(const ErasureCode& ec, const std::vector<int>& erased,
                                   const std::vector<int>& parity_rows, const uint8_t* const* sources, size_t len,
                                   uint8_t* const* out);
