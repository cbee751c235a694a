// The index: built from records and parsed back, every damage to it refused
// before anything is sized by it, and every block of a member decoded from
// the coder state recorded for it.
#include <gtest/gtest.h>
#include <xxhash.h>

#include <algorithm>
#include <cstring>

#include "archive/names.h"
#include "dc/block_buffers.h"
#include "inverse/decode_block.h"
#include "../fuzz/index_target.h"
#include "archive/index_format.h"
#include "sort/encode_block.h"
#include "sort/sorter.h"
#include "support/cli_run.h"
#include "support/memory_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t test_block_size = 1000;

// A member coded block by block, with the coder state before every block.
struct CodedMember {
    Bytes data;
    Bytes stream;
    std::vector<IndexBlock> blocks;
};

CodedMember code_member(const Bytes& data) {
    CodedMember m{data, {}, {}};
    MemoryOut out;
    memory_out_init(out);
    BlockBuffers buf;
    EXPECT_TRUE(setup_buffers(buf, test_block_size, true));
    Sorter* sorter = sorter_create();
    DistanceCoder dc;
    dc.distance = buf.distance;
    NumberCoder nc;
    nc.rc.mode = rc_mode_pack;
    nc.rc.out = &out.out;
    rc_start(nc.rc);
    for (size_t at = 0;;) {
        const size_t n = std::min<size_t>(test_block_size, data.size() - at);
        m.blocks.push_back({coder_state(nc.rc, 0), static_cast<uint32_t>(n)});
        std::copy_n(data.begin() + static_cast<long>(at), n, buf.block_start);
        EXPECT_TRUE(encode_block(*sorter, dc, nc, buf.block_start, static_cast<int32_t>(n), buf.index, {}));
        at += n;
        if (n == 0) break;
    }
    sorter_destroy(sorter);
    release_buffers(buf);
    m.stream = memory_out_bytes(out);
    return m;
}

// An archive of the given entries (a null member is absent) and its index.
struct Indexed {
    Bytes archive;
    size_t index_start = 0;
    ArchiveIndex index;
};

Indexed build_indexed(const std::vector<std::pair<std::string, const CodedMember*>>& entries) {
    Indexed x;
    x.archive = {'!', 'v', 'o', 'r', 'b', 0xE8, 0x03, 0, 0, static_cast<uint8_t>(entries.size())};
    x.index.block_size = test_block_size;
    for (const auto& [name, m] : entries) {
        IndexEntry e;
        if (!m) {
            x.archive.push_back(0xFF);
            e.absent_name = name;
            x.index.entries.push_back(e);
            continue;
        }
        x.archive.push_back(0);
        x.archive.insert(x.archive.end(), name.begin(), name.end());
        x.archive.push_back(0);
        e.present = true;
        e.flags = index_flag_attributes;
        e.mode = 0640;
        e.mtime_sec = -5;  // before 1970 is a time like any other
        e.mtime_nsec = 999999999;
        e.size = m->data.size();
        e.stream_offset = x.archive.size();
        e.stream_length = m->stream.size();
        e.checksum = XXH3_64bits(m->data.data(), m->data.size());
        e.entry_checksum = index_entry_checksum(0, name);
        e.first_block = static_cast<uint32_t>(x.index.blocks.size());
        e.block_count = static_cast<uint32_t>(m->blocks.size());
        x.index.blocks.insert(x.index.blocks.end(), m->blocks.begin(), m->blocks.end());
        x.index.entries.push_back(e);
        x.archive.insert(x.archive.end(), m->stream.begin(), m->stream.end());
    }
    x.index_start = x.archive.size();
    x.index.start = x.index_start;
    x.index.archive_checksum = XXH3_64bits(x.archive.data(), x.archive.size());
    index_build(x.index, x.archive);
    return x;
}

Status parse_tail(const Indexed& x, ArchiveIndex& out) {
    return index_parse(x.archive.data() + x.index_start, x.archive.size() - x.index_start, x.archive.size(), out);
}

const CodedMember& three_and_a_half_blocks() {
    static const CodedMember m = [] {
        Bytes data = text_like(7, 2 * test_block_size);
        const Bytes noise = random_bytes(8, test_block_size + test_block_size / 2, 16);
        data.insert(data.end(), noise.begin(), noise.end());
        return code_member(data);
    }();
    return m;
}

// Two present members around an absent one: every kind of record.
const Indexed& small_archive() {
    static const CodedMember empty = code_member({});
    static const Indexed x = build_indexed({{"big", &three_and_a_half_blocks()}, {"gone", nullptr}, {"e", &empty}});
    return x;
}

TEST(IndexFormat, ParsesBackWhatWasBuilt) {
    const Indexed& x = small_archive();
    ArchiveIndex got;
    ASSERT_EQ(parse_tail(x, got), Status::ok) << got.fault;
    EXPECT_EQ(got.block_size, test_block_size);
    EXPECT_EQ(got.start, x.index_start);
    EXPECT_EQ(got.archive_checksum, XXH3_64bits(x.archive.data(), x.index_start));
    ASSERT_EQ(got.entries.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        const IndexEntry& a = got.entries[i];
        const IndexEntry& b = x.index.entries[i];
        EXPECT_EQ(std::tie(a.present, a.absent_name, a.flags, a.mode, a.mtime_sec, a.mtime_nsec, a.size),
                  std::tie(b.present, b.absent_name, b.flags, b.mode, b.mtime_sec, b.mtime_nsec, b.size));
        EXPECT_EQ(std::tie(a.stream_offset, a.stream_length, a.checksum, a.entry_checksum, a.first_block, a.block_count),
                  std::tie(b.stream_offset, b.stream_length, b.checksum, b.entry_checksum, b.first_block, b.block_count));
    }
    ASSERT_EQ(got.blocks.size(), x.index.blocks.size());
    for (size_t k = 0; k < got.blocks.size(); k++) {
        EXPECT_EQ(got.blocks[k].start, x.index.blocks[k].start);
        EXPECT_EQ(got.blocks[k].length, x.index.blocks[k].length);
    }
    // Three full blocks, a half one and the end marker: the index stays small.
    EXPECT_EQ(x.archive.size() - x.index_start,
              index_min_size + 2 * index_member_record_size + 6 + 6 * index_block_record_size);
}

TEST(IndexFormat, EveryBitFlipAndCutIsRefused) {
    const Indexed& x = small_archive();
    const size_t len = x.archive.size() - x.index_start;
    ArchiveIndex got;
    for (size_t bit = 0; bit < len * 8; bit++) {
        Bytes b(x.archive.begin() + static_cast<long>(x.index_start), x.archive.end());
        b[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        ASSERT_NE(index_parse(b.data(), len, x.archive.size(), got), Status::ok) << "bit " << bit;
    }
    const uint8_t* tail = x.archive.data() + x.index_start;
    for (size_t cut = 1; cut < len; cut++) {
        // The archive cut short at its end, or the index read from too late a start.
        ASSERT_NE(index_parse(tail, len - cut, x.archive.size() - cut, got), Status::ok) << "cut " << cut;
        ASSERT_NE(index_parse(tail + cut, len - cut, x.archive.size(), got), Status::ok) << "skip " << cut;
    }
}

// Writes v at the index offset `at` and seals the index again, as a forger would.
Bytes forged(const Indexed& x, size_t at, uint64_t v, int width) {
    Bytes b(x.archive.begin() + static_cast<long>(x.index_start), x.archive.end());
    for (int i = 0; i < width; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    const uint64_t sum = XXH3_64bits(b.data(), b.size() - 16);
    for (int i = 0; i < 8; i++) b[b.size() - 16 + i] = static_cast<uint8_t>(sum >> (8 * i));
    return b;
}

TEST(IndexFormat, ForgedValuesAreRefusedBeforeUse) {
    const Indexed& x = small_archive();
    const size_t len = x.archive.size() - x.index_start;
    // Offsets into the index: the head, the first member's record, its first
    // block record, the absent entry after its blocks, the footer.
    constexpr size_t m = index_head_size, b = m + index_member_record_size, b2 = b + index_block_record_size;
    const size_t absent = b + 5 * index_block_record_size, foot = len - index_footer_size;
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
        {m + 16, 3501, 8, "blocks hold fewer bytes than the member"},
        {m + 16, 3499, 8, "blocks hold more bytes than the member"},
        {m + 24, 11, 8, "member stream overlaps the entry before it"},
        {m + 32, uint64_t{1} << 40, 8, "member stream runs into the index"},
        {m + 56, 0xFFFFFFFF, 4, "more blocks than the index holds"},
        {m + 56, 0, 4, "member without blocks"},
        {b, 1, 8, "first block does not start the coder afresh"},
        {b2 + index_block_record_size, 0, 8, "block starts before the block in front of it"},
        {b2, uint64_t{1} << 50, 8, "block starts past its member's stream"},
        {b2 + 12, 0x3FFF, 4, "impossible coder state"},
        {b2 + 8, 0xFFFFFFFF, 4, "impossible coder state"},
        {b2 + 16, test_block_size + 1, 4, "block longer than the block size"},
        {b2 + 16, 0, 4, "end marker missing or misplaced"},
        {absent, 2, 1, "unknown entry kind"},
        {absent + 1, 250, 1, "name longer than 198 characters"},
        {foot + 8, len + 1, 8, "index length differs from the footer's"},
        {foot + 8, x.archive.size(), 8, "index longer than the archive"},
        {foot + 16, 2, 4, "index of an unknown version"},
        {foot + 20, 1, 4, "reserved footer bits set"},
    };
    for (const auto& c : cases) {
        const Bytes b = forged(x, c.at, c.value, c.width);
        ArchiveIndex got;
        EXPECT_EQ(index_parse(b.data(), b.size(), x.archive.size(), got), Status::damaged_index) << c.fault;
        EXPECT_STREQ(got.fault, c.fault);
        EXPECT_LE(got.blocks.capacity(), 16u) << c.fault;
    }
    // An absent name of exactly the longest allowed length parses.
    const CodedMember empty = code_member({});
    const Indexed longest = build_indexed({{std::string(max_name_length, 'n'), nullptr}, {"e", &empty}});
    ArchiveIndex got;
    EXPECT_EQ(parse_tail(longest, got), Status::ok) << got.fault;
}

// Decodes block k from its recorded state, given exactly the stream bytes up
// to four past the next block's start, and inverts it.
Status decode_recorded(const CodedMember& m, size_t k, const CoderState& start, Bytes& bytes, CoderState& end) {
    const uint64_t stop = k + 1 < m.blocks.size() ? m.blocks[k + 1].start.written + 4 : m.stream.size();
    BlockBuffers buf;
    EXPECT_TRUE(setup_buffers(buf, test_block_size, true));
    auto bd = std::make_unique<BlockDecoder>();
    auto nc = std::make_unique<NumberCoder>();
    const uint64_t from = std::min<uint64_t>(start.written, stop);
    int32_t n = 0, primary = 0;
    Status st = decode_block_resumed(*bd, *nc, m.stream.data() + from, stop - from, start, buf.block_start,
                                     test_block_size, n, primary, end);
    if (st == Status::ok && n > 0)
        st = invert_block(bd->bucket_start, buf.block_start, n, primary, buf.index, buf.distance);
    bytes.assign(buf.block_start, buf.block_start + (st == Status::ok ? n : 0));
    release_buffers(buf);
    return st;
}

TEST(BlockResume, EveryBlockDecodesFromItsRecordedState) {
    const CodedMember& m = three_and_a_half_blocks();
    ASSERT_EQ(m.blocks.size(), 5u);
    size_t at = 0;
    for (size_t k = 0; k < m.blocks.size(); k++) {
        Bytes got;
        CoderState end;
        ASSERT_EQ(decode_recorded(m, k, m.blocks[k].start, got, end), Status::ok) << k;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), m.data.begin() + static_cast<long>(at))) << k;
        EXPECT_EQ(got.size(), m.blocks[k].length);
        at += got.size();
        if (k + 1 < m.blocks.size())
            EXPECT_EQ(end, m.blocks[k + 1].start) << k;
        else  // after the end marker only the coder's four last bytes remain
            EXPECT_EQ(end.written + 4, m.stream.size());
    }
    EXPECT_EQ(at, m.data.size());
}

TEST(BlockResume, AWrongStateIsCaughtOrChangesNothing) {
    const CodedMember& m = three_and_a_half_blocks();
    // Some lies cannot change a decision: low's top bit leaves the register
    // with the first byte moved, before a decision depends on it here, and
    // a step uses only range's bits above the 12 the unit drops.
    const struct {
        const char* what;
        int64_t written;
        uint32_t low_xor;
        int64_t range;
        bool harmless;
    } lies[] = {
        {"one byte later", 1, 0, 0, false},
        {"one byte earlier", -1, 0, 0, false},
        {"low's second byte", 0, 0x00100000, 0, false},
        {"low's lowest bit", 0, 1, 0, false},
        {"range narrower", 0, 0, -0x01000000, false},
        {"range one less", 0, 0, -1, true},
        {"low's top bit", 0, 0x80000000, 0, true},
    };
    for (const auto& lie : lies)
        for (size_t k = 1; k + 1 < m.blocks.size(); k++) {
            CoderState start = m.blocks[k].start;
            start.written += static_cast<uint64_t>(lie.written);
            start.low ^= lie.low_xor;
            start.range = static_cast<uint32_t>(start.range + lie.range);
            start.low = std::min(start.low, UINT32_MAX - start.range);
            Bytes got;
            CoderState end;
            const Status st = decode_recorded(m, k, start, got, end);
            const bool caught = st != Status::ok || !(end == m.blocks[k + 1].start);
            EXPECT_EQ(caught, !lie.harmless) << lie.what << ", block " << k;
            if (!caught) {
                EXPECT_TRUE(std::equal(got.begin(), got.end(), m.data.begin() + static_cast<long>(k * test_block_size)))
                    << lie.what << ", block " << k;
            }
        }
}

// What t and d make of an archive in memory: whether every check passes,
// and (in wrong) whether any member unpacked without an error to other
// bytes or under another name than it was packed with.
bool reads_clean(const Bytes& archive, int threads, bool& wrong) {
    const fuzz_index::Sample& s = fuzz_index::sample();
    const char* names[] = {"text", "binary", "empty"};
    MemoryReader mem{archive.data(), archive.size()};
    const vorb_source src{memory_read, fuzz_index::memory_read_at, &mem, archive.size()};
    const vorb_unpack_options uo{threads, 0};
    vorb_reader* r = vorb_reader_open(&src, &uo, nullptr);
    if (!r) return false;
    vorb_archive_info info;
    bool clean = vorb_reader_info(r, &info) == VORB_OK && (info.flags & VORB_INFO_HAS_INDEX) &&
                 vorb_reader_check_archive(r) == VORB_OK;
    size_t m = 0;
    vorb_entry e;
    vorb_status st;
    while ((st = vorb_reader_next(r, &e)) == VORB_OK) {
        if (!e.present) continue;
        VectorWriter out;
        const vorb_status u = vorb_reader_unpack(r, vector_write, &out, nullptr, nullptr, nullptr);
        if (u == VORB_OK) wrong |= m >= 3 || out.bytes != s.members[m] || std::string(e.name) != names[m];
        clean &= u == VORB_OK;
        m++;
    }
    clean &= st == VORB_END && vorb_reader_finish(r) == VORB_OK;
    vorb_reader_free(r);
    return clean;
}

TEST(IndexedArchive, EveryBitFlipIsCaughtAndNoMemberComesBackWrong) {
    const Bytes& archive = fuzz_index::sample().archive;
    bool wrong = false;
    ASSERT_TRUE(reads_clean(archive, 1, wrong));
    for (size_t bit = 0; bit < archive.size() * 8; bit++) {
        Bytes a = archive;
        a[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(reads_clean(a, 1 + bit % 2, wrong)) << "bit " << bit;
        ASSERT_FALSE(wrong) << "bit " << bit;
    }
}

}  // namespace
