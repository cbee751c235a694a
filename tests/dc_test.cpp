// Distance coder: the numbers coded for the worked example. What the decoder
// rejects is pinned by the hardening tests, the way back by every round trip
// and the exact bytes by the golden archives.
#include <gtest/gtest.h>

#include "dc/block_code.h"
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
    };
    for (const auto& c : cases) EXPECT_EQ(trace_block(c.block, c.primary), c.numbers) << c.block.size();
}

}  // namespace
