// Distance coder and decoder: the exact numbers coded for known blocks, the
// decoder rebuilding whatever the coder was given and rejecting what it never writes.
#include <gtest/gtest.h>

#include <random>

#include "dc/block_code.h"
#include "dc/dc_decode.h"
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
        {{ch('x')}, 0, {{1, 0, 0}, {120, 0, 1}, {0, ch('x'), 0}, {0, 0, 1}, {0, ch('x'), 0}, {0, 0, 0}}},
        // n copies of one byte: one distance, with the run flag.
        {Bytes(5, 7), 4, {{5, 0, 0}, {7, 0, 1}, {0, 7, 0}, {0, 0, 1}, {0, 7, 1}, {4, 0, 0}}},
        // Byte 0 present: the first delta is 0 and the set goes on.
        {{0, ch('a'), ch('b'), 0}, 2,
         {{4, 0, 0}, {0, 0, 1}, {0, 0, 0}, {97, 0, 1}, {1, ch('a'), 0}, {1, 0, 1}, {2, ch('b'), 0}, {0, 0, 1},
          {0, 0, 0}, {0, ch('a'), 0}, {0, ch('b'), 0}, {0, 0, 0}, {2, 0, 0}}},
        {{}, 0, {{0, 0, 0}}},  // the end marker alone
    };
    for (const auto& c : cases) EXPECT_EQ(trace_block(c.block, c.primary), c.numbers) << c.block.size();
}

// Packs the blocks as one member stream, then decodes them back.
void round_trip(const std::vector<Bytes>& blocks) {
    NumberCoder enc;
    MemoryOut m;
    start_packing(enc, m);
    DistanceCoder dc;
    size_t largest = 1;
    for (const Bytes& b : blocks) largest = std::max(largest, b.size());
    std::vector<int32_t> distance(largest + 1);
    dc.distance = distance.data();
    for (const Bytes& b : blocks) code_block(dc, enc, b.data(), static_cast<int32_t>(b.size()), 0);
    code_block(dc, enc, nullptr, 0, 0);
    const Bytes& stream = memory_out_bytes(m);

    ByteIn in;
    byte_in_from_memory(in, stream.data(), stream.size());
    NumberCoder dec;
    start_unpacking(dec, in);
    DistanceDecoder dd;
    Bytes buffer(largest);
    for (const Bytes& b : blocks) {
        reset_models(dec.models);
        int32_t n = -1;
        ASSERT_EQ(dc_decode(dd, dec, buffer.data(), static_cast<uint32_t>(largest), n), Status::ok);
        ASSERT_EQ(n, static_cast<int32_t>(b.size()));
        ASSERT_TRUE(std::equal(b.begin(), b.end(), buffer.begin()));
        uint32_t primary = 1;
        ASSERT_EQ(decode_number(dec, 0, 0, primary), Status::ok);
        EXPECT_EQ(primary, 0u);
    }
    reset_models(dec.models);
    int32_t n = -1;
    ASSERT_EQ(dc_decode(dd, dec, buffer.data(), static_cast<uint32_t>(largest), n), Status::ok);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(bytes_in(in), stream.size());
}

Bytes random_block(std::mt19937& rng, size_t n, unsigned alphabet, unsigned run_chance) {
    Bytes b(n);
    uint8_t prev = 0;
    for (auto& x : b) {
        x = rng() % 100 < run_chance ? prev : static_cast<uint8_t>(rng() % alphabet);
        prev = x;
    }
    return b;
}

TEST(DistanceDecoder, RebuildsWhatWasCoded) {
    std::mt19937 rng(17);
    std::vector<Bytes> blocks;
    for (unsigned alphabet : {1u, 2u, 3u, 5u, 26u, 256u})
        for (unsigned runs : {0u, 50u, 95u}) blocks.push_back(random_block(rng, 1 + rng() % 5000, alphabet, runs));
    Bytes all(256);
    for (int i = 0; i < 256; i++) all[i] = static_cast<uint8_t>(255 - i);
    blocks.push_back(all);
    blocks.push_back(Bytes(100000, 0));
    blocks.push_back(Bytes{200});
    blocks.push_back(Bytes{0});
    round_trip(blocks);
}

TEST(DistanceCoder, RecordedBlocksCodeAsCodingAtOnce) {
    // Transformed corpus blocks and incompressible ones, one member stream,
    // each block recorded in a work area as large as the packer's, one that
    // ends part way through the distances, and one with no room past them;
    // replayed and finished, they leave the same registers as code_block.
    auto sorter = make_sorter();
    std::vector<ForwardResult> blocks;
    const std::vector<CorpusBlock> corpus = corpus_blocks(1 << 17);
    for (size_t i = 0; i < corpus.size(); i += corpus.size() / 6 + 1) blocks.push_back(run_forward(*sorter, corpus[i].bytes));
    std::mt19937 rng(5);
    blocks.push_back({true, random_block(rng, 100000, 256, 0), 7, ""});
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

// Codes a hand-made number sequence as if it were a block stream.
Bytes stream_of(const std::vector<TracedNumber>& numbers) {
    NumberCoder enc;
    MemoryOut m;
    start_packing(enc, m);
    for (const TracedNumber& t : numbers) encode_number(enc, t.value, t.symbol, t.kind);
    rc_flush(enc.rc);
    return memory_out_bytes(m);
}

Status decode_stream(const Bytes& stream, uint32_t max_n) {
    ByteIn in;
    byte_in_from_memory(in, stream.data(), stream.size());
    NumberCoder dec;
    start_unpacking(dec, in);
    DistanceDecoder dd;
    Bytes buffer(max_n);
    int32_t n = 0;
    return dc_decode(dd, dec, buffer.data(), max_n, n);
}

TEST(DistanceDecoder, RejectsStreamsNoCoderWrites) {
    // Longer than the block size.
    EXPECT_EQ(decode_stream(stream_of({{9, 0, 0}}), 8), Status::bad_block_length);
    // A value listed twice (second delta 0 ends the set, so use 256 via wrap: 5 then 256 -> same value).
    EXPECT_EQ(decode_stream(stream_of({{4, 0, 0}, {5, 0, 1}, {0, 5, 0}, {256, 0, 1}, {1, 5, 0}}), 8),
              Status::bad_symbol_set);
    // A first position outside the block.
    EXPECT_EQ(decode_stream(stream_of({{4, 0, 0}, {5, 0, 1}, {4, 5, 0}, {0, 0, 1}}), 8), Status::bad_symbol_set);
    // No value starts at position 0.
    EXPECT_EQ(decode_stream(stream_of({{4, 0, 0}, {5, 0, 1}, {1, 5, 0}, {0, 0, 1}}), 8), Status::bad_run);
    // Two values share a first position: a run of length 0.
    EXPECT_EQ(decode_stream(stream_of({{4, 0, 0}, {5, 0, 1}, {0, 5, 0}, {1, 0, 1}, {0, 6, 0}, {0, 0, 1}}), 8),
              Status::bad_run);
    // A distance that sends the next run past the block end.
    EXPECT_EQ(decode_stream(stream_of({{4, 0, 0}, {5, 0, 1}, {0, 5, 0}, {1, 0, 1}, {2, 6, 0}, {0, 0, 1},
                                       {0, 5, 1}, {5, 6, 0}}),
                            8),
              Status::bad_run);
    // And the well-formed stream of 5 5 6 5 for contrast.
    EXPECT_EQ(decode_stream(stream_of({{4, 0, 0}, {5, 0, 1}, {0, 5, 0}, {1, 0, 1}, {2, 6, 0}, {0, 0, 1},
                                       {0, 5, 1}, {0, 6, 0}, {0, 5, 0}}),
                            8),
              Status::ok);
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
        const Bytes block = random_block(rng, 1 + rng() % max_n, trial % 2 ? 256 : 1 + rng() % 40, rng() % 90);
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
