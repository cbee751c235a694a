// Range coder and adaptive integer model: the carry-less cuts, and numbers
// of every length coded and decoded. The exact bytes are pinned by the
// golden archives, what the decoder rejects by the damaged and hostile
// archive tests.
#include <gtest/gtest.h>

#include <random>

#include "coder/model.h"
#include "coder/number_encode.h"
#include "coder/range_coder.h"
#include "coder/step_record.h"
#include "support/memory_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct StepCase {
    uint32_t low, unit;
    Bytes written;
    uint32_t end_low, end_range;
};

TEST(RangeCoder, StraddleAndShiftCases) {
    const StepCase cases[] = {
        {0x12FFF000, 0x2000, {0x13, 0x00}, 0x00000000, 0x10000000},  // tie keeps the upper part
        {0x12FFD000, 0x3800, {0x12, 0xFF}, 0xD0000000, 0x2FFF0000},  // lower part is larger
        {0x12FFF000, 0x4000, {}, 0x12FFF000, 0x4000},                // wide enough: no cut
        {0x12345678, 0x400000, {0x12}, 0x34567800, 0x40000000},      // plain shift
        {0x1256FFE0, 0x30, {0x12, 0x56, 0xFF}, 0xE0000000, 0x1FFF0000},  // a shift, then a cut
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.low);
        NumberCoder nc;
        MemoryOut m;
        start_packing(nc, m);
        CoderInterval ci{nc.rc, c.low, 0};
        interval_step(ci, c.unit, 0, 1);
        EXPECT_EQ(memory_out_bytes(m), c.written);
        EXPECT_EQ(ci.low, c.end_low);
        EXPECT_EQ(ci.range, c.end_range);
    }
}

struct Item {
    uint32_t value;
    uint8_t symbol, kind;
    bool block_start;  // models start afresh here (the replay test)
};

std::vector<Item> random_items(uint32_t seed, size_t count) {
    std::mt19937 rng(seed);
    std::vector<Item> items;
    for (size_t i = 0; i < count; i++) {
        const int bits = static_cast<int>(rng() % 28);  // bit lengths 0..27
        uint32_t v = bits == 0 ? 0 : (1u << (bits - 1)) | (rng() & ((1u << (bits - 1)) - 1));
        if (rng() % 3 == 0) v = rng() % 8;  // small numbers are the common case
        items.push_back({v, static_cast<uint8_t>(rng() % 6 == 0 ? rng() & 255 : rng() % 4),
                         static_cast<uint8_t>(rng() & 1), rng() % 500 == 0});
    }
    return items;
}

TEST(IntegerModel, NumbersReplayAsCodedAndComeBackFromExactlyTheirBytes) {
    // Random numbers of every length up to 27 bits, in stretches coded at
    // once or recorded into areas of random sizes and replayed: the same
    // registers after every stretch and the same bytes at the end; decoded,
    // the same numbers from exactly those bytes.
    for (uint32_t seed = 1; seed <= 4; seed++) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        std::vector<Item> items = random_items(seed + 100, 20000);
        for (uint32_t v : {(1u << 27) - 1, 1u << 26, 4194304u, 8u, 7u}) items.push_back({v, 255, 1, false});
        NumberCoder direct, split;
        MemoryOut md, ms;
        start_packing(direct, md);
        start_packing(split, ms);
        std::vector<uint16_t> memory(step_record_areas * (number_steps_max + 4000));
        StepRecord r;
        uint16_t* free_at = memory.data();
        int replays = 0;
        auto replay = [&] {
            replay_steps(split.rc, r);
            record_clear(r);
            free_at = memory.data();
            replays++;
            ASSERT_EQ(split.rc.low, direct.rc.low);
            ASSERT_EQ(split.rc.range, direct.rc.range);
        };
        for (size_t i = 0; i < items.size();) {
            const size_t e = std::min(items.size(), i + 1 + rng() % 200);
            const bool record = rng() % 4 != 0;
            for (; i < e; i++) {
                const Item& it = items[i];
                if (it.block_start) {
                    reset_models(direct.models);
                    reset_models(split.models);
                }
                if (record && !sink_has_room(r)) {
                    const size_t words = number_steps_max + rng() % 4000;
                    if (r.area_count == step_record_areas) replay();
                    ASSERT_TRUE(record_open(r, free_at, free_at + words));
                    free_at += words;
                }
                encode_number(direct, it.value, it.symbol, it.kind);
                if (record)
                    encode_number_to(split.models, r, it.value, it.symbol, it.kind);
                else
                    encode_number(split, it.value, it.symbol, it.kind);
            }
            replay();
        }
        EXPECT_GT(replays, 100);
        rc_flush(direct.rc);
        rc_flush(split.rc);
        Bytes bytes = memory_out_bytes(md);
        EXPECT_EQ(memory_out_bytes(ms), bytes);
        const size_t stream_size = bytes.size();
        bytes.insert(bytes.end(), {0xAB, 0xCD, 0xEF});  // the next entry of an archive
        ByteIn in;
        byte_in_from_memory(in, bytes.data(), bytes.size());
        NumberCoder dec;
        start_unpacking(dec, in);
        for (const Item& it : items) {
            if (it.block_start) reset_models(dec.models);
            uint32_t v = 0;
            ASSERT_EQ(decode_number(dec, it.symbol, it.kind, v), Status::ok);
            ASSERT_EQ(v, it.value);
        }
        EXPECT_EQ(bytes_in(in), stream_size);
        EXPECT_FALSE(in.overread);
    }
}

}  // namespace
