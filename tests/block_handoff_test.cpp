// A block's coding passed between its worker and the ordered pass: whichever
// way the range coder travels, the stream is the one coding at once writes,
// and every byte is drained on the caller's thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "archive/block_handoff.h"
#include "dc/block_code.h"
#include "support/cli_run.h"
#include "support/memory_stream.h"
#include "support/sort_harness.h"

namespace {

// never_lent: the caller replays every showing and keeps the coder, as for
// the last block of an input.
enum class Way { offered_first, taken_midway, recorded_whole, never_lent, sort_failed };

struct Worker {
    BlockHandoff& h;
    BlockSteps& b;
    std::vector<int32_t>& work;
    Way way;
};

bool offered(void* ctx) { return static_cast<BlockHandoff*>(ctx)->holder == BlockHandoff::Holder::offered; }

// Shows twice, then waits for the caller's offer, which it takes at the third showing.
bool show_then_wait(void* ctx, const StepRecord& r, bool ended) {
    BlockHandoff& h = *static_cast<BlockHandoff*>(ctx);
    if (h.shows == 2) pool_wait_for(*h.pool, offered, &h);
    return handoff_show(ctx, r, ended);
}

void work_job(void* ctx) {
    Worker& w = *static_cast<Worker*>(ctx);
    if (w.way == Way::sort_failed) return handoff_failed(w.h);
    if (w.way == Way::offered_first) pool_wait_for(*w.h.pool, offered, &w.h);
    handoff_work(w.h, w.b, w.work.data(), w.work.size(), 64,
                 w.way == Way::taken_midway ? show_then_wait : handoff_show);
}

// Output that notes whether any drain ran off the caller's thread.
struct Sink {
    std::vector<uint8_t> bytes;
    std::thread::id caller = std::this_thread::get_id();
    bool off_thread = false, fails = false;
};

// A coder part way through a stream, so the block starts from no fresh state.
void start_mid_stream(NumberCoder& nc, MemoryOut& m, Sink& s) {
    start_packing(nc, m);
    m.out.ctx = &s;
    m.out.drain = [](void* ctx, const uint8_t* data, size_t len) {
        Sink& s = *static_cast<Sink*>(ctx);
        s.off_thread |= std::this_thread::get_id() != s.caller;
        s.bytes.insert(s.bytes.end(), data, data + len);
        return !s.fails;
    };
    for (uint32_t v : {12345u, 7u, 99999u}) encode_number(nc, v, 3, 1);
}

TEST(BlockHandoff, EveryWayTheCoderPassesWritesTheStreamOfCodingAtOnce) {
    auto sorter = make_sorter();
    const ForwardResult f = run_forward(*sorter, random_bytes(3, 20000, 40));
    ASSERT_TRUE(f.ok);
    const int32_t n = static_cast<int32_t>(f.transformed.size());
    const struct {
        Way way;
        bool drain_fails, small_work;  // small: the record fills and the caller codes the rest
    } cases[] = {{Way::offered_first, false, false}, {Way::taken_midway, false, false},
                 {Way::recorded_whole, false, false}, {Way::recorded_whole, false, true},
                 {Way::never_lent, false, false},    {Way::never_lent, false, true},
                 {Way::never_lent, true, false},     {Way::sort_failed, false, false},
                 {Way::offered_first, true, false},  {Way::taken_midway, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.way) * 10 + c.drain_fails);
        Sink expected_sink, got_sink;
        NumberCoder expected, got;
        MemoryOut expected_out, got_out;
        start_mid_stream(expected, expected_out, expected_sink);
        start_mid_stream(got, got_out, got_sink);
        // A failing output fails within the block.
        expected_sink.fails = got_sink.fails = c.drain_fails;
        DistanceCoder dc;
        std::vector<int32_t> distance(static_cast<size_t>(n) + 1);
        dc.distance = distance.data();
        if (c.way != Way::sort_failed) code_block(dc, expected, f.transformed.data(), n, f.primary);

        WorkerPool pool;
        pool_start(pool, 1);
        BlockHandoff h;
        h.pool = &pool;
        std::vector<int32_t> work(static_cast<size_t>(n) + 1);
        BlockSteps b;
        steps_prepare(b, f.transformed.data(), n, f.primary, work.data());
        // Room for the distances and a few hundred words of record.
        if (c.small_work) work.resize(static_cast<size_t>(b.dc.run_count) + 200);
        Worker w{h, b, work, c.way};
        Job job{work_job, &w};
        pool_submit(pool, job);
        // The caller comes late: after the whole record, or after the first showing.
        if (c.way == Way::recorded_whole) pool_wait(pool, job);
        if (c.way == Way::taken_midway)
            pool_wait_for(pool, [](void* ctx) { return static_cast<BlockHandoff*>(ctx)->shows > 0; }, &h);
        handoff_code(h, got.rc, c.way != Way::never_lent);
        pool_wait(pool, job);
        pool_stop(pool);
        if (c.way != Way::sort_failed) steps_finish(b, got, true);

        EXPECT_EQ(got_out.out.failed, c.drain_fails && c.way != Way::sort_failed);
        flush_out(got_out.out);
        flush_out(expected_out.out);
        EXPECT_EQ(got_sink.bytes, expected_sink.bytes);
        EXPECT_EQ(got.rc.low, expected.rc.low);
        EXPECT_EQ(got.rc.range, expected.rc.range);
        EXPECT_EQ(bytes_out(got_out.out), bytes_out(expected_out.out));
        EXPECT_FALSE(got_sink.off_thread);
        EXPECT_EQ(h.coded, c.way == Way::offered_first || c.way == Way::taken_midway);
        EXPECT_EQ(b.dc.stage == dc_stage_done, c.way != Way::sort_failed);
    }
}

}  // namespace
