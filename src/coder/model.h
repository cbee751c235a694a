// Adaptive integer model: a number is coded as its bit length (a chain of
// two-way decisions), then either the number itself from a small frequency
// table (0..7) or its bits below the leading 1 (8 and up). Every estimate is
// the mean of a fast per-symbol one and a slow one shared by all symbols of
// the same kind and length state.
#pragma once

#include <cstdint>

#include "coder/range_coder.h"
#include "common/status.h"

// Values must stay below 2^27; bit lengths 0..27.
constexpr int model_length_states = 27;
constexpr int model_length_decisions = 32;
constexpr int model_freq_slots = 9;  // slot 0 holds the total of slots 1..8

struct SymbolRecord {
    uint8_t length_state;
    uint16_t symbol_freq[model_freq_slots];
    uint16_t symbol_length_prob[model_length_decisions];
};

// Optional seam: sees every (value, symbol, kind) that is coded.
struct NumberTrace {
    void (*fn)(void* ctx, uint32_t value, uint8_t symbol, uint8_t kind) = nullptr;
    void* ctx = nullptr;
};

struct ModelSet {
    SymbolRecord symbol_model[256];
    uint16_t shared_freq[2][model_length_states][model_freq_slots];
    uint16_t shared_length_prob[2][model_length_states][model_length_decisions];
    uint16_t long_bit_prob[model_length_states][model_length_decisions];
    uint8_t shared_length_shift;
    uint8_t symbol_length_shift;
    uint8_t shared_freq_shift;
    uint8_t symbol_freq_shift;
};

// The range coder and the models that drive it: one per member stream in flight.
struct NumberCoder {
    RangeCoder rc;
    ModelSet models;
    NumberTrace trace;
};

void reset_models(ModelSet& m);

// value < 2^27, kind 0 or 1.
void encode_number(NumberCoder& nc, uint32_t value, uint8_t symbol, uint8_t kind);

// Mirror of encode_number. Fails on a stream no packer can have written
// (a bit length past 27, a table symbol past the total).
[[nodiscard]] Status decode_number(NumberCoder& nc, uint8_t symbol, uint8_t kind, uint32_t& value);

// Exposed for tests: the frequency update of one 9-slot table.
void update_freq(uint16_t* table, int slot, int shift);
