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
#include "inverse/invert_block.h"

namespace {

using fuzz_index::Bytes;
using fuzz_index::sample;

// The sample's index in version 2, or (v1) as today's build wrote it.
Bytes index_bytes(bool v1 = false) {
    const Bytes& a = v1 ? sample().archive_v1 : sample().archive;
    return Bytes(a.begin() + static_cast<long>(sample().index_start), a.end());
}

ArchiveIndex parsed_index() {
    const Bytes b = index_bytes();
    ArchiveIndex x;
    EXPECT_EQ(index_parse(b.data(), b.size(), sample().archive.size(), x), Status::ok) << x.fault;
    return x;
}

// Flips are caught by the checksum (the whole-archive test below); cuts
// must be caught without it.
TEST(IndexFormat, RebuildsToTheSameBytesAndRefusesEveryCut) {
    for (const bool v1 : {false, true}) {
        SCOPED_TRACE(v1 ? "version 1" : "version 2");
        const Bytes b = index_bytes(v1);
        const size_t len = b.size(), size = sample().index_start + len;
        ArchiveIndex got;
        ASSERT_EQ(index_parse(b.data(), len, size, got), Status::ok) << got.fault;
        EXPECT_EQ(got.version, v1 ? 1u : 2u);
        EXPECT_EQ(got.nodes.size(), v1 ? 0u : 2u);
        Bytes again;
        index_build(got, again);
        EXPECT_EQ(again, b);
        for (size_t cut = 1; cut < len; cut++) {
            // The archive cut short at its end, or the index read from too late a start.
            ASSERT_NE(index_parse(b.data(), len - cut, size - cut, got), Status::ok) << "cut " << cut;
            ASSERT_NE(index_parse(b.data() + cut, len - cut, size, got), Status::ok) << "skip " << cut;
        }
    }
}

void put(Bytes& a, size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; i++) a[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Each row forges a field and seals the index (at a[start]) again, as a forger would.
void seal(Bytes& a, size_t start) { put(a, a.size() - 16, XXH3_64bits(a.data() + start, a.size() - start - 16), 8); }

struct Forgery { size_t at; uint64_t value; int width; const char* fault; };

void expect_refused(const Bytes& b, size_t archive_size, const Forgery& c) {
    Bytes f = b;
    put(f, c.at, c.value, c.width);
    seal(f, 0);
    ArchiveIndex got;
    EXPECT_EQ(index_parse(f.data(), f.size(), archive_size, got), Status::damaged_index) << c.fault;
    EXPECT_STREQ(got.fault, c.fault);
    EXPECT_LE(got.blocks.capacity(), 16u) << c.fault;
    EXPECT_LE(got.nodes.capacity(), 3u) << c.fault;  // what the bytes present can hold
}

TEST(IndexFormat, ForgedValuesAreRefusedBeforeUse) {
    for (const bool v1 : {false, true}) {
        SCOPED_TRACE(v1 ? "version 1" : "version 2");
        const Bytes b = index_bytes(v1);
        // The head, the first member's record (430 bytes in blocks of 100), its
        // first and second block records, the absent entry after six, the footer.
        const size_t rec = v1 ? index_block_record_size_v1 : index_block_record_size_v2;
        constexpr size_t m = index_head_size, b1 = m + index_member_record_size;
        const size_t b2 = b1 + rec, absent = b1 + 6 * rec, foot = b.size() - index_footer_size;
        const Forgery cases[] = {
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
            {b2 + rec, 0, 8, "block starts before the block in front of it"},
            {b2, uint64_t{1} << 50, 8, "block starts past its member's stream"},
            {b2 + 12, 0x3FFF, 4, "impossible coder state"},
            {b2 + 8, 0xFFFFFFFF, 4, "impossible coder state"},
            {b2 + 16, 101, 4, "block longer than the block size"},
            {b2 + 16, 0, 4, "end marker missing or misplaced"},
            {absent, 2, 1, "unknown entry kind"},
            {absent + 1, 250, 1, "name longer than 198 characters"},
            {foot + 8, b.size() + 1, 8, "index length differs from the footer's"},
            {foot + 8, sample().archive.size(), 8, "index longer than the archive"},
            {foot + 16, 3, 4, "index of an unknown version"},
            {foot + 16, 0, 4, "index of an unknown version"},
            {foot + 20, 1, 4, "reserved footer bits set"},
        };
        for (const Forgery& c : cases) expect_refused(b, sample().index_start + b.size(), c);
    }
    // Version 2's block checksums and nodes: folder "tree" (attributes), link "tree/to-text" to "../text".
    const Bytes b = index_bytes();
    const size_t rec = index_block_record_size_v2, b1 = index_head_size + index_member_record_size;
    const size_t nodes = b.size() - index_footer_size - (4 + 24 + 39), n1 = nodes + 4, n2 = n1 + 24;
    const Forgery cases[] = {
        {b1 + 5 * rec + 20, 1, 8, "end marker with a checksum"},
        {nodes, 1000, 4, "more nodes than the index holds"},
        {nodes, 3, 4, "index ends inside a node record"},
        {nodes, 1, 4, "bytes after the last index record"},
        {n1, 3, 1, "unknown node kind"},
        {n1 + 1, 2, 1, "unknown node flags"},
        {n1 + 2, 010000, 2, "node mode beyond the permission bits"},
        {n1 + 4, 1000000000, 4, "node nanoseconds of a second out of range"},
        {n2 + 2, 1, 2, "node attributes where none were recorded"},
        {n1 + 16, 0, 2, "node without a path"},
        {n1 + 16, 199, 2, "node path longer than 198 characters"},
        {n1 + 18, 1, 2, "folder with a link target"},
        {n2 + 18, 0, 2, "link without a target"},
        {n2 + 18, 4096, 2, "link target longer than 4095 bytes"},
        {n2 + 18, 100, 2, "index ends inside a node's path or target"},
        {n1 + 20, 0, 1, "NUL in a node path"},
        {n2 + 20 + 12 + 6, 0, 1, "NUL in a link target"},
    };
    for (const Forgery& c : cases) expect_refused(b, sample().archive.size(), c);
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

// Every bit flipped, both versions, at offsets and as a stream: some check fails, and no member comes
// back wrong or misnamed (the reader aborts).
TEST(IndexedArchive, EveryBitFlipIsCaughtAndNoMemberComesBackWrong) {
    for (const Bytes* archive : {&sample().archive, &sample().archive_v1})
        for (const bool streamed : {false, true}) {
            SCOPED_TRACE(std::string(archive == &sample().archive ? "v2" : "v1") + (streamed ? ", streamed" : ""));
            bool clean = false;
            EXPECT_TRUE(fuzz_index::read_all(*archive, 2, true, &clean, streamed));
            ASSERT_TRUE(clean);
            // The other variants flip every bit of the index and a sample of those in front.
            const bool every = archive == &sample().archive && !streamed;
            for (size_t bit = 0; bit < archive->size() * 8; bit += every || bit >= sample().index_start * 8 ? 1 : 7) {
                Bytes a = *archive;
                a[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
                fuzz_index::read_all(a, 1 + bit % 2, false, &clean, streamed);
                EXPECT_FALSE(clean) << "bit " << bit;
            }
        }
}

// The sample, a field of its index (header: of its header, the archive checksum made again) forged.
Bytes forged(size_t at, int width, uint64_t value, bool header = false) {
    Bytes a = sample().archive;
    const size_t start = sample().index_start;
    put(a, (header ? 0 : start) + at, value, width);
    if (header) put(a, a.size() - index_footer_size, XXH3_64bits(a.data(), start), 8);
    seal(a, start);
    return a;
}

// Lies that parse, each found where it lies: at offsets a block's fails that
// block alone (none of it written) and reading goes on; a stream's index is
// compared at its end and the difference named (a member only skipped has no
// checksum to compare); a header and an index that disagree are damage.
TEST(ForgedIndex, EachLieIsFoundWhereItLies) {
    constexpr size_t m = index_head_size, blocks = m + index_member_record_size, rec = index_block_record_size_v2;
    const size_t foot = sample().archive.size() - sample().index_start - index_footer_size;
    const char *size = "the header and the index disagree on the block size",
               *count = "the header and the index disagree on the entry count", *sig = "index signature damaged";
    // first: the first member's unpacking; offset: its failed block's; end: finish, and what differs.
    const struct {
        const char* what;
        size_t at; int width; uint64_t value;
        bool streamed, unpack; int threads;
        vorb_status first; int64_t offset;
        vorb_status end; const char *differs = nullptr, *name = nullptr;
        bool index_lost = false;  // read at offsets without it
    } cases[] = {
        {"the third block's checksum", blocks + 2 * rec + 20, 8, 1, false, true, 1, VORB_ERR_BLOCK_CHECKSUM, 200, VORB_OK},
        {"the same on three threads", blocks + 2 * rec + 20, 8, 1, false, true, 3, VORB_ERR_BLOCK_CHECKSUM, 200, VORB_OK},
        // The second block said to start where the first does: the first runs short of bytes, in no cut archive.
        {"records that overlap", blocks + rec, 8, 0, false, true, 3, VORB_ERR_BLOCK_END, 0, VORB_OK},
        {"a member's checksum", m + 40, 8, 1, true, true, 1, VORB_OK, -1, VORB_ERR_CHECKSUM, "checksum", "text"},
        {"a member's checksum, skipped", m + 40, 8, 1, true, false, 1, VORB_OK, -1, VORB_OK, nullptr, nullptr},
        {"an entry checksum", m + 48, 8, 1, true, true, 1, VORB_OK, -1, VORB_ERR_CHECKSUM, "stored name", "text"},
        {"the archive checksum", foot, 8, 1, true, false, 1, VORB_OK, -1, VORB_ERR_CHECKSUM, "archive checksum", nullptr},
        {"the block size", 0, 4, 200, true, true, 1, VORB_OK, -1, VORB_ERR_INDEX, size},
        {"the block size, at offsets", 0, 4, 200, false, true, 1, VORB_OK, -1, VORB_ERR_INDEX, size},
        // Only at offsets: a stream is read by its header, which would take index bytes for an entry.
        {"the header's entry count", 9, 1, 5, false, true, 1, VORB_OK, -1, VORB_ERR_INDEX, count},
        // A stream whose header stops it early: the whole index at the end says so.
        {"the header's entry count, streamed", 9, 1, 1, true, true, 1, VORB_OK, -1, VORB_ERR_INDEX, count},
        {"a signature bit", foot + 32, 1, '!' ^ 4, true, true, 1, VORB_OK, -1, VORB_ERR_INDEX, sig},
        {"a signature bit, at offsets", foot + 39, 1, 'x' ^ 64, false, true, 1, VORB_OK, -1, VORB_ERR_INDEX, sig,
         nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes a = forged(c.at, c.width, c.value, c.at == 9);
        MemoryReader mem{a.data(), a.size()};
        const vorb_source src{memory_read, c.streamed ? nullptr : fuzz_index::memory_read_at, &mem,
                              c.streamed ? UINT64_MAX : a.size()};
        const vorb_unpack_options uo{c.threads, 0};
        vorb_reader* r = vorb_reader_open(&src, &uo, nullptr);
        ASSERT_TRUE(r);
        uint64_t at = 0, length = 0;
        vorb_entry e;
        for (size_t k = 0; vorb_reader_next(r, &e) == VORB_OK; k++) {
            if (!e.present || !c.unpack) continue;
            VectorWriter out;
            EXPECT_EQ(vorb_reader_unpack(r, vector_write, &out, nullptr, nullptr, nullptr), k == 0 ? c.first : VORB_OK);
            const bool located = k == 0 && c.offset >= 0;
            ASSERT_EQ(vorb_reader_damaged_range(r, &at, &length), located ? VORB_OK : VORB_ERR_PARAM);
            // Bytes of the checked blocks may have gone out; none of the damaged one.
            EXPECT_TRUE(!located || (at == static_cast<uint64_t>(c.offset) && length == 100 && out.bytes.size() <= at &&
                                     std::equal(out.bytes.begin(), out.bytes.end(), sample().members[0].begin())));
        }
        EXPECT_EQ(vorb_reader_finish(r), c.end);
        const char* name = nullptr;
        EXPECT_STREQ(c.end == VORB_ERR_INDEX ? vorb_reader_index_fault(r) : vorb_reader_mismatch(r, &name), c.differs);
        EXPECT_STREQ(name, c.name);
        vorb_archive_info info;
        ASSERT_EQ(vorb_reader_info(r, &info), VORB_OK);
        // A stream's nodes once its index held; blocks of 100 bytes: the header's or the index's largest.
        const bool kept = (c.end == VORB_OK || !c.streamed) && !c.index_lost;
        EXPECT_EQ(vorb_reader_node_count(r), kept ? 2u : 0u);
        EXPECT_EQ(info.index_version, kept ? 2u : 0u);
        EXPECT_EQ(info.block_size, 100u);
        vorb_reader_free(r);
    }
}

// Node records: what a reader would refuse is never written, a writer takes
// nodes only while open, and a second finish writes nothing.
TEST(IndexWriter, NodesAndFinishAreChecked) {
    const std::string path198(198, 'p'), path199(199, 'p'), link4095(4095, 'l'), link4096(4096, 'l');
    const vorb_file_meta late{0755, 1000000000, 0};
    const vorb_node taken[] = {{VORB_NODE_FOLDER, path198.c_str(), nullptr, &fuzz_index::node_meta},
                               {VORB_NODE_LINK, "l", link4095.c_str(), nullptr}};
    const vorb_node refused[] = {
        {VORB_NODE_FOLDER, path199.c_str(), nullptr, nullptr}, {VORB_NODE_FOLDER, nullptr, nullptr, nullptr},
        {VORB_NODE_FOLDER, "d", "t", nullptr},                 {VORB_NODE_LINK, "l", nullptr, nullptr},
        {VORB_NODE_LINK, "l", link4096.c_str(), nullptr},      {static_cast<vorb_node_kind>(3), "x", nullptr, nullptr},
        {VORB_NODE_FOLDER, "d", nullptr, &late},
    };
    for (const bool indexed : {true, false}) {
        VectorWriter arc;
        const vorb_pack_options opt{100, 1, indexed};
        vorb_writer* w = vorb_writer_create(vector_write, &arc, &opt, nullptr);
        EXPECT_EQ(vorb_writer_add_node(w, &taken[0]), VORB_ERR_PARAM);  // before begin
        ASSERT_EQ(vorb_writer_begin(w, 0), VORB_OK);
        for (const vorb_node& n : taken) EXPECT_EQ(vorb_writer_add_node(w, &n), indexed ? VORB_OK : VORB_ERR_PARAM);
        for (const vorb_node& n : refused) EXPECT_EQ(vorb_writer_add_node(w, &n), VORB_ERR_PARAM) << n.path;
        EXPECT_EQ(vorb_writer_finish(w), VORB_OK);
        EXPECT_EQ(vorb_writer_finish(w), VORB_ERR_PARAM);
        EXPECT_EQ(vorb_writer_add_node(w, &taken[0]), VORB_ERR_PARAM);
        // The header and an index of no entries (62 bytes), and the two nodes taken.
        EXPECT_EQ(arc.bytes.size(), indexed ? 62u + 20 + 198 + 20 + 1 + 4095 : 10u);
        vorb_writer_free(w);
    }
}

}  // namespace
