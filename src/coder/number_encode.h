// The encoding half of the integer model, written once for any step sink:
// the range coder itself (coding at once), or a step record that a range
// coder replays later. A sink takes two kinds of step: a decision with its
// 12-bit probability, and a frequency-table symbol with its count, the
// counts before it and the table's total.
#pragma once

#include <cstdint>

#include "coder/model.h"

constexpr uint32_t prob_one = 4096;  // decisions are 12-bit probabilities

inline int bit_length(uint32_t v) { return v == 0 ? 0 : 32 - __builtin_clz(v); }

inline void adapt_first(uint16_t& p, int shift) { p = static_cast<uint16_t>(p + ((prob_one - p) >> shift)); }
inline void adapt_second(uint16_t& p, int shift) { p = static_cast<uint16_t>(p - (p >> shift)); }

// adapt_first or adapt_second, chosen by the outcome without a branch.
inline void adapt_either(uint16_t& p, int shift, bool second) {
    const uint32_t mask = 0u - static_cast<uint32_t>(second);
    const uint32_t up = (prob_one - p) >> shift;
    const uint32_t down = p >> shift;
    p = static_cast<uint16_t>(p + (up & ~mask) - (down & mask));
}

// The most steps one number takes: a 27-bit value has 25 length decisions
// and 26 bits below its leading 1.
constexpr int number_steps_max = 51;

// The range coder as a sink, each step coded at once: for the length of one
// number the interval stays in locals, where each step's result reaches the
// next without a trip through memory; the coder's fields take it back when
// a byte goes out and when the number is done.
struct CoderInterval {
    RangeCoder& rc;
    uint32_t low, range;
};
inline void sink_number(CoderInterval&, uint32_t, uint8_t, uint8_t) {}
// The new interval [low + cum * unit, low + (cum + freq) * unit).
inline void interval_step(CoderInterval& c, uint32_t unit, uint32_t cum, uint32_t freq) {
    const uint32_t low = c.low + cum * unit;
    const uint32_t range = freq * unit;
    // Most steps leave the top bytes apart and the range wide: nothing to move.
    if (rc_wide(low, range)) [[likely]] {
        c.low = low;
        c.range = range;
        return;
    }
    rc_settle(c.rc, low, range);
    c.low = c.rc.low;
    c.range = c.rc.range;
}
// The interval of either outcome chosen by masks, not a branch: the bits of
// large numbers are close to coin flips, and the compiler turned plain
// selects here into a branch.
inline void sink_decision(CoderInterval& c, uint32_t p, bool second) {
    const uint32_t mask = 0u - static_cast<uint32_t>(second);
    interval_step(c, c.range >> 12, p & mask, p ^ ((p ^ (prob_one - p)) & mask));
}
inline void sink_table(CoderInterval& c, uint32_t cum, uint32_t freq, uint32_t total) {
    interval_step(c, c.range / total, cum, freq);
}
inline bool sink_has_room(const RangeCoder&) { return true; }
inline bool sink_has_room(const NumberCoder&) { return true; }

// value < 2^27, kind 0 or 1; the models m adapt as the steps go to out.
template <class Sink>
inline void encode_number_to(ModelSet& m, Sink& out, uint32_t value, uint8_t symbol, uint8_t kind) {
    sink_number(out, value, symbol, kind);
    SymbolRecord& r = m.symbol_model[symbol];
    const int s = r.length_state;
    uint16_t* sf = m.shared_freq[kind][s];
    uint16_t* sq = m.shared_length_prob[kind][s];
    uint16_t* pf = r.symbol_freq;
    uint16_t* pq = r.symbol_length_prob;

    const int len = bit_length(value);
    const int c = len >= 4 ? len - 3 : 0;
    for (int k = 0; k < c; k++) {
        sink_decision(out, (sq[k] + pq[k]) >> 1, true);
        adapt_second(sq[k], m.shared_length_shift);
        adapt_second(pq[k], m.symbol_length_shift);
    }
    sink_decision(out, (sq[c] + pq[c]) >> 1, false);
    adapt_first(sq[c], m.shared_length_shift);
    adapt_first(pq[c], m.symbol_length_shift);

    if (len <= 3) {
        const int j = static_cast<int>(value) + 1;
        uint32_t cum = 0;
        for (int slot = 1; slot < j; slot++) cum += sf[slot] + pf[slot];
        sink_table(out, cum, sf[j] + pf[j], sf[0] + pf[0]);
        update_freq(sf, j, m.shared_freq_shift);
        update_freq(pf, j, m.symbol_freq_shift);
    } else {
        uint16_t* w = m.long_bit_prob[len - 3];
        for (int k = 0; k <= len - 2; k++) {
            const bool one = (value >> k) & 1;
            sink_decision(out, w[k], one);
            adapt_either(w[k], 8, one);
        }
    }
    r.length_state = static_cast<uint8_t>((s + len) >> 1);
}

// A number coded at once on the range coder.
inline void encode_number_to(ModelSet& m, RangeCoder& rc, uint32_t value, uint8_t symbol, uint8_t kind) {
    CoderInterval c{rc, rc.low, rc.range};
    encode_number_to(m, c, value, symbol, kind);
    rc.low = c.low;
    rc.range = c.range;
}
inline void encode_number_to(ModelSet& m, NumberCoder& nc, uint32_t value, uint8_t symbol, uint8_t kind) {
    if (nc.trace.fn) nc.trace.fn(nc.trace.ctx, value, symbol, kind);
    encode_number_to(m, nc.rc, value, symbol, kind);
}
