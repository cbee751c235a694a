// Inverse transform and block decode.
#include <gtest/gtest.h>

#include <string>

#include "dc/block_code.h"
#include "inverse/decode_block.h"
#include "support/memory_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes invert(const std::string& t, int32_t primary, std::vector<int32_t>* links_out = nullptr) {
    MemoryOut m;
    memory_out_init(m);
    std::vector<int32_t> links(t.size(), -7);
    int32_t buckets[256];
    const Status st = invert_block(buckets, reinterpret_cast<const uint8_t*>(t.data()), static_cast<int32_t>(t.size()),
                                   primary, links.data(), m.out);
    EXPECT_EQ(st, Status::ok);
    if (links_out) *links_out = links;
    return memory_out_bytes(m);
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(InverseTransform, KnownBlocks) {
    std::vector<int32_t> links;
    EXPECT_EQ(invert("nnbaaa", 2, &links), bytes_of("banana"));
    EXPECT_EQ(links[0], 4);
    EXPECT_EQ(links[1], 5);
    EXPECT_EQ(links[3], 0);
    EXPECT_EQ(links[4], 1);
    EXPECT_EQ(links[5], 2);

    EXPECT_EQ(invert("smspipissii", 1), bytes_of("mississippi"));
    EXPECT_EQ(invert("ba", 0), bytes_of("ba"));
    EXPECT_EQ(invert("q", 0), bytes_of("q"));

    // n copies of one byte: the primary row is the last; links run 1, 2, ...
    EXPECT_EQ(invert("zzzz", 3, &links), bytes_of("zzzz"));
    EXPECT_EQ(links[0], 1);
    EXPECT_EQ(links[1], 2);
    EXPECT_EQ(links[2], 3);
}

TEST(InverseTransform, PrimaryIndexAtEitherEnd) {
    // "ab": rows by left context: pos 0 (a), pos 1 (b a) -> t = b, a; primary = row of pos 1 = 1.
    EXPECT_EQ(invert("ba", 1 - 1), bytes_of("ba"));
    EXPECT_EQ(invert("ba", 1), bytes_of("ab"));
}

TEST(InverseTransform, DamagedBlockIsRejectedWithoutStrayAccess) {
    // "bab" with primary 0 walks a cycle of two rows: no sequence of three
    // bytes has this transform.
    MemoryOut m;
    memory_out_init(m);
    std::vector<int32_t> links(3, 1 << 30);  // stale values must never be followed
    int32_t buckets[256];
    const std::string t = "bab";
    EXPECT_EQ(invert_block(buckets, reinterpret_cast<const uint8_t*>(t.data()), 3, 0, links.data(), m.out),
              Status::bad_transform);
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
    // A second, empty member right behind the first.
    start_packing(enc, m);
    code_block(dc, enc, nullptr, 0, 0);
    const Bytes& empty = memory_out_bytes(m);
    EXPECT_EQ(empty, (Bytes{0, 0, 0, 0}));
    const size_t first_size = stream.size();
    stream.insert(stream.end(), empty.begin(), empty.end());

    ByteIn in;
    byte_in_from_memory(in, stream.data(), stream.size());
    NumberCoder dec;
    dec.rc.mode = rc_mode_unpack;
    dec.rc.in = &in;
    BlockDecoder bd;
    Bytes buffer(16);
    std::vector<int32_t> links(16);
    std::string progress;
    ProgressSink sink{[](void* ctx, char c) { static_cast<std::string*>(ctx)->push_back(c); }, &progress};

    MemoryOut out;
    memory_out_init(out);
    rc_start(dec.rc);
    int32_t n = 0;
    std::vector<int32_t> sizes;
    do {
        ASSERT_EQ(decode_block(bd, dec, buffer.data(), 16, links.data(), out.out, sink, n), Status::ok);
        sizes.push_back(n);
    } while (n > 0);
    EXPECT_EQ(sizes, (std::vector<int32_t>{6, 11, 1, 0}));
    EXPECT_EQ(memory_out_bytes(out), bytes_of("bananamississippiq"));
    EXPECT_EQ(progress, "HHH");
    EXPECT_EQ(bytes_in(in), first_size);

    // The empty member: four bytes taken, nothing written, no progress.
    MemoryOut out2;
    memory_out_init(out2);
    rc_start(dec.rc);
    ASSERT_EQ(decode_block(bd, dec, buffer.data(), 16, links.data(), out2.out, sink, n), Status::ok);
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(memory_out_bytes(out2).empty());
    EXPECT_EQ(bytes_in(in), stream.size());
    EXPECT_FALSE(in.overread);
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

}  // namespace
