// An indexed archive whose index is forged or whose end is cut off, read
// through the library with random access. Whatever the index says, a member
// that unpacks without an error is the member that was packed; an index
// that fails its checks changes nothing: every member still unpacks.
// Shared by the two libFuzzer targets and the test that replays their seeds.
#pragma once

#include <xxhash.h>

#include <cstring>
#include <string>
#include <vector>

#include <vorb.h>

#include "fuzz_require.h"
#include "memory_io.h"

namespace fuzz_index {

using Bytes = std::vector<uint8_t>;

inline const char* const names[] = {"text", "binary", "empty"};

struct Sample {
    std::vector<Bytes> members;  // present members in order; an absent entry sits after the first
    Bytes archive;
    size_t index_start = 0;
};

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
        FUZZ_REQUIRE(vorb_writer_finish(w) == VORB_OK);
        vorb_writer_free(w);
        out.archive = arc.bytes;
        const uint8_t* footer = out.archive.data() + out.archive.size() - 40;
        uint64_t length = 0;
        for (int i = 7; i >= 0; i--) length = length << 8 | footer[8 + i];
        out.index_start = out.archive.size() - length;
        return out;
    }();
    return s;
}

// Reads every entry and unpacks every member on threads threads; with
// plain_intact the archive in front of where the index began is whole.
// Returns whether the reader found a valid index; clean, when given, says
// whether every check passed.
inline bool read_all(const Bytes& archive, int threads, bool plain_intact, bool* clean = nullptr) {
    const Sample& s = sample();
    MemoryReader mem{archive.data(), archive.size()};
    const vorb_source src{memory_read, memory_read_at, &mem, archive.size()};
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
    const bool indexed = info.flags & VORB_INFO_HAS_INDEX;
    // An index that fails its checks is never used.
    const bool must_unpack = plain_intact && !indexed;
    ok &= indexed && vorb_reader_check_archive(r) == VORB_OK;
    size_t m = 0;
    vorb_entry e;
    vorb_status st;
    while ((st = vorb_reader_next(r, &e)) == VORB_OK) {
        if (!e.present) continue;
        VectorWriter out;
        out.limit = 1 << 20;
        st = vorb_reader_unpack(r, vector_write, &out, nullptr, nullptr, nullptr);
        FUZZ_REQUIRE(m < s.members.size());
        if (st == VORB_OK) FUZZ_REQUIRE(out.bytes == s.members[m] && e.name == std::string(names[m]));
        FUZZ_REQUIRE(st == VORB_OK || !must_unpack);
        ok &= st == VORB_OK;
        m++;
    }
    FUZZ_REQUIRE(st == VORB_END || !must_unpack);
    ok &= st == VORB_END && vorb_reader_finish(r) == VORB_OK;
    vorb_reader_free(r);
    if (clean) *clean = ok;
    return indexed;
}

// Byte 0: bit 0 seals the forged index with a correct checksum, bit 1 reads
// on two threads. The rest is XORed onto the index from its start (and past
// its end, appending bytes).
inline int forge_input(const uint8_t* data, size_t size) {
    const Sample& s = sample();
    Bytes archive = s.archive;
    const uint8_t flags = size > 0 ? data[0] : 0;
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
    read_all(archive, (flags & 2) ? 2 : 1, true);
    return 0;
}

// Bytes 0 and 1: where to cut the archive (modulo its size plus one);
// byte 2 bit 0: two threads.
inline int cut_input(const uint8_t* data, size_t size) {
    const Sample& s = sample();
    const size_t at = size >= 2 ? (data[0] | data[1] << 8) % (s.archive.size() + 1) : s.archive.size();
    const Bytes archive(s.archive.begin(), s.archive.begin() + static_cast<long>(at));
    const bool indexed = read_all(archive, size >= 3 && (data[2] & 1) ? 2 : 1, at >= s.index_start);
    FUZZ_REQUIRE(indexed == (at == s.archive.size()));
    return 0;
}

}  // namespace fuzz_index
