// Distance coder: blocks coded by recording and replaying steps against
// coding them at once. What the decoder rejects is pinned by the hardening
// tests, the way back by every round trip and the exact bytes by the golden
// archives.
#include <gtest/gtest.h>

#include <algorithm>

#include "dc/block_code.h"
#include "support/cli_run.h"
#include "support/memory_stream.h"
#include "support/sort_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;
TEST(DistanceCoder, RecordedBlocksCodeAsCodingAtOnce) {
    // Transformed corpus blocks and incompressible ones, one member stream,
    // each block recorded in a work area as large as the packer's, one that
    // ends part way through the distances, and one with no room past them;
    // replayed and finished, they leave the same registers as code_block.
    auto sorter = make_sorter();
    std::vector<ForwardResult> blocks;
    const Bytes corpus = corpus_bytes();
    constexpr size_t block = 1 << 17;
    for (size_t at = 0; at < corpus.size(); at += 6 * block)
        blocks.push_back(run_forward(*sorter, Bytes(corpus.begin() + at, corpus.begin() + std::min(corpus.size(), at + block))));
    blocks.push_back({true, random_bytes(5, 100000), 7, ""});
    blocks.push_back({true, Bytes(5000, 9), 0, ""});
    NumberCoder direct, split;
    MemoryOut md, ms;
    start_packing(direct, md);
    start_packing(split, ms);
    DistanceCoder dc;
    int whole = 0, part = 0;
    for (const ForwardResult& f : blocks) {
        ASSERT_TRUE(f.ok);
        const int32_t n = static_cast<int32_t>(f.transformed.size());
        std::vector<int32_t> distance(f.transformed.size() + 1), work(distance.size());
        dc.distance = distance.data();
        for (int room = 0; room < 3; room++) {
            SCOPED_TRACE(room);
            code_block(dc, direct, f.transformed.data(), n, f.primary);
            BlockSteps b;
            steps_prepare(b, f.transformed.data(), n, f.primary, work.data());
            const size_t runs = static_cast<size_t>(b.dc.run_count);
            const size_t entries[] = {work.size(), runs + (work.size() - runs) / 16, runs};
            steps_record(b, work.data(), entries[room]);
            whole += b.dc.stage == dc_stage_done;
            part += b.dc.stage == dc_stage_runs && b.dc.pos > 0;
            steps_finish(b, split);
            ASSERT_EQ(split.rc.low, direct.rc.low);
            ASSERT_EQ(split.rc.range, direct.rc.range);
        }
    }
    EXPECT_GE(whole, 4);  // the text blocks and the run, at the packer's size
    EXPECT_GE(part, 8);
    code_block(dc, direct, nullptr, 0, 0);
    code_block(dc, split, nullptr, 0, 0);
    EXPECT_EQ(memory_out_bytes(ms), memory_out_bytes(md));
}

}  // namespace
