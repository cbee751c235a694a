// The compare cache answers from stretches it has seen before; every answer,
// cached or not, must be the true order of the two contexts.
#include <gtest/gtest.h>

#include <random>

#include "dc/block_buffers.h"
#include "sort/help.h"
#include "sort/sorter.h"
#include "support/cli_run.h"
#include "support/oracle.h"
#include "support/sort_harness.h"

namespace {

// Length of the common start of the contexts of x and y (bytes in front of
// the block read as 0, as the sort reads them).
int32_t common_context(const std::vector<uint8_t>& d, int32_t x, int32_t y) {
    int32_t t = 0;
    for (;; ++t) {
        const int bx = x - t >= 0 ? d[static_cast<size_t>(x - t)] : 0;
        const int by = y - t >= 0 ? d[static_cast<size_t>(y - t)] : 0;
        if (bx != by) return t;
    }
}

struct CacheCase {
    const char* name;
    std::vector<uint8_t> block;
};

TEST(SortCompareCache, AnswersMatchTheContextOrder) {
    std::vector<CacheCase> cases;
    cases.push_back({"period 5, changed bytes", repeat_pattern(random_bytes(1, 5), 20000)});
    cases.back().block[7000] ^= 1;
    cases.back().block[13001] ^= 2;
    cases.push_back({"period 2", repeat_pattern(bytes_of("ab"), 20000)});
    cases.back().block[9999] = 'c';
    cases.push_back({"fibonacci", fibonacci_word(20000)});
    cases.push_back({"period 300", repeat_pattern(random_bytes(2, 300, 4), 20000)});

    for (const CacheCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t n = static_cast<int32_t>(c.block.size());
        const OracleTransform o = oracle_transform(c.block);
        std::vector<int32_t> rank(static_cast<size_t>(n));
        for (int32_t j = 0; j < n; ++j) rank[static_cast<size_t>(o.rows[static_cast<size_t>(j)])] = j;

        BlockBuffers b;
        ASSERT_TRUE(setup_buffers(b, static_cast<uint32_t>(n), false));
        std::copy(c.block.begin(), c.block.end(), b.block_start);
        SorterPtr s = make_sorter();
        s->data = b.block_start;
        s->n = n;
        s->index = b.index;
        repeat_state_init(*s, n);

        // Pairs at a few recurring distances, in rising position, compared
        // at a depth where their contexts still agree: the way deep_sort
        // meets them, so that the cache gets used.
        std::mt19937 rng(3);
        const int32_t distances[] = {2, 5, 10, 300, 600, 1597, 2584};
        int wrong = 0;
        for (int32_t base = 40; base + 2600 < n; base += 37) {
            for (int32_t dist : distances) {
                const int32_t x = base + static_cast<int32_t>(rng() % 8);
                const int32_t y = x + dist;
                const int32_t agree = common_context(c.block, x, y);
                if (agree < 4) continue;
                // Key base at a depth whose first word starts inside the
                // common part: depth - 3 <= agree.
                const int32_t depth = 5 + static_cast<int32_t>(rng() % static_cast<uint32_t>(agree - 1));
                const int32_t key = -depth;
                const bool x_first = rng() & 1;
                const int32_t a = x_first ? x : y;
                const int32_t r = x_first ? y : x;
                const int got = cached_compare(*s, key + a, key + r);
                const int expected = rank[static_cast<size_t>(a)] > rank[static_cast<size_t>(r)] ? 1 : 0;
                if (got != expected && ++wrong < 5)
                    ADD_FAILURE() << "positions " << a << " and " << r << " at depth " << depth;
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(s->counters.cache_hits, 0u);
        repeat_state_release(*s);
        release_buffers(b);
    }
}

}  // namespace
