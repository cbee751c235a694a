// Distance coder: blocks coded by recording and replaying steps against
// coding them at once. What the decoder rejects is pinned by the damaged and
// hostile archive tests, the way back by every round trip and the exact bytes by the golden
// archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include <sys/mman.h>
#include <unistd.h>

#include "dc/block_buffers.h"
#include "dc/block_code.h"
#include "dc/block_symbols.h"
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
    // Two times in three the record is replayed as it grows, shown every 999
    // words or so; in the third, the one shown takes over at the third
    // showing (or at the end, if the record ends first), replaying the part
    // not shown and coding the rest at once.
    constexpr int ways = 9;  // three work areas, each coded three ways
    auto sorter = make_sorter();
    std::vector<ForwardResult> blocks;
    const Bytes corpus = corpus_bytes();
    constexpr size_t block = 1 << 17;
    for (size_t at = 0; at < corpus.size(); at += 6 * block)
        blocks.push_back(run_forward(*sorter, Bytes(corpus.begin() + at, corpus.begin() + std::min(corpus.size(), at + block))));
    blocks.push_back({true, random_bytes(5, 100000), 7, {}});
    blocks.push_back({true, Bytes(5000, 9), 0, {}});
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
        for (int room = 0; room < ways; room++) {
            SCOPED_TRACE(room);
            code_block(dc, direct, f.transformed.data(), n, f.primary);
            BlockSteps b;
            steps_prepare(b, f.transformed.data(), n, f.primary, work.data());
            const size_t runs = static_cast<size_t>(b.dc.run_count);
            const size_t entries[] = {work.size(), runs + (work.size() - runs) / 16, runs};
            struct Shown {
                NumberCoder& nc;
                bool takes;
                ReplayPoint where;
                size_t calls = 0, ended = 0;
            } shown{split, room >= 6, {}};
            const RecordProgress progress{[](void* ctx, const StepRecord& r, bool ended) {
                                              auto& v = *static_cast<Shown*>(ctx);
                                              if (v.takes && (++v.calls == 3 || ended)) return true;
                                              replay_steps_on(v.nc.rc, r, v.where);
                                              v.calls += !v.takes;
                                              v.ended += ended;
                                              return false;
                                          },
                                          &shown, 999};
            const bool took = steps_record(b, work.data(), entries[room % 3], room < 3 ? nullptr : &progress);
            EXPECT_EQ(took, room >= 6);
            EXPECT_EQ(shown.ended, room >= 3 && room < 6 ? 1u : 0u);
            if (room >= 3 && room < 6) {
                EXPECT_GE(shown.calls, record_words(b.record) / 999);
            }
            if (took) {
                replay_steps_on(split.rc, b.record, shown.where);
                steps_code_at_once(b, split.rc);
            }
            whole += b.dc.stage == dc_stage_done;
            part += b.dc.stage == dc_stage_runs && b.dc.pos > 0;
            steps_finish(b, split, room >= 3);
            ASSERT_EQ(split.rc.low, direct.rc.low);
            ASSERT_EQ(split.rc.range, direct.rc.range);
        }
    }
    EXPECT_GE(whole, 8);  // the text blocks and the run, at the packer's size
    EXPECT_GE(part, 16);
    code_block(dc, direct, nullptr, 0, 0);
    code_block(dc, split, nullptr, 0, 0);
    EXPECT_EQ(memory_out_bytes(ms), memory_out_bytes(md));

    // Decoding the stream back with a tick that asks to be called again 7
    // bytes on: every block comes back, and the tick runs after each run
    // that reaches what it asked for, never before, with the block's length.
    struct Calls {
        int32_t asked = 0, last = 0, n = 0;
        int count = 0;
        bool in_order = true;
    } calls;
    DecodeTick tick{[](void* ctx, int32_t written, int32_t n) {
                        Calls& c = *static_cast<Calls*>(ctx);
                        c.in_order &= written >= c.asked && written > c.last && written <= n && n == c.n;
                        c.count++;
                        c.last = written;
                        return c.asked = written + 7;
                    },
                    &calls};
    ByteIn in;
    byte_in_from_memory(in, memory_out_bytes(md).data(), memory_out_bytes(md).size());
    NumberCoder dec;
    start_unpacking(dec, in);
    BlockDecoder bd;
    for (const ForwardResult& f : blocks)
        for (int room = 0; room < ways; room++) {
            const int32_t n = static_cast<int32_t>(f.transformed.size());
            Bytes t(f.transformed.size());
            int32_t got = 0, primary = 0;
            calls = Calls{0, 0, n};
            ASSERT_EQ(decode_block_symbols(bd, dec, t.data(), static_cast<uint32_t>(n), false, got, primary, &tick),
                      Status::ok);
            EXPECT_TRUE(t == f.transformed && primary == f.primary);
            int32_t counts[256] = {};
            for (const uint8_t b : f.transformed) counts[b]++;
            EXPECT_TRUE(std::equal(counts, counts + 256, bd.dd.value_count));
            EXPECT_TRUE(calls.in_order);
            // No call after the last one: the block ended within the 7 bytes.
            EXPECT_GE(calls.last + 7, n);
            EXPECT_GE(calls.count, 1);
        }
}

TEST(DistanceDecoder, PackedListDecodesAsThePlainArrays) {
    // Every placement this processor has (the packed list placed whole
    // with 64-byte vectors, scanned eight entries a step from either end,
    // its start moving through a wider array, or one entry a step; the
    // plain arrays that blocks of 8 MiB and more use, four entries a step or
    // one) against the portable plain arrays: a block coded alone, then the
    // same stream with one bit flipped at a time, give the same status,
    // length and bytes every way. The alphabets put the list's end on either side of a vector's;
    // with 40 values and more, places fall on either side of entry 32, and
    // with the text and 256 values of entry 64 too, where the rewrite may
    // stop early.
    auto sorter = make_sorter();
    const Bytes corpus = corpus_bytes();
    const Bytes inputs[] = {random_bytes(11, 60000),     random_bytes(12, 60000, 40), random_bytes(13, 60000, 24),
                            random_bytes(14, 30000, 16), random_bytes(15, 30000, 17),
                            Bytes(corpus.begin(), corpus.begin() + std::min<size_t>(corpus.size(), 60000))};
    int failed = 0;
    for (const Bytes& input : inputs) {
        const ForwardResult f = run_forward(*sorter, input);
        ASSERT_TRUE(f.ok);
        const int32_t n = static_cast<int32_t>(f.transformed.size());
        std::vector<int32_t> distance(f.transformed.size() + 1);
        DistanceCoder dc;
        dc.distance = distance.data();
        NumberCoder enc;
        MemoryOut mo;
        start_packing(enc, mo);
        code_block(dc, enc, f.transformed.data(), n, f.primary);
        code_block(dc, enc, nullptr, 0, 0);
        const Bytes stream = memory_out_bytes(mo);
        for (size_t k = 0; k <= 24; k++) {
            Bytes s = stream;  // k = 0 intact, then a flip every 24th of the way
            if (k > 0) s[(k - 1) * (stream.size() / 24) + k % 7] ^= static_cast<uint8_t>(1u << (k % 8));
            const uint32_t max_n = static_cast<uint32_t>(n) + 1000;
            constexpr int ways = 5;
            Bytes out[ways];
            Status st[ways];
            int32_t got[ways] = {-1, -1, -1, -1, -1};
            for (int way = 0; way < ways; way++) {
                ByteIn in;
                byte_in_from_memory(in, s.data(), s.size());
                NumberCoder dec;
                start_unpacking(dec, in);
                auto dd = std::make_unique<DistanceDecoder>();
                if (!dc_use_placement(*dd, static_cast<DcPlacement>(way))) {
                    out[way] = out[0], st[way] = st[0], got[way] = got[0];
                    continue;
                }
                out[way].assign(max_n, 0xA5);
                st[way] = dc_decode(*dd, dec, out[way].data(), max_n, got[way]);
            }
            for (int way = 1; way < ways; way++) {
                EXPECT_EQ(st[0], st[way]);
                EXPECT_EQ(got[0], got[way]);
                EXPECT_TRUE(out[0] == out[way]);
            }
            if (k == 0) {
                EXPECT_TRUE(st[0] == Status::ok && Bytes(out[0].begin(), out[0].begin() + n) == f.transformed);
            }
            failed += st[0] != Status::ok;
        }
    }
    EXPECT_GE(failed, 20);  // the flips reach the checks, not only the bytes
}

// Pages of [p, p + len) not in memory.
size_t pages_absent(const void* p, size_t len) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const auto from = reinterpret_cast<uintptr_t>(p) & ~(page - 1);
    const size_t span = reinterpret_cast<uintptr_t>(p) + len - from;
    std::vector<unsigned char> in((span + page - 1) / page);
    EXPECT_EQ(mincore(reinterpret_cast<void*>(from), span, in.data()), 0);
    return static_cast<size_t>(std::count_if(in.begin(), in.end(), [](unsigned char c) { return !(c & 1); }));
}

// Whether the running kernel readies pages on request (older ones refuse).
bool kernel_readies_pages() {
#ifdef MADV_POPULATE_WRITE
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* p = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    const bool ok = madvise(p, page, MADV_POPULATE_WRITE) == 0;
    munmap(p, page);
    return ok;
#else
    return false;
#endif
}

TEST(BlockBuffers, IndexPrefaultMapsItsEntriesAndKeepsTheirValues) {
    // The packer's caller readies a sort's index while the sort may already
    // be writing it: what is written must stay, and the pages must be in.
    const bool supported = kernel_readies_pages();
    struct Case {
        uint32_t block_size;
        size_t written, readied;  // entries written first, entries readied
    };
    const Case cases[] = {{1, 2, 2}, {5000, 0, 1}, {5000, 1200, 5001}, {4u << 20, 300000, 3u << 20},
                          {4u << 20, (4u << 20) + 1, (4u << 20) + 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.block_size);
        BlockBuffers b;
        ASSERT_TRUE(setup_parts(b, c.block_size, part_index));
        for (size_t i = 0; i < c.written; i++) b.index[i] = static_cast<int32_t>(i * 2654435761u);
        EXPECT_EQ(prefault_index(b, c.readied), supported);
        if (supported) {
            EXPECT_EQ(pages_absent(b.index, c.readied * sizeof(int32_t)), 0u);
        }
        size_t kept = 0;
        for (size_t i = 0; i < c.written; i++) kept += b.index[i] == static_cast<int32_t>(i * 2654435761u);
        EXPECT_EQ(kept, c.written);
        EXPECT_FALSE(prefault_index(b, 0));
        release_buffers(b);
    }
}

}  // namespace
