// The whole-block sort the forward sort falls back on: every row against the
// oracle's (the transformed bytes alone could hide swapped rows that carry
// the same byte).
#include <gtest/gtest.h>

#include "sort/context_sort.h"
#include "support/oracle.h"
#include "support/sort_harness.h"

namespace {

void expect_oracle_rows(const std::vector<uint8_t>& block) {
    std::vector<int32_t> rows(block.size());
    ASSERT_TRUE(sort_all_contexts(block.data(), static_cast<int32_t>(block.size()), rows.data()));
    EXPECT_TRUE(rows == oracle_transform(block).rows);
}

TEST(SortContextSort, RowsMatchTheOracle) {
    for (size_t n : {1, 2, 3, 5, 17, 100, 1000, 30000})
        for (unsigned alphabet : {1u, 2u, 3u, 256u}) {
            SCOPED_TRACE(::testing::Message() << "n " << n << " alphabet " << alphabet);
            expect_oracle_rows(random_block(static_cast<uint32_t>(n + alphabet), n, alphabet));
            expect_oracle_rows(repeat_pattern(random_block(static_cast<uint32_t>(n), 1 + n % 7, alphabet), n));
        }
    for (size_t n : {1000, 1 << 18}) {
        SCOPED_TRACE(n);
        expect_oracle_rows(fibonacci_word(n));
        expect_oracle_rows(thue_morse_word(n));
        std::vector<uint8_t> zeros_first(n, 0);
        zeros_first.back() = 1;
        expect_oracle_rows(zeros_first);
    }
}

}  // namespace
