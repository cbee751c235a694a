// Range coder and adaptive integer model: the carry-less cuts, then the fast
// decoder against a plain one (the exact bytes are pinned by the golden
// archives, the way back by every round trip).
#include <gtest/gtest.h>

#include <random>

#include "coder/model.h"
#include "coder/range_coder.h"
#include "support/memory_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct StepCase {
    uint32_t low, unit;
    Bytes written;
    uint32_t end_low, end_range;
};

TEST(RangeCoder, StraddleAndShiftCases) {
    const StepCase cases[] = {
        {0x12FFF000, 0x2000, {0x13, 0x00}, 0x00000000, 0x10000000},  // tie keeps the upper part
        {0x12FFD000, 0x3800, {0x12, 0xFF}, 0xD0000000, 0x2FFF0000},  // lower part is larger
        {0x12FFF000, 0x4000, {}, 0x12FFF000, 0x4000},                // wide enough: no cut
        {0x12345678, 0x400000, {0x12}, 0x34567800, 0x40000000},      // plain shift
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.low);
        NumberCoder nc;
        MemoryOut m;
        start_packing(nc, m);
        nc.rc.low = c.low;
        nc.rc.range = c.unit;
        rc_encode(nc.rc, 0, 1);
        EXPECT_EQ(memory_out_bytes(m), c.written);
        EXPECT_EQ(nc.rc.low, c.end_low);
        EXPECT_EQ(nc.rc.range, c.end_range);
    }
}

struct Item {
    uint32_t value;
    uint8_t symbol, kind;
};

std::vector<Item> random_items(uint32_t seed, size_t count) {
    std::mt19937 rng(seed);
    std::vector<Item> items;
    for (size_t i = 0; i < count; i++) {
        const int bits = static_cast<int>(rng() % 28);  // bit lengths 0..27
        uint32_t v = bits == 0 ? 0 : (1u << (bits - 1)) | (rng() & ((1u << (bits - 1)) - 1));
        if (rng() % 3 == 0) v = rng() % 8;  // small numbers are the common case
        items.push_back({v, static_cast<uint8_t>(rng() % 6 == 0 ? rng() & 255 : rng() % 4),
                         static_cast<uint8_t>(rng() & 1)});
    }
    return items;
}

// The number decoder written the plain way, one branch per decision and a
// division per table symbol: the oracle for the fast one.
Status plain_decode(NumberCoder& nc, uint8_t symbol, uint8_t kind, uint32_t& value) {
    ModelSet& m = nc.models;
    RangeCoder& rc = nc.rc;
    SymbolRecord& r = m.symbol_model[symbol];
    const int s = r.length_state;
    uint16_t *sf = m.shared_freq[kind][s], *sq = m.shared_length_prob[kind][s];
    uint16_t *pf = r.symbol_freq, *pq = r.symbol_length_prob;
    auto decision = [&](uint16_t& p1, int h1, uint16_t* p2, int h2, uint32_t p) {
        rc.range >>= 12;
        const bool second = rc.code - rc.low >= p * rc.range;
        if (second) rc_encode(rc, p, 4096 - p); else rc_encode(rc, 0, p);
        for (auto [q, h] : {std::pair<uint16_t*, int>{&p1, h1}, {p2, h2}})
            if (q) *q = static_cast<uint16_t>(second ? *q - (*q >> h) : *q + ((4096 - *q) >> h));
        return second;
    };
    int c = 0;
    for (;; c++) {
        if (c > 24) return Status::bad_length_code;
        if (!decision(sq[c], 6, &pq[c], 3, (sq[c] + pq[c]) >> 1)) break;
    }
    if (c == 0) {
        const uint32_t total = sf[0] + pf[0];
        rc.range /= total;
        const uint32_t t = (rc.code - rc.low) / rc.range;
        if (t >= total) return Status::bad_frequency;
        uint32_t j = 1, cum = 0;
        for (; cum + sf[j] + pf[j] <= t; j++) cum += sf[j] + pf[j];
        rc_encode(rc, cum, sf[j] + pf[j]);
        update_freq(sf, j, 12);
        update_freq(pf, j, 7);
        value = j - 1;
    } else {
        value = 1u << (c + 2);
        for (int k = 0; k <= c + 1; k++)
            if (decision(m.long_bit_prob[c][k], 8, nullptr, 0, m.long_bit_prob[c][k])) value += 1u << k;
    }
    r.length_state = static_cast<uint8_t>((s + (value ? 32 - __builtin_clz(value) : 0)) >> 1);
    return Status::ok;
}

TEST(IntegerModel, FastDecoderMatchesThePlainOneOnAnyBytes) {
    // All ones, random bytes, and real streams of numbers up to 27 bits,
    // whole or with a stretch overwritten: the same values, statuses, coder
    // registers and bytes taken, number by number, up to and including the
    // first failure; a whole stream gives back its numbers and exactly its bytes.
    std::mt19937 rng(99);
    int rejected = 0;
    for (int trial = 0; trial < 400; trial++) {
        SCOPED_TRACE(trial);
        const std::vector<Item> items = random_items(trial, 200);
        Bytes bytes(64);
        for (auto& b : bytes) b = static_cast<uint8_t>(trial % 4 == 0 ? 0xFF : rng());
        if (trial % 4 >= 2) {
            NumberCoder enc;
            MemoryOut m;
            start_packing(enc, m);
            for (const Item& it : items) encode_number(enc, it.value, it.symbol, it.kind);
            rc_flush(enc.rc);
            bytes = memory_out_bytes(m);
            for (size_t i = rng() % bytes.size(), e = i + 1 + rng() % 8; trial % 4 == 3 && i < e && i < bytes.size(); i++)
                bytes[i] = static_cast<uint8_t>(rng());
            bytes.insert(bytes.end(), {0xAB, 0xCD, 0xEF});  // the next entry of an archive
        }
        ByteIn in[2];
        NumberCoder dec[2];
        for (int d = 0; d < 2; d++) {
            byte_in_from_memory(in[d], bytes.data(), bytes.size());
            start_unpacking(dec[d], in[d]);
        }
        for (const Item& it : items) {
            uint32_t v[2] = {0, 0};
            const Status fast = decode_number(dec[0], it.symbol, it.kind, v[0]);
            ASSERT_EQ(fast, plain_decode(dec[1], it.symbol, it.kind, v[1]));
            if (fast != Status::ok) {
                rejected++;
                break;
            }
            ASSERT_EQ(v[0], v[1]);
            ASSERT_TRUE(trial % 4 != 2 || v[0] == it.value);
            ASSERT_EQ(dec[0].rc.low, dec[1].rc.low);
            ASSERT_EQ(dec[0].rc.range, dec[1].rc.range);
            ASSERT_EQ(bytes_in(in[0]), bytes_in(in[1]));
        }
        EXPECT_TRUE(trial % 4 != 2 || bytes_in(in[0]) == bytes.size() - 3);
    }
    EXPECT_GT(rejected, 0);  // all-ones input runs the length chain away
}

}  // namespace
