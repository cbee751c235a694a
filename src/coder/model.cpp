#include "coder/model.h"

#include <cstring>

#include "coder/number_encode.h"

namespace {

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

// The decoder's state, held in registers for the length of one number;
// the coder's fields are written back when the number is done.
struct Interval {
    uint32_t low, range, code;
};

// The end of an interval step: the common case moves nothing, the usual rest
// (one settled top byte, after which the range is wide again) takes in one
// byte here, and anything more goes to the coder out of line.
inline void settle(RangeCoder& rc, Interval& iv) {
    if (rc_wide(iv.low, iv.range)) [[likely]]
        return;
    if ((iv.low ^ (iv.low + iv.range)) < (1u << 24)) {
        // A read past the end ORs in all ones, as rc_get_byte does.
        iv.code = (iv.code << 8) | static_cast<uint32_t>(get_byte(*rc.in));
        iv.low <<= 8;
        iv.range <<= 8;
        if (rc_wide(iv.low, iv.range)) return;
    }
    rc.code = iv.code;
    rc_normalize(rc, iv.low, iv.range);
    iv = {rc.low, rc.range, rc.code};
}

// Where a decision of probability p splits the interval: the first
// outcome's range, from iv.low up.
inline uint32_t split_of(const Interval& iv, uint32_t p) { return p * (iv.range >> 12); }

// The second outcome's range: (prob_one - p) * unit without a second
// multiply, as prob_one * unit is the range with its low 12 bits cleared.
inline uint32_t second_range(const Interval& iv, uint32_t bound) { return (iv.range & ~(prob_one - 1)) - bound; }

// A decision, with the new interval chosen by conditional moves rather than
// a branch: the bits of large numbers are close to coin flips, and a
// mispredicted branch costs more than working out both sides. True for the
// second outcome.
inline bool decode_bit(RangeCoder& rc, Interval& iv, uint32_t p) {
    const uint32_t bound = split_of(iv, p);
    const uint32_t other = second_range(iv, bound);
    const uint32_t target = iv.code - iv.low;
    const uint32_t moved = iv.low + bound;
    uint32_t low = iv.low, range = bound;
    bool second;
#if defined(__x86_64__) || defined(__i386__)
    // The compiler would branch.
    asm("cmpl %[bound], %[target]\n\t"
        "cmovael %[moved], %[low]\n\t"
        "cmovael %[other], %[range]\n\t"
        "setae %[second]"
        : [low] "+r"(low), [range] "+r"(range), [second] "=r"(second)
        : [bound] "r"(bound), [target] "r"(target), [moved] "r"(moved), [other] "r"(other)
        : "cc");
#else
    second = target >= bound;
    low = second ? moved : low;
    range = second ? other : range;
#endif
    iv.low = low;
    iv.range = range;
    settle(rc, iv);
    return second;
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
    encode_number_to(nc.models, nc, value, symbol, kind);
}

Status decode_number(NumberCoder& nc, uint8_t symbol, uint8_t kind, uint32_t& value) {
    ModelSet& m = nc.models;
    RangeCoder& rc = nc.rc;
    const Contexts x = select_contexts(m, symbol, kind);
    SymbolRecord& r = x.r;
    const int s = x.s;
    uint16_t *sf = x.sf, *sq = x.sq, *pf = x.pf, *pq = x.pq;

    Interval iv{rc.low, rc.range, rc.code};
    // Length decisions, each taken by a branch: the chain's end is a branch
    // on the same outcome anyway, and a predicted branch lets the next
    // decision start before this one's compare is done, where selecting the
    // interval by conditional moves would wait for it.
    int c = 0;
    for (;;) {
        // Bit lengths above 27 would run the length state past its rows.
        VORB_CHECK(c <= model_length_states - 3, Status::bad_length_code);
        const uint32_t bound = split_of(iv, (sq[c] + pq[c]) >> 1);
        if (iv.code - iv.low >= bound) {
            iv.range = second_range(iv, bound);
            iv.low += bound;
            settle(rc, iv);
            adapt_second(sq[c], m.shared_length_shift);
            adapt_second(pq[c], m.symbol_length_shift);
            c++;
            continue;
        }
        iv.range = bound;
        settle(rc, iv);
        adapt_first(sq[c], m.shared_length_shift);
        adapt_first(pq[c], m.symbol_length_shift);
        break;
    }

    int len;
    if (c == 0) {
        const uint32_t total = sf[0] + pf[0];
        const uint32_t unit = iv.range / total;
        // The slot whose counts hold the target (code - low) / unit, found by
        // multiplying instead of a second division; total * unit <= range, so
        // no product overflows. Every slot is weighed, so the search has no
        // branch to mispredict.
        const uint32_t target = iv.code - iv.low;
        VORB_CHECK(target < total * unit, Status::bad_frequency);
        uint32_t below[model_freq_slots];  // below[j]: counts of the slots before j
        below[1] = 0;
        int j = 1;
        for (int slot = 1; slot < model_freq_slots - 1; slot++) {
            below[slot + 1] = below[slot] + sf[slot] + pf[slot];
            j += below[slot + 1] * unit <= target;
        }
        iv.low += below[j] * unit;
        iv.range = (sf[j] + pf[j]) * unit;
        settle(rc, iv);
        update_freq(sf, j, m.shared_freq_shift);
        update_freq(pf, j, m.symbol_freq_shift);
        value = static_cast<uint32_t>(j - 1);
        len = bit_length(value);
    } else {
        len = c + 3;
        uint16_t* w = m.long_bit_prob[c];
        uint32_t v = 1u << (len - 1);
        for (int k = 0; k <= len - 2; k++) {
            const bool one = decode_bit(rc, iv, w[k]);
            adapt_either(w[k], 8, one);
            v |= static_cast<uint32_t>(one) << k;
        }
        value = v;
    }
    rc.low = iv.low;
    rc.range = iv.range;
    rc.code = iv.code;
    r.length_state = static_cast<uint8_t>((s + len) >> 1);
    return Status::ok;
}
