// Packs arbitrary bytes into an archive in memory, unpacks it again and
// demands every byte back. Shared by the libFuzzer target and the test that
// replays the seed corpus.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/archive_reader.h"
#include "fuzz_require.h"
#include "app/buffers.h"
#include "app/names.h"
#include "sort/encode_block.h"
#include "sort/sorter.h"

namespace fuzz_round_trip {

struct VectorOut {
    std::vector<uint8_t> bytes;
    uint8_t buf[4096];
    ByteOut out;
};

inline bool append(void* ctx, const uint8_t* data, size_t len) {
    auto& v = *static_cast<std::vector<uint8_t>*>(ctx);
    v.insert(v.end(), data, data + len);
    return true;
}

inline void vector_out_init(VectorOut& v) {
    v.bytes.clear();
    v.out = ByteOut{};
    v.out.buf = v.buf;
    v.out.cap = sizeof v.buf;
    v.out.drain = append;
    v.out.ctx = &v.bytes;
}


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

struct SorterDeleter {
    void operator()(Sorter* s) const { sorter_destroy(s); }
};

inline std::vector<uint8_t> pack(const std::vector<std::vector<uint8_t>>& members, uint32_t block_size) {
    static std::unique_ptr<Sorter, SorterDeleter> sorter{sorter_create()};
    FUZZ_REQUIRE(sorter != nullptr);
    BlockBuffers buffers;
    FUZZ_REQUIRE(setup_buffers(buffers, block_size, true));
    auto dc = std::make_unique<DistanceCoder>();
    auto nc = std::make_unique<NumberCoder>();
    VectorOut arc;
    vector_out_init(arc);
    dc->distance = buffers.distance;
    nc->rc.mode = rc_mode_pack;
    nc->rc.out = &arc.out;

    put_bytes(arc.out, reinterpret_cast<const uint8_t*>("!vorb"), 5);
    for (int shift = 0; shift < 32; shift += 8) put_byte(arc.out, static_cast<uint8_t>(block_size >> shift));
    put_byte(arc.out, static_cast<uint8_t>(members.size()));
    for (size_t m = 0; m < members.size(); m++) {
        put_byte(arc.out, 0x00);
        write_name(arc.out, "m" + std::to_string(m));
        rc_start(nc->rc);
        const std::vector<uint8_t>& data = members[m];
        size_t done = 0;
        for (;;) {
            const size_t got = std::min<size_t>(block_size, data.size() - done);
            if (got > 0) std::memcpy(buffers.block_start, data.data() + done, got);
            done += got;
            FUZZ_REQUIRE(encode_block(*sorter, *dc, *nc, buffers.block_start, static_cast<int32_t>(got), buffers.index,
                                 ProgressSink{}));
            if (got == 0) break;
        }
    }
    flush_out(arc.out);
    release_buffers(buffers);
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

    ByteIn in;
    byte_in_from_memory(in, archive.data(), archive.size());
    ArchiveHeader h;
    FUZZ_REQUIRE(read_header(in, h) == HeaderRead::ok);
    FUZZ_REQUIRE(h.block_size == lay.block_size && h.member_count == lay.members);
    MemberDecoder dec;
    FUZZ_REQUIRE(member_decoder_init(dec, in, h.block_size));
    for (int m = 0; m < lay.members; m++) {
        ArchiveEntry e;
        FUZZ_REQUIRE(read_entry(in, e) && e.present && e.name == "m" + std::to_string(m));
        VectorOut got;
        vector_out_init(got);
        MemberStats stats;
        FUZZ_REQUIRE(decode_member(dec, got.out, ProgressSink{}, true, stats) == Status::ok);
        flush_out(got.out);
        FUZZ_REQUIRE(got.bytes == members[static_cast<size_t>(m)]);
        const uint64_t blocks = (members[static_cast<size_t>(m)].size() + lay.block_size - 1) / lay.block_size;
        FUZZ_REQUIRE(stats.blocks == blocks + 1);  // the end marker counts as a block
    }
    // An archive is exactly its entries: nothing read past it, nothing left.
    FUZZ_REQUIRE(bytes_in(in) == archive.size() && !in.overread);
    return 0;
}

}  // namespace fuzz_round_trip
