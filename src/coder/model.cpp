#include "coder/model.h"

#include <cstring>

namespace {

constexpr uint32_t prob_one = 4096;

inline int bit_length(uint32_t v) { return v == 0 ? 0 : 32 - __builtin_clz(v); }

inline void adapt_first(uint16_t& p, int shift) { p = static_cast<uint16_t>(p + ((prob_one - p) >> shift)); }
inline void adapt_second(uint16_t& p, int shift) { p = static_cast<uint16_t>(p - (p >> shift)); }

inline void encode_decision(RangeCoder& rc, uint32_t p, bool second) {
    rc.range >>= 12;
    if (second)
        rc_encode(rc, p, prob_one - p);
    else
        rc_encode(rc, 0, p);
}

// Returns true for the second outcome.
inline bool decode_decision(RangeCoder& rc, uint32_t p) {
    rc.range >>= 12;
    const bool second = rc.code - rc.low >= p * rc.range;
    if (second)
        rc_encode(rc, p, prob_one - p);
    else
        rc_encode(rc, 0, p);
    return second;
}

// The four tables a number is coded with: the symbol's own estimates and the
// ones shared by its kind and length state.
struct Contexts {
    SymbolRecord& r;
    int s;
    uint16_t *sf, *sq, *pf, *pq;
};

inline Contexts select_contexts(ModelSet& m, uint8_t symbol, uint8_t kind) {
    SymbolRecord& r = m.symbol_model[symbol];
    const int s = r.length_state;
    return {r, s, m.shared_freq[kind][s], m.shared_length_prob[kind][s], r.symbol_freq, r.symbol_length_prob};
}

}  // namespace

void update_freq(uint16_t* t, int slot, int shift) {
    const uint16_t d = static_cast<uint16_t>((t[0] >> shift) + 3);
    t[slot] = static_cast<uint16_t>(t[slot] + d);
    t[0] = static_cast<uint16_t>(t[0] + d);
    if (t[0] >= prob_one) {
        // Halving never takes a count to 0, so no symbol ever becomes uncodable.
        t[0] = 0;
        for (int m = 1; m < model_freq_slots; m++) {
            t[m] = static_cast<uint16_t>((t[m] + 1) >> 1);
            t[0] = static_cast<uint16_t>(t[0] + t[m]);
        }
    }
}

void reset_models(ModelSet& m) {
    static const ModelSet fresh = [] {
        ModelSet f;
        std::memset(&f, 0, sizeof f);
        for (auto& r : f.symbol_model) {
            r.length_state = 0;
            r.symbol_freq[0] = 8;
            for (int s = 1; s < model_freq_slots; s++) r.symbol_freq[s] = 1;
            for (auto& p : r.symbol_length_prob) p = 2048;
        }
        for (auto& kind : f.shared_freq)
            for (auto& row : kind) {
                row[0] = 8;
                for (int s = 1; s < model_freq_slots; s++) row[s] = 1;
            }
        for (auto& kind : f.shared_length_prob)
            for (auto& row : kind)
                for (auto& p : row) p = 2048;
        for (auto& row : f.long_bit_prob)
            for (auto& p : row) p = 2048;
        f.shared_length_shift = 6;
        f.symbol_length_shift = 3;
        f.shared_freq_shift = 12;
        f.symbol_freq_shift = 7;
        return f;
    }();
    std::memcpy(&m, &fresh, sizeof m);
}

void encode_number(NumberCoder& nc, uint32_t value, uint8_t symbol, uint8_t kind) {
    if (nc.trace.fn) nc.trace.fn(nc.trace.ctx, value, symbol, kind);
    ModelSet& m = nc.models;
    RangeCoder& rc = nc.rc;
    const Contexts x = select_contexts(m, symbol, kind);
    SymbolRecord& r = x.r;
    const int s = x.s;
    uint16_t *sf = x.sf, *sq = x.sq, *pf = x.pf, *pq = x.pq;

    const int len = bit_length(value);
    const int c = len >= 4 ? len - 3 : 0;
    for (int k = 0; k < c; k++) {
        encode_decision(rc, (sq[k] + pq[k]) >> 1, true);
        adapt_second(sq[k], m.shared_length_shift);
        adapt_second(pq[k], m.symbol_length_shift);
    }
    encode_decision(rc, (sq[c] + pq[c]) >> 1, false);
    adapt_first(sq[c], m.shared_length_shift);
    adapt_first(pq[c], m.symbol_length_shift);

    if (len <= 3) {
        const int j = static_cast<int>(value) + 1;
        const uint32_t total = sf[0] + pf[0];
        uint32_t cum = 0;
        for (int slot = 1; slot < j; slot++) cum += sf[slot] + pf[slot];
        rc.range /= total;
        rc_encode(rc, cum, sf[j] + pf[j]);
        update_freq(sf, j, m.shared_freq_shift);
        update_freq(pf, j, m.symbol_freq_shift);
    } else {
        uint16_t* w = m.long_bit_prob[len - 3];
        for (int k = 0; k <= len - 2; k++) {
            const bool one = (value >> k) & 1;
            encode_decision(rc, w[k], one);
            if (one)
                adapt_second(w[k], 8);
            else
                adapt_first(w[k], 8);
        }
    }
    r.length_state = static_cast<uint8_t>((s + len) >> 1);
}

Status decode_number(NumberCoder& nc, uint8_t symbol, uint8_t kind, uint32_t& value) {
    ModelSet& m = nc.models;
    RangeCoder& rc = nc.rc;
    const Contexts x = select_contexts(m, symbol, kind);
    SymbolRecord& r = x.r;
    const int s = x.s;
    uint16_t *sf = x.sf, *sq = x.sq, *pf = x.pf, *pq = x.pq;

    int c = 0;
    for (;;) {
        // Bit lengths above 27 would run the length state past its rows.
        VORB_CHECK(c <= model_length_states - 3, Status::bad_length_code);
        const bool cont = decode_decision(rc, (sq[c] + pq[c]) >> 1);
        if (!cont) {
            adapt_first(sq[c], m.shared_length_shift);
            adapt_first(pq[c], m.symbol_length_shift);
            break;
        }
        adapt_second(sq[c], m.shared_length_shift);
        adapt_second(pq[c], m.symbol_length_shift);
        c++;
    }

    int len;
    if (c == 0) {
        const uint32_t total = sf[0] + pf[0];
        rc.range /= total;
        // The slot whose counts hold the target (code - low) / unit, found by
        // multiplying instead of a second division; total * unit <= range, so
        // no product overflows.
        const uint32_t target = rc.code - rc.low;
        const uint32_t unit = rc.range;
        VORB_CHECK(target < total * unit, Status::bad_frequency);
        int j = 1;
        uint32_t cum = 0;
        while ((cum + sf[j] + pf[j]) * unit <= target) {
            cum += sf[j] + pf[j];
            j++;
        }
        rc_encode(rc, cum, sf[j] + pf[j]);
        update_freq(sf, j, m.shared_freq_shift);
        update_freq(pf, j, m.symbol_freq_shift);
        value = static_cast<uint32_t>(j - 1);
        len = bit_length(value);
    } else {
        len = c + 3;
        uint16_t* w = m.long_bit_prob[c];
        uint32_t v = 1u << (len - 1);
        for (int k = 0; k <= len - 2; k++) {
            if (decode_decision(rc, w[k])) {
                v += 1u << k;
                adapt_second(w[k], 8);
            } else {
                adapt_first(w[k], 8);
            }
        }
        value = v;
    }
    r.length_state = static_cast<uint8_t>((s + len) >> 1);
    return Status::ok;
}
