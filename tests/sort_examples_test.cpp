// Hand-checked blocks: small enough to work out the context order on paper.
#include <gtest/gtest.h>

#include "dc/block_buffers.h"
#include "sort/bigram.h"
#include "sort/forward.h"
#include "sort/sorter.h"
#include "support/oracle.h"
#include "support/sort_harness.h"

namespace {

struct Example {
    const char* block;
    std::vector<int32_t> rows;
    const char* transformed;
    int32_t primary;
};

TEST(SortExamples, HandCheckedBlocksAndTheOracleAgree) {
    const Example examples[] = {
        {"banana", {1, 3, 5, 0, 2, 4}, "nnbaaa", 2},
        {"mississippi", {1, 10, 4, 7, 0, 8, 9, 2, 5, 3, 6}, "smspipissii", 1},
        {"xxxx", {0, 1, 2, 3}, "xxxx", 3},
        {"ba", {1, 0}, "ba", 0},
        {"q", {0}, "q", 0},
    };
    auto s = make_sorter();
    ASSERT_TRUE(s);
    for (const Example& e : examples) {
        SCOPED_TRACE(e.block);
        const auto block = bytes_of(e.block);
        const OracleTransform o = oracle_transform(block);
        EXPECT_EQ(o.rows, e.rows);
        EXPECT_EQ(o.transformed, bytes_of(e.transformed));
        EXPECT_EQ(o.primary, e.primary);

        const ForwardResult r = run_forward(*s, block);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.transformed, bytes_of(e.transformed));
        EXPECT_EQ(r.primary, e.primary);
        EXPECT_EQ(r.progress, "D\bW");
    }
}

// bucket_block on its own, with the layout worked out by hand.
struct Bucketed {
    BlockBuffers b;
    SorterPtr s = make_sorter();
    explicit Bucketed(const std::string& text) {
        const uint32_t n = static_cast<uint32_t>(text.size());
        EXPECT_TRUE(setup_buffers(b, n, false));
        std::copy(text.begin(), text.end(), b.block_start);
        bucket_block(*s, b.block_start, static_cast<int32_t>(n), b.index);
    }
    ~Bucketed() { release_buffers(b); }
    static int32_t bucket(char hi, char lo) { return static_cast<uint8_t>(hi) * 256 + static_cast<uint8_t>(lo); }
};

TEST(SortExamples, BucketBlockPlacesPositionZeroAndTheSelection) {
    {
        Bucketed one("q");
        const int32_t k = Bucketed::bucket('q', 0);
        EXPECT_EQ(one.b.index[0], 0);
        EXPECT_EQ(one.s->bigram_start[k], 0);
        EXPECT_EQ(one.s->bigram_fill[k], 1);  // group start: one row above position 0
        EXPECT_EQ(one.s->bigram_start[65536], 1);
        EXPECT_EQ(one.b.block_start[1], 255);  // the sentinel in the spare byte
    }
    {
        // b a: position 1 (bucket a,b) is selected, position 0 stands alone
        // at the start of bucket b,0, which sorts after it.
        Bucketed ba("ba");
        const int32_t k1 = Bucketed::bucket('a', 'b');
        const int32_t k0 = Bucketed::bucket('b', 0);
        EXPECT_EQ(ba.s->bigram_start[k1], 0);
        EXPECT_EQ(ba.s->bigram_fill[k1], 1);
        EXPECT_EQ(ba.b.index[0], 1);
        EXPECT_EQ(ba.s->bigram_start[k0], 1);
        EXPECT_EQ(ba.b.index[1], 0);
        EXPECT_EQ(ba.s->group_start['b'], 2);
    }
    {
        // Four equal bytes: nothing is selected; position 0 takes the group's
        // first row and every bucket stays empty of selected positions.
        Bucketed same("xxxx");
        EXPECT_EQ(same.b.index[0], 0);
        EXPECT_EQ(same.s->group_start['x'], 1);
        for (int32_t k = 0; k < 65536; ++k)
            EXPECT_EQ(same.s->bigram_fill[k], k == Bucketed::bucket('x', 0) ? 1 : same.s->bigram_start[k]) << k;
    }
    {
        // A first byte of 0 puts position 0 in row 0, the first row of bucket 0.
        Bucketed zero(std::string("\0ab", 3));
        EXPECT_EQ(zero.b.index[0], 0);
        EXPECT_EQ(zero.s->bigram_start[0], 0);
        EXPECT_EQ(zero.s->group_start[0], 1);
    }
    {
        // m i s s i s s i p p i: selected are the positions after a drop that
        // follows no rise: 1 (i after m), 4 and 7 (i after s s), 10 (i after p p).
        Bucketed m("mississippi");
        const int32_t k = Bucketed::bucket('i', 's');
        EXPECT_EQ(m.s->bigram_fill[k] - m.s->bigram_start[k], 2);
        EXPECT_EQ(m.b.index[m.s->bigram_start[k]], 4);
        EXPECT_EQ(m.b.index[m.s->bigram_start[k] + 1], 7);
        const int32_t km = Bucketed::bucket('i', 'm');
        EXPECT_EQ(m.b.index[m.s->bigram_start[km]], 1);
        const int32_t kp = Bucketed::bucket('i', 'p');
        EXPECT_EQ(m.b.index[m.s->bigram_start[kp]], 10);
    }
}

}  // namespace
