// The calgary and canterbury files, in blocks of at most the packer's size,
// against the oracle.
#include <gtest/gtest.h>

#include "support/sort_harness.h"

namespace {

TEST(SortCorpus, EveryFileMatchesTheOracle) {
    SorterPtr s = make_sorter();
    ASSERT_TRUE(s);
    const std::vector<CorpusBlock> blocks = corpus_blocks(1 << 22);
    ASSERT_GE(blocks.size(), 29u);
    for (const CorpusBlock& b : blocks) {
        SCOPED_TRACE(b.name);
        matches_oracle(*s, b.bytes);
    }
}

}  // namespace
