// The index the writer appends: every damage to it refused before anything
// is sized by it, and every block of a member decoded from the coder state
// recorded for it.
#include <gtest/gtest.h>
#include <xxhash.h>

#include <algorithm>
#include <memory>

#include "../fuzz/index_target.h"
#include "archive/index_format.h"
#include "dc/block_buffers.h"
#include "inverse/decode_block.h"

namespace {

using fuzz_index::Bytes;
using fuzz_index::sample;

Bytes index_bytes() { return Bytes(sample().archive.begin() + static_cast<long>(sample().index_start), sample().archive.end()); }

ArchiveIndex parsed_index() {
    const Bytes b = index_bytes();
    ArchiveIndex x;
    EXPECT_EQ(index_parse(b.data(), b.size(), sample().archive.size(), x), Status::ok) << x.fault;
    return x;
}

// Flips are caught by the checksum (the whole-archive test below); cuts
// must be caught without it.
TEST(IndexFormat, RebuildsToTheSameBytesAndRefusesEveryCut) {
    const Bytes b = index_bytes();
    const size_t len = b.size(), size = sample().archive.size();
    ArchiveIndex got = parsed_index();
    Bytes again;
    index_build(got, again);
    EXPECT_EQ(again, b);
    for (size_t cut = 1; cut < len; cut++) {
        // The archive cut short at its end, or the index read from too late a start.
        ASSERT_NE(index_parse(b.data(), len - cut, size - cut, got), Status::ok) << "cut " << cut;
        ASSERT_NE(index_parse(b.data() + cut, len - cut, size, got), Status::ok) << "skip " << cut;
    }
}

TEST(IndexFormat, ForgedValuesAreRefusedBeforeUse) {
    const Bytes b = index_bytes();
    // Offsets into the index: the head, the first member's record (430 bytes
    // in blocks of 100), its first and second block records, the absent
    // entry after its six blocks, the footer.
    constexpr size_t m = index_head_size, b1 = m + index_member_record_size, b2 = b1 + index_block_record_size;
    const size_t absent = b1 + 6 * index_block_record_size, foot = b.size() - index_footer_size;
    const struct {
        size_t at;
        uint64_t value;
        int width;
        const char* fault;
    } cases[] = {
        {0, 0, 4, "block size out of range"},
        {4, 256, 2, "more entries than an archive holds"},
        {6, 1, 2, "reserved index bits set"},
        {m, 7, 1, "unknown entry kind"},
        {m + 1, 3, 1, "unknown member flags"},
        {m + 2, 010000, 2, "mode beyond the permission bits"},
        {m + 4, 1000000000, 4, "nanoseconds of a second out of range"},
        {m + 16, 431, 8, "blocks hold fewer bytes than the member"},
        {m + 16, 429, 8, "blocks hold more bytes than the member"},
        {m + 24, 11, 8, "member stream overlaps the entry before it"},
        {m + 32, uint64_t{1} << 40, 8, "member stream runs into the index"},
        {m + 56, 0xFFFFFFFF, 4, "more blocks than the index holds"},
        {m + 56, 0, 4, "member without blocks"},
        {b1, 1, 8, "first block does not start the coder afresh"},
        {b2 + index_block_record_size, 0, 8, "block starts before the block in front of it"},
        {b2, uint64_t{1} << 50, 8, "block starts past its member's stream"},
        {b2 + 12, 0x3FFF, 4, "impossible coder state"},
        {b2 + 8, 0xFFFFFFFF, 4, "impossible coder state"},
        {b2 + 16, 101, 4, "block longer than the block size"},
        {b2 + 16, 0, 4, "end marker missing or misplaced"},
        {absent, 2, 1, "unknown entry kind"},
        {absent + 1, 250, 1, "name longer than 198 characters"},
        {foot + 8, b.size() + 1, 8, "index length differs from the footer's"},
        {foot + 8, sample().archive.size(), 8, "index longer than the archive"},
        {foot + 16, 2, 4, "index of an unknown version"},
        {foot + 20, 1, 4, "reserved footer bits set"},
    };
    for (const auto& c : cases) {
        // Written as a forger would: the index sealed again.
        Bytes f = b;
        for (int i = 0; i < c.width; i++) f[c.at + i] = static_cast<uint8_t>(c.value >> (8 * i));
        const uint64_t sum = XXH3_64bits(f.data(), f.size() - 16);
        for (int i = 0; i < 8; i++) f[f.size() - 16 + i] = static_cast<uint8_t>(sum >> (8 * i));
        ArchiveIndex got;
        EXPECT_EQ(index_parse(f.data(), f.size(), sample().archive.size(), got), Status::damaged_index) << c.fault;
        EXPECT_STREQ(got.fault, c.fault);
        EXPECT_LE(got.blocks.capacity(), 16u) << c.fault;
    }
}

// The first member's stream and block records.
struct Member {
    Bytes stream;
    std::vector<IndexBlock> blocks;
    uint32_t block_size;
};

Member first_member() {
    const ArchiveIndex x = parsed_index();
    const IndexEntry& e = x.entries.at(0);
    const auto at = sample().archive.begin() + static_cast<long>(e.stream_offset);
    return {Bytes(at, at + static_cast<long>(e.stream_length)),
            std::vector<IndexBlock>(x.blocks.begin() + e.first_block, x.blocks.begin() + e.first_block + e.block_count),
            x.block_size};
}

// Decodes block k from start, given exactly the stream bytes up to four past
// the next block's start, and inverts it.
Status decode_recorded(const Member& m, size_t k, const CoderState& start, Bytes& bytes, CoderState& end) {
    const uint64_t stop = k + 1 < m.blocks.size() ? m.blocks[k + 1].start.written + 4 : m.stream.size();
    const uint32_t block_size = m.block_size;
    BlockBuffers buf;
    EXPECT_TRUE(setup_buffers(buf, block_size, true));
    auto bd = std::make_unique<BlockDecoder>();
    auto nc = std::make_unique<NumberCoder>();
    const uint64_t from = std::min<uint64_t>(start.written, stop);
    int32_t n = 0, primary = 0;
    Status st = decode_block_resumed(*bd, *nc, m.stream.data() + from, stop - from, start, buf.block_start,
                                     block_size, n, primary, end);
    if (st == Status::ok && n > 0)
        st = invert_block(bd->bucket_start, buf.block_start, n, primary, buf.index, buf.distance);
    bytes.assign(buf.block_start, buf.block_start + (st == Status::ok ? n : 0));
    release_buffers(buf);
    return st;
}

// Each block from its recorded state, the truth and lies about it: a byte
// later or earlier, low's second or lowest bit, range narrower; then two
// lies that need not change a decision (a step uses only range's bits above
// the 12 the unit drops, and low's top bit often leaves the register first),
// which uncaught must give the right bytes.
TEST(BlockResume, EachBlockDecodesFromItsStateAndAWrongStateIsCaught) {
    const Member m = first_member();
    const Bytes& data = sample().members[0];
    ASSERT_EQ(m.blocks.size(), 6u);  // 430 bytes and the end marker
    const struct {
        int64_t written;
        uint32_t low_xor;
        int64_t range;
    } lies[] = {{0, 0, 0}, {1, 0, 0}, {-1, 0, 0}, {0, 0x00100000, 0}, {0, 1, 0}, {0, 0, -0x01000000}, {0, 0, -1}, {0, 0x80000000, 0}};
    for (size_t i = 0; i < std::size(lies); i++)
        for (size_t k = i == 0 ? 0 : 1; k + 1 < m.blocks.size(); k++) {
            CoderState start = m.blocks[k].start;
            start.written += static_cast<uint64_t>(lies[i].written);
            start.low ^= lies[i].low_xor;
            start.range = static_cast<uint32_t>(start.range + lies[i].range);
            start.low = std::min(start.low, UINT32_MAX - start.range);
            Bytes got;
            CoderState end;
            const bool caught = decode_recorded(m, k, start, got, end) != Status::ok || !(end == m.blocks[k + 1].start);
            const size_t at = k * m.block_size;
            const bool right = got.size() == std::min<size_t>(m.block_size, data.size() - at) &&
                               std::equal(got.begin(), got.end(), data.begin() + static_cast<long>(at));
            EXPECT_TRUE(i == 0 ? !caught && right : caught || (i >= 6 && right)) << "lie " << i << ", block " << k;
        }
}

// Every bit of the archive flipped: some check fails, and no member comes
// back with other bytes or under another name (the shared reader aborts).
TEST(IndexedArchive, EveryBitFlipIsCaughtAndNoMemberComesBackWrong) {
    const Bytes& archive = sample().archive;
    bool clean = false;
    EXPECT_TRUE(fuzz_index::read_all(archive, 2, true, &clean));  // blocks decoded from their states
    ASSERT_TRUE(clean);
    for (size_t bit = 0; bit < archive.size() * 8; bit++) {
        Bytes a = archive;
        a[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        fuzz_index::read_all(a, 1 + bit % 2, false, &clean);
        EXPECT_FALSE(clean) << "bit " << bit;
    }
}

}  // namespace
