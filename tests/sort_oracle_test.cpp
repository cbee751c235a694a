// The forward sort and the whole-block sort against the oracle: random
// blocks over several alphabets and sizes, and the corpus. (Sorters on
// several threads at once: the thread-count case under the thread sanitizer.)
#include <gtest/gtest.h>

#include "sort/context_sort.h"
#include "support/cli_run.h"
#include "support/oracle.h"
#include "support/sort_harness.h"

namespace {

TEST(SortOracle, RandomBlocksOverEveryAlphabetSize) {
    SorterPtr s = make_sorter();
    std::vector<size_t> lengths;
    for (size_t n = 1; n <= 300; ++n) lengths.push_back(n);
    for (size_t n : {511, 512, 1000, 2047, 4096, 5000}) lengths.push_back(n);
    // Spread apart, small alphabets leave most runs of a group's buckets
    // empty, the low ones among them.
    for (unsigned alphabet : {1u, 2u, 3u, 4u, 26u, 256u})
        for (unsigned spread : {1u, 37u})
            for (size_t n : lengths)
                for (uint32_t seed = 1; seed <= (n <= 300 ? 1u : 6u); ++seed) {
                    SCOPED_TRACE(::testing::Message() << "alphabet " << alphabet << " spread " << spread << " n " << n
                                                      << " seed " << seed);
                    std::vector<uint8_t> block = random_bytes(seed * 7919 + static_cast<uint32_t>(n), n, alphabet);
                    for (uint8_t& b : block) b = static_cast<uint8_t>(b * spread + (spread - 1) * 3);
                    if (!matches_oracle(*s, block)) return;
                }
    for (unsigned alphabet : {2u, 4u, 256u}) {
        SCOPED_TRACE(::testing::Message() << "1 MiB, alphabet " << alphabet);
        matches_oracle(*s, random_bytes(alphabet, 1 << 20, alphabet));
    }
    // Bytes that differ in their top bit alone: no sorting pass may take them for equal.
    std::vector<uint8_t> top_bit = random_bytes(5, 1 << 20, 2);
    for (uint8_t& b : top_bit) b = static_cast<uint8_t>(0x41 | b << 7);
    SCOPED_TRACE("1 MiB of 0x41 and 0xC1");
    matches_oracle(*s, top_bit);
}

TEST(SortOracle, CorpusFiles) {  // each smaller than a default block
    SorterPtr s = make_sorter();
    for (const std::string& name : corpus_files()) EXPECT_TRUE(matches_oracle(*s, read_corpus_file(name))) << name;
}

// The whole-block sort the forward sort falls back on: every row, since the
// transformed bytes alone could hide swapped rows that carry the same byte.
TEST(SortOracle, WholeBlockSortRows) {
    auto expect_rows = [](const std::vector<uint8_t>& block) {
        std::vector<int32_t> rows(block.size());
        ASSERT_TRUE(sort_all_contexts(block.data(), static_cast<int32_t>(block.size()), rows.data()));
        EXPECT_TRUE(rows == oracle_transform(block).rows);
    };
    for (size_t n : {1, 2, 3, 5, 17, 100, 1000, 30000})
        for (unsigned alphabet : {1u, 2u, 3u, 256u}) {
            SCOPED_TRACE(::testing::Message() << "n " << n << " alphabet " << alphabet);
            expect_rows(random_bytes(static_cast<uint32_t>(n + alphabet), n, alphabet));
            expect_rows(repeat_pattern(random_bytes(static_cast<uint32_t>(n), 1 + n % 7, alphabet), n));
        }
    for (size_t n : {1000, 1 << 18}) {
        SCOPED_TRACE(n);
        expect_rows(fibonacci_word(n));
        expect_rows(thue_morse_word(n));
        std::vector<uint8_t> zeros_first(n, 0);
        zeros_first.back() = 1;
        expect_rows(zeros_first);
    }
}

}  // namespace
