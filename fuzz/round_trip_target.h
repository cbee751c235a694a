// Packs arbitrary bytes into an archive in memory through the library's
// writer, reads it back through its reader and demands every byte back.
// Shared by the libFuzzer target and the test that replays the seed corpus.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <vorb.h>

#include "fuzz_require.h"
#include "memory_io.h"

namespace fuzz_round_trip {

// The first input byte picks the layout: small block sizes make block
// boundaries and many blocks per member common, and one to four members
// exercise the hand-over from one block stream to the next. Every block
// costs a fixed table set-up, so no input is cut into more than 16 blocks.
struct Layout {
    uint32_t block_size;
    int members;
};

inline Layout layout_of(uint8_t b, size_t body_size) {
    static const uint32_t block_sizes[8] = {1, 7, 64, 255, 1000, 4096, 65536, 65536};
    const uint32_t fewest = static_cast<uint32_t>(std::min<size_t>((body_size + 15) / 16, 1u << 20));
    return Layout{std::max(block_sizes[b & 7], fewest), 1 + (b >> 6)};
}

// Members named m0, m1, ... through the writer, each read in pieces of at
// most piece bytes (0: whole).
inline std::vector<uint8_t> pack(const std::vector<std::vector<uint8_t>>& members, uint32_t block_size,
                                 int threads = 1, size_t piece = 0) {
    VectorWriter arc;
    const vorb_pack_options opt{block_size, threads, 0};
    vorb_writer* w = vorb_writer_create(vector_write, &arc, &opt, nullptr);
    FUZZ_REQUIRE(w != nullptr);
    FUZZ_REQUIRE(vorb_writer_begin(w, static_cast<unsigned>(members.size())) == VORB_OK);
    for (size_t m = 0; m < members.size(); m++) {
        MemoryReader r{members[m].data(), members[m].size(), 0, piece};
        FUZZ_REQUIRE(vorb_writer_add_member(w, ("m" + std::to_string(m)).c_str(), memory_read, &r, nullptr, nullptr,
                                            nullptr, nullptr) == VORB_OK);
    }
    FUZZ_REQUIRE(vorb_writer_finish(w) == VORB_OK);
    vorb_writer_free(w);
    return arc.bytes;
}

// Always returns 0; aborts when a member does not come back byte for byte.
inline int round_trip_input(const uint8_t* data, size_t size) {
    const uint8_t* body = size > 0 ? data + 1 : data;
    const size_t body_size = size > 0 ? size - 1 : 0;
    const Layout lay = layout_of(size > 0 ? data[0] : 0, body_size);
    std::vector<std::vector<uint8_t>> members;
    for (int m = 0; m < lay.members; m++) {
        const size_t from = body_size * static_cast<size_t>(m) / static_cast<size_t>(lay.members);
        const size_t to = body_size * static_cast<size_t>(m + 1) / static_cast<size_t>(lay.members);
        members.emplace_back(body + from, body + to);
    }
    const std::vector<uint8_t> archive = pack(members, lay.block_size);

    MemoryReader src{archive.data(), archive.size()};
    const vorb_source source = memory_source(src);
    vorb_reader* r = vorb_reader_open(&source, nullptr, nullptr);
    FUZZ_REQUIRE(r != nullptr);
    vorb_archive_info info;
    FUZZ_REQUIRE(vorb_reader_info(r, &info) == VORB_OK);
    FUZZ_REQUIRE(info.block_size == lay.block_size && info.member_count == static_cast<unsigned>(lay.members));
    for (int m = 0; m < lay.members; m++) {
        vorb_entry e;
        FUZZ_REQUIRE(vorb_reader_next(r, &e) == VORB_OK && e.present && e.name == "m" + std::to_string(m));
        VectorWriter got;
        vorb_member_stats stats;
        FUZZ_REQUIRE(vorb_reader_unpack(r, vector_write, &got, nullptr, nullptr, &stats) == VORB_OK);
        FUZZ_REQUIRE(got.bytes == members[static_cast<size_t>(m)]);
        const uint64_t blocks = (members[static_cast<size_t>(m)].size() + lay.block_size - 1) / lay.block_size;
        FUZZ_REQUIRE(stats.blocks == blocks + 1);  // the end marker counts as a block
    }
    // An archive is exactly its entries: nothing left after them.
    vorb_entry end;
    FUZZ_REQUIRE(vorb_reader_next(r, &end) == VORB_END);
    FUZZ_REQUIRE(vorb_reader_finish(r) == VORB_OK);
    vorb_reader_free(r);
    return 0;
}

}  // namespace fuzz_round_trip
