// An indexed archive whose index is forged or whose end is cut off, read
// through the library at offsets or as a stream, in either index version.
// Whatever the index says, a member that unpacks without an error is the
// member that was packed, and a node holds what a node may; an index that
// fails its checks changes nothing: every member still unpacks.
// Shared by the two libFuzzer targets and the test that replays their seeds.
#pragma once

#include <xxhash.h>

#include <cstring>
#include <string>
#include <vector>

#include <vorb.h>

#include "archive/index_format.h"
#include "fuzz_require.h"
#include "memory_io.h"

namespace fuzz_index {

using Bytes = std::vector<uint8_t>;

inline const char* const names[] = {"text", "binary", "empty"};

struct Sample {
    std::vector<Bytes> members;  // present members in order; an absent entry sits after the first
    Bytes archive;
    Bytes archive_v1;  // the same with the index in version 1: no block checksums, no nodes
    size_t index_start = 0;
};

// The nodes of the sample: a folder with attributes, a link without.
inline const vorb_file_meta node_meta{0750, 7, 1100000000};
inline const vorb_node nodes[] = {{VORB_NODE_FOLDER, "tree", nullptr, &node_meta},
                                  {VORB_NODE_LINK, "tree/to-text", "../text", nullptr}};

inline ptrdiff_t memory_read_at(void* ctx, void* buf, size_t len, uint64_t offset) {
    const MemoryReader& r = *static_cast<const MemoryReader*>(ctx);
    if (offset >= r.size) return 0;
    const size_t n = std::min<size_t>(len, r.size - offset);
    std::memcpy(buf, r.data + offset, n);
    return static_cast<ptrdiff_t>(n);
}

// Three members in blocks of 100 bytes around an absent entry.
inline const Sample& sample() {
    static const Sample s = [] {
        Sample out;
        Bytes text;
        for (int i = 0; i < 430; i++) text.push_back(static_cast<uint8_t>("the index of an archive "[i % 24]));
        Bytes binary;
        for (int i = 0; i < 130; i++) binary.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
        out.members = {text, binary, {}};
        VectorWriter arc;
        const vorb_pack_options opt{100, 1, 1};
        vorb_writer* w = vorb_writer_create(vector_write, &arc, &opt, nullptr);
        FUZZ_REQUIRE(w && vorb_writer_begin(w, 4) == VORB_OK);
        for (size_t m = 0; m < 3; m++) {
            MemoryReader r{out.members[m].data(), out.members[m].size()};
            const vorb_file_meta meta{0640, 5, 1000000000};
            FUZZ_REQUIRE(vorb_writer_add_member(w, names[m], memory_read, &r, &meta, nullptr, nullptr, nullptr) ==
                         VORB_OK);
            if (m == 0) FUZZ_REQUIRE(vorb_writer_add_absent(w, "missing") == VORB_OK);
        }
        for (const vorb_node& n : nodes) FUZZ_REQUIRE(vorb_writer_add_node(w, &n) == VORB_OK);
        FUZZ_REQUIRE(vorb_writer_finish(w) == VORB_OK);
        vorb_writer_free(w);
        out.archive = arc.bytes;
        const uint8_t* footer = out.archive.data() + out.archive.size() - 40;
        uint64_t length = 0;
        for (int i = 7; i >= 0; i--) length = length << 8 | footer[8 + i];
        out.index_start = out.archive.size() - length;
        ArchiveIndex index;
        FUZZ_REQUIRE(index_parse(out.archive.data() + out.index_start, length, out.archive.size(), index) ==
                     Status::ok);
        index.version = index_version_1;
        out.archive_v1.assign(out.archive.begin(), out.archive.begin() + static_cast<long>(out.index_start));
        index_build(index, out.archive_v1);
        return out;
    }();
    return s;
}

// What any node must hold, whatever the index says; exact: the sample's (none in version 1).
inline void check_nodes(const vorb_reader* r, bool exact, uint32_t version) {
    const unsigned count = vorb_reader_node_count(r);
    FUZZ_REQUIRE(!exact || count == (version == 2 ? std::size(nodes) : 0));
    for (unsigned i = 0; i < count; i++) {
        vorb_node n;
        FUZZ_REQUIRE(vorb_reader_node(r, i, &n) == VORB_OK);
        const size_t path = std::strlen(n.path);
        FUZZ_REQUIRE(path >= 1 && path <= VORB_MAX_NAME_LENGTH);
        FUZZ_REQUIRE((n.kind == VORB_NODE_LINK) == (n.target != nullptr));
        FUZZ_REQUIRE(!n.target || (std::strlen(n.target) >= 1 && std::strlen(n.target) <= VORB_MAX_LINK_LENGTH));
        FUZZ_REQUIRE(!n.meta || (n.meta->mtime_nsec < 1000000000 && n.meta->mode <= 07777));
        if (!exact) continue;
        const vorb_node& w = nodes[i];
        FUZZ_REQUIRE(n.kind == w.kind && std::string(n.path) == w.path && !n.target == !w.target && !n.meta == !w.meta);
        FUZZ_REQUIRE((!n.target || std::string(n.target) == w.target) && (!n.meta || !std::memcmp(n.meta, w.meta, 16)));
    }
    vorb_node n;
    FUZZ_REQUIRE(vorb_reader_node(r, count, &n) == VORB_ERR_PARAM);
}

// Reads and unpacks every entry on threads threads (streamed: as a stream); plain_intact: the archive in
// front of the index is whole. Returns whether a valid index was found; clean: whether every check passed.
inline bool read_all(const Bytes& archive, int threads, bool plain_intact, bool* clean = nullptr,
                     bool streamed = false) {
    const Sample& s = sample();
    MemoryReader mem{archive.data(), archive.size()};
    const vorb_source src{memory_read, streamed ? nullptr : memory_read_at, &mem,
                          streamed ? UINT64_MAX : archive.size()};
    const vorb_unpack_options uo{threads, 0};
    vorb_reader* r = vorb_reader_open(&src, &uo, nullptr);
    bool ok = r != nullptr;
    if (clean) *clean = false;
    if (!r) {
        FUZZ_REQUIRE(!plain_intact);
        return false;
    }
    vorb_archive_info info;
    FUZZ_REQUIRE(vorb_reader_info(r, &info) == VORB_OK);
    bool indexed = info.flags & VORB_INFO_HAS_INDEX;
    FUZZ_REQUIRE(!streamed || (!indexed && info.index_version == 0));
    // An index that fails its checks is never used.
    const bool must_unpack = plain_intact && !indexed;
    ok &= streamed || (indexed && vorb_reader_check_archive(r) == VORB_OK);
    size_t m = 0;
    bool all_right = true;  // every member unpacked so far is the one packed, under its name
    vorb_entry e;
    vorb_status st;
    while ((st = vorb_reader_next(r, &e)) == VORB_OK) {
        if (!e.present) continue;
        VectorWriter out;
        out.limit = 1 << 20;
        st = vorb_reader_unpack(r, vector_write, &out, nullptr, nullptr, nullptr);
        const bool right = m < s.members.size() && out.bytes == s.members[m] && e.name == std::string(names[m]);
        FUZZ_REQUIRE(right || st != VORB_OK || streamed);  // a stream's are checked at its end
        all_right &= right || st != VORB_OK;
        FUZZ_REQUIRE(st == VORB_OK || !must_unpack);
        ok &= st == VORB_OK;
        m++;
    }
    FUZZ_REQUIRE(st == VORB_END || !must_unpack);
    const vorb_status end = st == VORB_END ? vorb_reader_finish(r) : st;
    ok &= end == VORB_OK;
    FUZZ_REQUIRE(all_right || !ok);
    FUZZ_REQUIRE(vorb_reader_info(r, &info) == VORB_OK);
    if (streamed) indexed = info.flags & VORB_INFO_HAS_INDEX;
    FUZZ_REQUIRE(!indexed || info.index_version == 1 || info.index_version == 2);
    // A forged index can be valid and hold other nodes.
    check_nodes(r, ok && (archive == s.archive || archive == s.archive_v1), info.index_version);
    vorb_reader_free(r);
    if (clean) *clean = ok;
    return indexed;
}

// Byte 0: bit 0 seals the forged index with a correct checksum, bit 1 reads
// on two threads, bit 2 as a stream, bit 3 forges the version 1 index. The
// rest is XORed onto the index from its start (and appended past its end).
inline int forge_input(const uint8_t* data, size_t size) {
    const Sample& s = sample();
    const uint8_t flags = size > 0 ? data[0] : 0;
    Bytes archive = (flags & 8) ? s.archive_v1 : s.archive;
    for (size_t i = 1; i < size; i++) {
        const size_t at = s.index_start + i - 1;
        if (at < archive.size())
            archive[at] ^= data[i];
        else
            archive.push_back(data[i]);
    }
    const size_t len = archive.size() - s.index_start;
    if ((flags & 1) && len >= 16) {
        const uint64_t sum = XXH3_64bits(archive.data() + s.index_start, len - 16);
        for (int i = 0; i < 8; i++) archive[archive.size() - 16 + i] = static_cast<uint8_t>(sum >> (8 * i));
    }
    read_all(archive, (flags & 2) ? 2 : 1, true, nullptr, flags & 4);
    return 0;
}

// Bytes 0 and 1: where to cut the archive (modulo its size plus one);
// byte 2: bit 0 two threads, bit 1 as a stream, bit 2 the version 1 index.
inline int cut_input(const uint8_t* data, size_t size) {
    const Sample& s = sample();
    const uint8_t flags = size >= 3 ? data[2] : 0;
    const Bytes& whole = (flags & 4) ? s.archive_v1 : s.archive;
    const size_t at = size >= 2 ? (data[0] | data[1] << 8) % (whole.size() + 1) : whole.size();
    const Bytes archive(whole.begin(), whole.begin() + static_cast<long>(at));
    const bool indexed = read_all(archive, (flags & 1) ? 2 : 1, at >= s.index_start, nullptr, flags & 2);
    FUZZ_REQUIRE(indexed == (at == whole.size()));
    return 0;
}

}  // namespace fuzz_index
