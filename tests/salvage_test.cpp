// Salvage of damaged archives, one table row per damage pattern, plain and
// indexed: which members come back whole, which blocks are kept or lost
// (lost ones as zeros, each range listed), and what is said about each.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <sstream>

#include "../fuzz/salvage_target.h"
#include "archive/entry_probe.h"
#include "archive/index_format.h"
#include "archive/lost_ranges.h"
#include "support/archive_bytes.h"
#include "support/cli_run.h"

namespace {

using fuzz_salvage::Member;
using fuzz_salvage::Salvaged;

constexpr uint32_t block = 4096;
const char* const names[] = {"m0", "m1", "m2", "m3"};

// Text in four blocks, random bytes in three (each block's stream longer
// than a sector), an empty member and text in two, with an absent entry
// after the first. The plain archive is the indexed one without its index.
struct Sample {
    std::vector<Bytes> members;
    Bytes indexed;
    ArchiveIndex index;
    Bytes plain() const { return Bytes(indexed.begin(), indexed.begin() + static_cast<long>(index.start)); }
    // The same with an index of version 1 (no block checksums), m1's
    // checksum changed when forged; or of version 2 with the checksum of m1's
    // second block changed.
    Bytes version_1(bool forged) const {
        ArchiveIndex x = index;
        x.version = index_version_1;
        x.nodes.clear();
        if (forged) x.entries[2].checksum ^= 1;
        Bytes a = plain();
        index_build(x, a);
        return a;
    }
    Bytes forged_2() const {
        ArchiveIndex x = index;
        x.blocks[x.entries[2].first_block + 1].checksum ^= 1;
        Bytes a = plain();
        index_build(x, a);
        return a;
    }
};


const Sample& sample() {
    static const Sample s = [] {
        Sample out;
        out.members = {text_like(1, 14000), random_bytes(2, 9000), {}, text_like(3, 5000)};
        VectorWriter arc;
        const vorb_pack_options opt{block, 1, 1};
        vorb_writer* w = vorb_writer_create(vector_write, &arc, &opt, nullptr);
        EXPECT_EQ(vorb_writer_begin(w, 5), VORB_OK);
        for (size_t m = 0; m < 4; m++) {
            MemoryReader r{out.members[m].data(), out.members[m].size()};
            EXPECT_EQ(vorb_writer_add_member(w, names[m], memory_read, &r, nullptr, nullptr, nullptr, nullptr), VORB_OK);
            if (m == 0) {
                EXPECT_EQ(vorb_writer_add_absent(w, "gone"), VORB_OK);
            }
        }
        EXPECT_EQ(vorb_writer_finish(w), VORB_OK);
        vorb_writer_free(w);
        out.indexed = arc.bytes;
        const size_t size = out.indexed.size();
        uint64_t len = 0;
        const char* fault = nullptr;
        EXPECT_EQ(index_footer_parse(out.indexed.data() + size - index_footer_size, size, len, fault), Status::ok);
        EXPECT_EQ(index_parse(out.indexed.data() + size - len, static_cast<size_t>(len), size, out.index), Status::ok);
        return out;
    }();
    return s;
}

enum class Archive { plain, indexed, version_1, forged_1, forged_2 };

Bytes archive(Archive kind) {
    switch (kind) {
    case Archive::plain: return sample().plain();
    case Archive::indexed: return sample().indexed;
    case Archive::version_1: return sample().version_1(false);
    case Archive::forged_1: return sample().version_1(true);
    case Archive::forged_2: return sample().forged_2();
    }
    return {};
}

const IndexEntry& record(int m) { return sample().index.entries[static_cast<size_t>(m == 0 ? 0 : m + 1)]; }

// Archive offset of byte `into` of block k's own stream bytes: those that no
// other block's decoding reads (the one before reads four bytes into it).
uint64_t in_block(int m, uint32_t k, uint64_t into) {
    const IndexEntry& e = record(m);
    const IndexBlock* b = &sample().index.blocks[e.first_block];
    EXPECT_LT(b[k].start.written + 4 + into, b[k + 1].start.written) << "the row's damage leaves the block";
    return e.stream_offset + b[k].start.written + 4 + into;
}

// How many of block k's stream bytes are its own.
uint64_t own_bytes(int m, uint32_t k) {
    const IndexBlock* b = &sample().index.blocks[record(m).first_block];
    return b[k + 1].start.written - b[k].start.written - 4;
}

enum class Harm { zero, burst, flip, cut };

struct Damage {
    Harm harm;
    uint64_t at;  // archive offset; a cut keeps the bytes in front of it
    uint64_t len = 1;
};

void harm(Bytes& a, const Damage& d) {
    if (d.harm == Harm::cut) a.resize(static_cast<size_t>(d.at));
    uint32_t x = 12345;
    for (uint64_t i = d.at; i < d.at + d.len && i < a.size(); i++) {
        x = x * 1103515245 + 12345;
        if (d.harm == Harm::zero) a[i] = 0;
        if (d.harm == Harm::burst) a[i] ^= static_cast<uint8_t>(1 + (x >> 16) % 255);
        if (d.harm == Harm::flip) a[i] ^= 0x10;
    }
}

// What comes back of one member, in words: "whole", "kept K" (its first K
// blocks, the rest lost), "lost K L ..." (those blocks as zeros), "unsure"
// (every byte back, but not as the member's checksum says), "missing";
// "found" after it when a search reached it, "renamed" when its name is a
// placeholder. Saved bytes are verified where each block has a checksum, or
// where the member's matches.
void check_member(const std::string& want, size_t m, std::vector<Member>::const_iterator& got,
                  const Salvaged& all) {
    std::istringstream words(want);
    std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
    const std::string kind = w[0];
    if (kind == "missing") {
        for (const Member& x : all.members) EXPECT_NE(x.name, names[m]);
        return;
    }
    ASSERT_NE(got, all.members.end()) << names[m] << " not salvaged";
    const Member& x = *got++;
    const Bytes& original = sample().members[m];
    Bytes bytes = original;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    uint64_t lost = 0;
    for (size_t i = 1; i < w.size() && std::isdigit(static_cast<unsigned char>(w[i][0])); i++) {
        const uint64_t from = std::stoul(w[i]) * block, to = std::min<uint64_t>(from + block, original.size());
        if (kind == "kept") {
            bytes.resize(from);
            ranges = {{from, UINT64_MAX}};
            continue;
        }
        std::fill(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to), 0);
        if (!ranges.empty() && ranges.back().first + ranges.back().second == from)
            ranges.back().second += to - from;
        else
            ranges.emplace_back(from, to - from);
        lost += to - from;
    }
    const bool renamed = want.find("renamed") != std::string::npos;
    EXPECT_EQ(x.name, renamed ? "damaged-name-3" : names[m]);
    EXPECT_EQ(x.entry_flags, (want.find("found") != std::string::npos ? VORB_SALVAGE_FOUND : 0u) |
                                 (renamed ? VORB_SALVAGE_NAME_DAMAGED : 0u));
    EXPECT_TRUE(x.bytes == bytes) << x.bytes.size() << " bytes, wanted " << bytes.size();
    EXPECT_EQ(x.ranges, ranges);
    EXPECT_EQ(x.lost, lost);
    const bool whole = kind == "whole";
    EXPECT_EQ(x.status == VORB_OK, whole) << vorb_status_message(x.status);
    const bool indexed = all.info.flags & VORB_SALVAGE_INDEXED;
    const bool verified = indexed && (whole || (kind == "lost" && (all.info.flags & VORB_SALVAGE_BLOCK_CHECKSUMS)));
    EXPECT_EQ(x.flags, (whole ? VORB_SALVAGE_WHOLE : 0u) | (verified ? VORB_SALVAGE_VERIFIED : 0u) |
                           (kind == "kept" ? VORB_SALVAGE_REST_LOST : 0u));
}

struct Row {
    const char* what;
    Archive archive;
    Damage damage;
    std::vector<std::string> want;  // m0 to m3
    uint32_t flags = 0;             // info flags beyond VORB_SALVAGE_INDEXED
    // A found member: where the bytes passed over begin, which is where the
    // damaged member's last kept block ended, or its entry when none was kept.
    uint64_t skipped_from = 0;
};

// Where decoding stood after the first k blocks of member m: four bytes past
// block k's start, which the decoder had read ahead; m's entry when k is 0.
uint64_t after_blocks(int m, uint32_t k) {
    const IndexEntry& e = record(m);
    if (k == 0) return e.stream_offset - std::strlen(names[m]) - 2;
    return e.stream_offset + sample().index.blocks[e.first_block + k].start.written + 4;
}

void run_rows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.what) + ", archive kind " + std::to_string(static_cast<int>(row.archive)));
        Bytes a = archive(row.archive);
        harm(a, row.damage);
        const Salvaged got = fuzz_salvage::salvage(a.data(), a.size());
        ASSERT_EQ(got.open, VORB_OK);
        // Read through its index unless the damage is the index's.
        const bool indexed = row.archive != Archive::plain && !(row.flags & VORB_SALVAGE_INDEX_DAMAGED) &&
                             a.size() >= 8 && std::equal(a.end() - 8, a.end(), index_signature);
        const bool block_sums = indexed && (row.archive == Archive::indexed || row.archive == Archive::forged_2);
        EXPECT_EQ(got.info.flags, row.flags | (indexed ? VORB_SALVAGE_INDEXED : 0u) |
                                      (block_sums ? VORB_SALVAGE_BLOCK_CHECKSUMS : 0u));
        auto it = got.members.cbegin();
        for (size_t m = 0; m < 4; m++) check_member(row.want[m], m, it, got);
        EXPECT_EQ(it, got.members.cend()) << "more members than packed";
        for (const Member& x : got.members) {
            if (x.entry_flags & VORB_SALVAGE_FOUND) {
                EXPECT_EQ(x.skipped_from, row.skipped_from) << x.name;
            }
        }
        // Reading ends with the last entry the header announces.
        if (row.want[3] == "whole") {
            EXPECT_EQ(got.info.unread_from, a.size());
        }
    }
}

TEST(Salvage, DamagePatterns) {
    const uint64_t index_at = sample().index.start;
    const uint64_t m1_entry = record(1).stream_offset - 4;  // presence byte, "m1", NUL
    const std::string whole = "whole";
    const std::vector<std::string> all_whole = {whole, whole, whole, whole};
    run_rows({
        // Zeroed sectors.
        {"zeroed sector in m1's first block", Archive::plain, {Harm::zero, in_block(1, 0, 1000), 512},
         {whole, "kept 0", "whole found", whole}, 0, after_blocks(1, 0)},
        {"zeroed sector in m1's first block", Archive::indexed, {Harm::zero, in_block(1, 0, 1000), 512},
         {whole, "lost 0", whole, whole}},
        {"zeroed header", Archive::plain, {Harm::zero, 0, 10}, all_whole, VORB_SALVAGE_HEADER_DAMAGED},
        {"zeroed header", Archive::indexed, {Harm::zero, 0, 10}, all_whole, VORB_SALVAGE_HEADER_DAMAGED},
        {"zeroed entry", Archive::plain, {Harm::zero, m1_entry, 4}, {whole, "missing", "whole found", whole}, 0,
         m1_entry},
        {"zeroed entry", Archive::indexed, {Harm::zero, m1_entry, 4}, {whole, "whole renamed", whole, whole}},
        // Random bursts.
        {"burst in m1's second block", Archive::plain, {Harm::burst, in_block(1, 1, 200), 700},
         {whole, "kept 1", "whole found", whole}, 0, after_blocks(1, 1)},
        {"burst in m1's second block", Archive::indexed, {Harm::burst, in_block(1, 1, 200), 700},
         {whole, "lost 1", whole, whole}},
        {"burst over m1's last two blocks", Archive::indexed, {Harm::burst, in_block(1, 1, own_bytes(1, 1) - 300), 600},
         {whole, "lost 1 2", whole, whole}},
        {"one-byte burst in m0's first block", Archive::indexed, {Harm::burst, in_block(0, 0, 10), 1},
         {"lost 0", whole, whole, whole}},
        // Cut tails: the index goes with them.
        {"cut in m3's second block", Archive::plain, {Harm::cut, in_block(3, 1, 100)}, {whole, whole, whole, "kept 1"}},
        {"cut in m3's second block", Archive::indexed, {Harm::cut, in_block(3, 1, 100)}, {whole, whole, whole, "kept 1"}},
        {"cut in m3's first block", Archive::plain, {Harm::cut, in_block(3, 0, 5)}, {whole, whole, whole, "kept 0"}},
        // Bit flips.
        {"bit flip in m0's third block", Archive::plain, {Harm::flip, in_block(0, 2, 50)},
         {"kept 2", "whole found", whole, whole}, 0, after_blocks(0, 2)},
        {"bit flip in m0's third block", Archive::indexed, {Harm::flip, in_block(0, 2, 50)}, {"lost 2", whole, whole, whole}},
        {"bit flip in m1's name", Archive::indexed, {Harm::flip, m1_entry + 1}, {whole, "whole renamed", whole, whole}},
        // Version 1: blocks checked against the coder states only.
        {"burst in m1's second block", Archive::version_1, {Harm::burst, in_block(1, 1, 200), 700},
         {whole, "lost 1", whole, whole}},
        {"no damage, but m1's checksum differs", Archive::forged_1, {Harm::flip, 0, 0}, {whole, "unsure", whole, whole}},
        {"no damage, but a block's checksum differs", Archive::forged_2, {Harm::flip, 0, 0},
         {whole, "lost 1", whole, whole}},
        {"bit flip in the coder's last byte", Archive::plain, {Harm::flip, record(3).stream_offset + record(3).stream_length - 1},
         {whole, whole, whole, "unsure"}},
        // Damage inside the index: the archive is salvaged as a plain one.
        {"bit flip in the index", Archive::indexed, {Harm::flip, index_at + 20}, all_whole, VORB_SALVAGE_INDEX_DAMAGED},
        {"zeroed sector over the index's start", Archive::indexed, {Harm::zero, index_at, 256}, all_whole,
         VORB_SALVAGE_INDEX_DAMAGED},
        {"zeroed footer: no index", Archive::indexed, {Harm::zero, sample().indexed.size() - 40, 40}, all_whole},
    });
}

// Bytes that look like entries but are none are passed over: an empty
// member followed by garbage, streams whose first numbers no packer writes.
TEST(Salvage, WhatLooksLikeAnEntryMustProveItself) {
    const Bytes m0 = text_like(5, 3000);
    Bytes a = archive_of({{"x", random_bytes(6, 300)}, {"m0", member_stream(m0, block)}}, block);
    const Bytes fake = {0, 'f', 0, 0, 0, 0, 0, 0x37, 0x91};  // an empty member "f", then no entry
    a.insert(a.begin() + 200, fake.begin(), fake.end());
    a[9] = 3;  // "f" would be the third
    const Salvaged got = fuzz_salvage::salvage(a.data(), a.size());
    ASSERT_EQ(got.members.size(), 2u);
    EXPECT_EQ(got.members[0].name, "x");
    EXPECT_EQ(got.members[0].bytes.size(), 0u);
    EXPECT_EQ(got.members[1].name, "m0");
    EXPECT_TRUE(got.members[1].bytes == m0);
    EXPECT_EQ(got.members[1].entry_flags, VORB_SALVAGE_FOUND);
    EXPECT_EQ(got.info.entries_seen, 2u);
}

// Bytes made to pass the cheap checks everywhere: the search stops at its
// bound and says so, having saved nothing it cannot prove.
TEST(Salvage, TheSearchIsBounded) {
    Bytes a = archive_of({}, block);
    a[9] = 2;
    a.push_back(1);  // a presence byte, then an empty name: damage at once
    for (int i = 0; i < 300000; i++) a.insert(a.end(), {0, 'a', 0, 1, 2, 3, 4, 5});
    const Salvaged got = fuzz_salvage::salvage(a.data(), a.size());
    EXPECT_TRUE(got.members.empty());
    EXPECT_EQ(got.info.flags, VORB_SALVAGE_GAVE_UP);
    EXPECT_GT(got.info.unread_from, 11u);
    EXPECT_LT(got.info.unread_from, a.size());
}

// Every packed stream's start passes the probe, and an empty stream is
// taken only when its four bytes are the coder's.
TEST(Salvage, ProbeTakesEveryRealStreamStart) {
    NumberCoder nc;
    for (const std::string& f : corpus_files()) {
        const Bytes content = read_corpus_file(f);
        const Bytes stream = member_stream(content, 65536);
        EXPECT_EQ(probe_stream_head(nc, stream.data(), stream.size(), 65536),
                  content.empty() ? StreamHead::empty : StreamHead::plausible) << f;
        // A first block longer than the block size is no packer's.
        if (content.size() > 1000) {
            EXPECT_EQ(probe_stream_head(nc, stream.data(), stream.size(), 999), StreamHead::implausible) << f;
        }
    }
    const Bytes empty = {0, 0, 0, 0}, off = {0, 0, 0, 1};
    EXPECT_EQ(probe_stream_head(nc, empty.data(), empty.size(), block), StreamHead::empty);
    EXPECT_EQ(probe_stream_head(nc, off.data(), off.size(), block), StreamHead::implausible);
    EXPECT_EQ(probe_stream_head(nc, empty.data(), 3, block), StreamHead::cut);
    const uint8_t names[][8] = {"a", "", "a\x01b", "\x7f"};
    const size_t lengths[] = {1, 0, 0, 0};
    for (size_t i = 0; i < 4; i++) EXPECT_EQ(plausible_name_length(names[i], 8), lengths[i]) << i;
    EXPECT_EQ(plausible_name_length(reinterpret_cast<const uint8_t*>(std::string(199, 'n').c_str()), 200), 0u);
    EXPECT_EQ(plausible_name_length(reinterpret_cast<const uint8_t*>(std::string(198, 'n').c_str()), 199), 198u);
}

TEST(Salvage, LostRangesJoinWhenTheyTouch) {
    const struct {
        std::vector<std::pair<uint64_t, uint64_t>> added;
        std::vector<std::pair<uint64_t, uint64_t>> listed;
        uint64_t total;
    } cases[] = {
        {{{0, 10}, {10, 5}, {20, 1}}, {{0, 15}, {20, 1}}, 16},
        {{{4, 0}, {8, 2}}, {{8, 2}}, 2},
        {{{0, 4}, {4, lost_to_end}}, {{0, lost_to_end}}, 4},
        {{{3, lost_to_end}}, {{3, lost_to_end}}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<uint64_t, uint64_t>> listed;
        LostRanges r;
        r.sink = {[](void* ctx, uint64_t o, uint64_t l) {
                      static_cast<std::vector<std::pair<uint64_t, uint64_t>>*>(ctx)->emplace_back(o, l);
                  },
                  &listed};
        for (const auto& [o, l] : c.added) lost_add(r, o, l);
        lost_close(r);
        EXPECT_EQ(listed, c.listed);
        EXPECT_EQ(r.total, c.total);
        EXPECT_EQ(r.count, c.listed.size());
    }
}

}  // namespace
