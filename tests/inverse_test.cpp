// Inverse transform and block decode.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "dc/block_code.h"
#include "dc/block_buffers.h"
#include "inverse/decode_block.h"
#include "support/memory_stream.h"
#include "support/sort_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The transform by its definition: rows ordered by the bytes read backwards
// from each position, a shorter reading first.
std::pair<Bytes, int32_t> slow_transform(const Bytes& s) {
    const int32_t n = static_cast<int32_t>(s.size());
    std::vector<int32_t> rows(n);
    for (int32_t i = 0; i < n; i++) rows[i] = i;
    std::sort(rows.begin(), rows.end(), [&](int32_t a, int32_t b) {
        for (; a >= 0 && b >= 0; a--, b--)
            if (s[a] != s[b]) return s[a] < s[b];
        return a < b;
    });
    Bytes t(n);
    int32_t primary = -1;
    for (int32_t j = 0; j < n; j++) {
        if (rows[j] == n - 1) primary = j;
        t[j] = rows[j] == n - 1 ? s[0] : s[rows[j] + 1];
    }
    return {t, primary};
}

TEST(InverseTransform, AcceptsExactlyTheRealTransforms) {
    // Every (t, primary) over a two-letter alphabet up to 7 bytes: either it
    // inverts to bytes whose transform it is, or it is no transform at all.
    // Blocks of 8 bytes or more also go through the path for huge blocks.
    for (int32_t n = 1; n <= 10; n++) {
        std::set<std::string> real;  // transformed bytes followed by the primary index
        for (uint32_t bits = 0; bits < (1u << n); bits++) {
            Bytes s(n);
            for (int32_t i = 0; i < n; i++) s[i] = (bits >> i) & 1 ? 'b' : 'a';
            const auto [t, primary] = slow_transform(s);
            real.insert(std::string(t.begin(), t.end()) + static_cast<char>('0' + primary));
        }
        int accepted = 0;
        for (uint32_t bits = 0; bits < (1u << n); bits++)
            for (int32_t primary = 0; primary < n; primary++) {
                Bytes t(n);
                for (int32_t i = 0; i < n; i++) t[i] = (bits >> i) & 1 ? 'b' : 'a';
                Bytes block = t;
                std::vector<int32_t> links(n, 1 << 30), scratch(n, 1 << 30);
                int32_t buckets[256];
                const Status st = invert_block(buckets, block.data(), n, primary, links.data(), scratch.data());
                const bool is_real = real.count(std::string(t.begin(), t.end()) + static_cast<char>('0' + primary)) > 0;
                ASSERT_EQ(st == Status::ok, is_real) << "n " << n << " primary " << primary;
                if (n >= 8) {
                    Bytes wide = t;
                    std::vector<int32_t> l2(n, 1 << 30), s2(n, 1 << 30);
                    const Status st2 = invert_block_plain(buckets, wide.data(), n, primary, l2.data(), s2.data(), true);
                    ASSERT_EQ(st2, st) << "n " << n << " primary " << primary;
                    EXPECT_TRUE(st2 != Status::ok || wide == block);
                }
                if (st == Status::ok) {
                    EXPECT_EQ(slow_transform(block), std::make_pair(t, primary));
                    accepted++;
                }
            }
        EXPECT_EQ(accepted, static_cast<int>(real.size()));
    }
}

// Codes blocks (already transformed) as one member, then decodes with decode_block.
TEST(BlockDecode, MemberStreamsEndAtTheirEndMarker) {
    const std::vector<std::pair<std::string, int32_t>> blocks = {{"nnbaaa", 2}, {"smspipissii", 1}, {"q", 0}};
    NumberCoder enc;
    MemoryOut m;
    start_packing(enc, m);
    DistanceCoder dc;
    std::vector<int32_t> distance(16);
    dc.distance = distance.data();
    for (const auto& [t, primary] : blocks)
        code_block(dc, enc, reinterpret_cast<const uint8_t*>(t.data()), static_cast<int32_t>(t.size()), primary);
    code_block(dc, enc, nullptr, 0, 0);
    Bytes stream = memory_out_bytes(m);
    const size_t first_size = stream.size();
    start_packing(enc, m);  // a second, empty member right behind the first
    code_block(dc, enc, nullptr, 0, 0);
    EXPECT_EQ(memory_out_bytes(m), (Bytes{0, 0, 0, 0}));
    stream.insert(stream.end(), m.bytes.begin(), m.bytes.end());

    ByteIn in;
    byte_in_from_memory(in, stream.data(), stream.size());
    NumberCoder dec;
    dec.rc.mode = rc_mode_unpack;
    dec.rc.in = &in;
    BlockDecoder bd;
    Bytes buffer(16);
    std::vector<int32_t> links(16), scratch(16);
    std::string progress;
    ProgressSink sink{[](void* ctx, char c) { static_cast<std::string*>(ctx)->push_back(c); }, &progress};

    MemoryOut out;
    memory_out_init(out);
    rc_start(dec.rc);
    int32_t n = 0;
    std::vector<int32_t> sizes;
    do {
        ASSERT_EQ(decode_block(bd, dec, buffer.data(), 16, links.data(), scratch.data(), out.out, sink, n), Status::ok);
        sizes.push_back(n);
    } while (n > 0);
    EXPECT_EQ(sizes, (std::vector<int32_t>{6, 11, 1, 0}));
    EXPECT_EQ(bytes_in(in), first_size);
    EXPECT_EQ(memory_out_bytes(out), bytes_of("bananamississippiq"));

    // The empty member behind it, into a new output: its four bytes, no output, no progress.
    memory_out_init(out);
    rc_start(dec.rc);
    ASSERT_EQ(decode_block(bd, dec, buffer.data(), 16, links.data(), scratch.data(), out.out, sink, n), Status::ok);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(bytes_in(in), stream.size());
    EXPECT_FALSE(in.overread);
    EXPECT_TRUE(memory_out_bytes(out).empty());
    EXPECT_EQ(progress, "HHH");
}

TEST(BlockDecode, PrimaryIndexOutsideTheBlockIsRejected) {
    NumberCoder enc;
    MemoryOut m;
    start_packing(enc, m);
    DistanceCoder dc;
    std::vector<int32_t> distance(8);
    dc.distance = distance.data();
    code_block(dc, enc, reinterpret_cast<const uint8_t*>("nnbaaa"), 6, 6);  // row 6 does not exist
    rc_flush(enc.rc);
    const Bytes& stream = memory_out_bytes(m);
    ByteIn in;
    byte_in_from_memory(in, stream.data(), stream.size());
    NumberCoder dec;
    dec.rc.mode = rc_mode_unpack;
    dec.rc.in = &in;
    rc_start(dec.rc);
    BlockDecoder bd;
    Bytes buffer(8);
    int32_t n = 0, primary = 0;
    EXPECT_EQ(decode_block_symbols(bd, dec, buffer.data(), 8, true, n, primary), Status::bad_primary_index);
}

// Large blocks take the many-walks path; the forward sort is the reference.
TEST(InverseTransform, LargeBlocksInvertOrAreRejected) {
    const int32_t n = 400000;
    std::mt19937 rng(21);
    Bytes s(n);
    for (auto& b : s) b = static_cast<uint8_t>("abcde  \n"[rng() % 8]);
    const ForwardResult fwd = run_forward(*make_sorter(), s);
    ASSERT_TRUE(fwd.ok);
    const Bytes& t = fwd.transformed;
    const int32_t primary = fwd.primary;
    BlockBuffers buf;
    ASSERT_TRUE(setup_buffers(buf, static_cast<uint32_t>(n), true));
    int32_t buckets[256];
    std::copy(t.begin(), t.end(), buf.block_start);
    ASSERT_EQ(invert_block(buckets, buf.block_start, n, primary, buf.index, buf.distance), Status::ok);
    EXPECT_TRUE(std::equal(s.begin(), s.end(), buf.block_start));

    int rejected = 0;
    for (int trial = 0; trial < 12; trial++) {
        Bytes damaged = t;
        int32_t p = primary;
        if (trial % 3 == 0)
            p = static_cast<int32_t>(rng() % n);
        else
            std::swap(damaged[rng() % n], damaged[rng() % n]);
        std::copy(damaged.begin(), damaged.end(), buf.block_start);
        const Status st = invert_block(buckets, buf.block_start, n, p, buf.index, buf.distance);
        // The path for huge blocks must judge the same block the same way.
        Bytes wide = damaged;
        std::vector<int32_t> links(n), scratch(n);
        EXPECT_EQ(invert_block_plain(buckets, wide.data(), n, p, links.data(), scratch.data(), true), st);
        EXPECT_TRUE(st != Status::ok || std::equal(wide.begin(), wide.end(), buf.block_start));
        rejected += st == Status::bad_transform;
    }
    EXPECT_GT(rejected, 0);
    release_buffers(buf);
}

}  // namespace
