// Distance coder and decoder: the numbers coded for the worked example, and
// the decoder against a plain one on damaged streams (what it rejects is
// pinned by the hardening tests, the way back by every round trip).
#include <gtest/gtest.h>

#include <random>

#include "dc/block_code.h"
#include "dc/dc_decode.h"
#include "support/cli_run.h"
#include "support/memory_stream.h"
#include "support/sort_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Trace = std::vector<TracedNumber>;

Trace trace_block(const Bytes& t, int32_t primary) {
    NumberCoder nc;
    MemoryOut m;
    start_packing(nc, m);
    Trace trace;
    trace_numbers(nc, trace);
    DistanceCoder dc;
    std::vector<int32_t> distance(t.size() + 1);
    dc.distance = distance.data();
    code_block(dc, nc, t.data(), static_cast<int32_t>(t.size()), primary);
    return trace;
}

constexpr uint8_t ch(char c) { return static_cast<uint8_t>(c); }

TEST(DistanceCoder, KnownBlocksGiveKnownNumbers) {
    const struct {
        Bytes block;
        int32_t primary;
        Trace numbers;
    } cases[] = {
        // The worked example: block length, symbol set, first positions, distances, primary index.
        {bytes_of("smspipissii"), 1,
         {{11, 0, 0}, {105, 0, 1}, {4, ch('i'), 0}, {4, 0, 1}, {1, ch('m'), 0}, {3, 0, 1}, {3, ch('p'), 0},
          {3, 0, 1}, {0, ch('s'), 0}, {0, 0, 1}, {0, ch('s'), 0}, {6, ch('m'), 0}, {2, ch('s'), 0},
          {0, ch('p'), 0}, {0, ch('i'), 0}, {3, ch('p'), 0}, {1, ch('i'), 0}, {1, ch('s'), 1},
          {0, ch('i'), 1}, {1, 0, 0}}},
        {{}, 0, {{0, 0, 0}}},  // the end marker alone
    };
    for (const auto& c : cases) EXPECT_EQ(trace_block(c.block, c.primary), c.numbers) << c.block.size();
}

// The distance decoder written the plain way, over next positions by value:
// the oracle for the fast one.
Status plain_dc_decode(NumberCoder& nc, uint8_t* buffer, uint32_t max_n) {
    uint32_t len, v, first, d;
    VORB_TRY(decode_number(nc, 0, 0, len));
    VORB_CHECK(len <= max_n, Status::bad_block_length);
    int32_t next_pos[256], count = 0, n = static_cast<int32_t>(len);
    uint8_t list[256];
    bool seen[256] = {};
    uint32_t x = 0;
    if (n == 0) return Status::ok;
    VORB_TRY(decode_number(nc, 0, 1, v));
    for (;;) {
        x = (x + v) & 0xFF;
        VORB_CHECK(!seen[x], Status::bad_symbol_set);
        seen[x] = true;
        VORB_TRY(decode_number(nc, static_cast<uint8_t>(x), 0, first));
        VORB_CHECK(first < len, Status::bad_symbol_set);
        next_pos[x] = static_cast<int32_t>(first);
        int i = count++;
        for (; i > 0 && next_pos[list[i - 1]] > next_pos[x]; i--) list[i] = list[i - 1];
        list[i] = static_cast<uint8_t>(x);
        VORB_TRY(decode_number(nc, 0, 1, v));
        if (v == 0) break;
    }
    for (int32_t i = 0; i < n;) {
        const uint8_t s = list[0];
        const int32_t e = count >= 2 ? next_pos[list[1]] : n;
        VORB_CHECK(next_pos[s] == i && e > i && e <= n, Status::bad_run);
        std::fill(buffer + i, buffer + e, s);
        VORB_TRY(decode_number(nc, s, e - i >= 2, d));
        i = e;
        const int32_t c = i + static_cast<int32_t>(d);
        int32_t k = 0;
        for (; k + 1 < count && next_pos[list[k + 1]] <= c + k; k++) list[k] = list[k + 1];
        list[k] = s;
        next_pos[s] = c + k;
    }
    return Status::ok;
}

TEST(DistanceDecoder, MatchesThePlainOneOnDamagedStreams) {
    // Coded random blocks with a few bytes overwritten: the same status and
    // the same bytes written, whether or not the damage is caught.
    std::mt19937 rng(23);
    int failed = 0;
    for (int trial = 0; trial < 400; trial++) {
        SCOPED_TRACE(trial);
        const uint32_t max_n = 3000;
        Bytes block = random_bytes(rng(), 1 + rng() % max_n, trial % 2 ? 256 : 1 + rng() % 40);
        const unsigned runs = rng() % 90;  // chance in a hundred that a byte repeats the one before
        for (size_t i = 1; i < block.size(); i++)
            if (rng() % 100 < runs) block[i] = block[i - 1];
        NumberCoder enc;
        MemoryOut m;
        start_packing(enc, m);
        DistanceCoder dc;
        std::vector<int32_t> distance(block.size() + 1);
        dc.distance = distance.data();
        code_block(dc, enc, block.data(), static_cast<int32_t>(block.size()), 0);
        rc_flush(enc.rc);
        Bytes stream = memory_out_bytes(m);
        for (size_t i = rng() % stream.size(), e = i + 1 + rng() % 4; i < e && i < stream.size(); i++)
            stream[i] = static_cast<uint8_t>(rng());
        Bytes out[2] = {Bytes(max_n, 0xAA), Bytes(max_n, 0xAA)};
        ByteIn in[2];
        NumberCoder dec[2];
        for (int d = 0; d < 2; d++) {
            byte_in_from_memory(in[d], stream.data(), stream.size());
            start_unpacking(dec[d], in[d]);
        }
        DistanceDecoder dd;
        int32_t n = 0;
        const Status fast = dc_decode(dd, dec[0], out[0].data(), max_n, n);
        EXPECT_EQ(fast, plain_dc_decode(dec[1], out[1].data(), max_n));
        EXPECT_EQ(out[0], out[1]);
        failed += fast != Status::ok;
    }
    EXPECT_GT(failed, 20);
}

}  // namespace
