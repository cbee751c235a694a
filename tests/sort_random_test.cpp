// Random blocks over small and large alphabets against the oracle.
#include <gtest/gtest.h>

#include <thread>

#include "support/oracle.h"
#include "support/sort_harness.h"

namespace {

TEST(SortRandom, SmallBlocksOverEveryAlphabetSize) {
    SorterPtr s = make_sorter();
    ASSERT_TRUE(s);
    const unsigned alphabets[] = {1, 2, 3, 4, 26, 256};
    const size_t lengths[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 64, 100, 255, 256, 1000, 2047, 4096, 5000};
    for (unsigned alphabet : alphabets)
        for (size_t n : lengths)
            for (uint32_t seed = 1; seed <= 12; ++seed) {
                SCOPED_TRACE(::testing::Message() << "alphabet " << alphabet << " n " << n << " seed " << seed);
                if (!matches_oracle(*s, random_block(seed * 7919 + n, n, alphabet))) return;
            }
}

TEST(SortRandom, EveryLengthUpToThreeHundred) {
    SorterPtr s = make_sorter();
    ASSERT_TRUE(s);
    for (size_t n = 1; n <= 300; ++n)
        for (unsigned alphabet : {2u, 4u, 256u}) {
            SCOPED_TRACE(::testing::Message() << "alphabet " << alphabet << " n " << n);
            if (!matches_oracle(*s, random_block(static_cast<uint32_t>(n * 31 + alphabet), n, alphabet))) return;
        }
}

TEST(SortRandom, OneMebibyteBlocks) {
    SorterPtr s = make_sorter();
    ASSERT_TRUE(s);
    for (unsigned alphabet : {2u, 4u, 256u}) {
        SCOPED_TRACE(::testing::Message() << "alphabet " << alphabet);
        matches_oracle(*s, random_block(alphabet, 1 << 20, alphabet));
    }
}

// Sorters share nothing: two threads sorting different blocks at once get the
// oracle's answers.
TEST(SortRandom, SortersOnTwoThreadsAtOnce) {
    SorterPtr a = make_sorter();
    SorterPtr b = make_sorter();
    ASSERT_TRUE(a && b);
    std::vector<std::vector<uint8_t>> blocks_a;
    std::vector<std::vector<uint8_t>> blocks_b;
    for (uint32_t seed = 0; seed < 6; ++seed) {
        blocks_a.push_back(random_block(100 + seed, 50000, 4));
        blocks_b.push_back(repeat_pattern(random_block(200 + seed, 37, 256), 60000));
    }
    std::vector<ForwardResult> got_a(blocks_a.size());
    std::vector<ForwardResult> got_b(blocks_b.size());
    std::thread ta([&] {
        for (size_t i = 0; i < blocks_a.size(); ++i) got_a[i] = run_forward(*a, blocks_a[i]);
    });
    std::thread tb([&] {
        for (size_t i = 0; i < blocks_b.size(); ++i) got_b[i] = run_forward(*b, blocks_b[i]);
    });
    ta.join();
    tb.join();
    for (size_t i = 0; i < blocks_a.size(); ++i) {
        const OracleTransform oa = oracle_transform(blocks_a[i]);
        EXPECT_EQ(got_a[i].primary, oa.primary);
        EXPECT_TRUE(got_a[i].transformed == oa.transformed) << "thread a, block " << i;
        const OracleTransform ob = oracle_transform(blocks_b[i]);
        EXPECT_EQ(got_b[i].primary, ob.primary);
        EXPECT_TRUE(got_b[i].transformed == ob.transformed) << "thread b, block " << i;
    }
}

}  // namespace
