// Decodes arbitrary bytes as one member's block stream, block by block, and
// demands that every block the decoder accepts is a real transform: sorting
// the bytes it inverts to must give back the same transformed block and
// primary index. Without a checksum a damaged block may well decode to other
// bytes, but never to bytes that have a different transform.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "dc/block_buffers.h"
#include "fuzz_require.h"
#include "inverse/invert_block.h"
#include "sort/forward.h"

namespace fuzz_block_decode {

// The first two bytes, v little-endian, give the block size: v + 1 when
// below 2^15, else (v - 2^15 + 1) * 16, up to 512 KiB, so that both the
// small-block and the large-block inversion are reached. The rest is the
// stream.
inline uint32_t block_size_of(const uint8_t* data) {
    const uint32_t v = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8;
    return v < 0x8000 ? v + 1 : (v - 0x8000 + 1) * 16;
}

inline int block_decode_input(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint32_t block_size = block_size_of(data);
    static std::unique_ptr<Sorter, void (*)(Sorter*)> sorter{sorter_create(), sorter_destroy};
    FUZZ_REQUIRE(sorter != nullptr);

    ByteIn in;
    byte_in_from_memory(in, data + 2, size - 2);
    auto nc = std::make_unique<NumberCoder>();
    auto bd = std::make_unique<BlockDecoder>();
    nc->rc.mode = rc_mode_unpack;
    nc->rc.in = &in;
    rc_start(nc->rc);
    std::vector<uint8_t> t(block_size), transformed(block_size);
    std::vector<int32_t> links(block_size), scratch(block_size);
    BlockBuffers fwd;
    FUZZ_REQUIRE(setup_buffers(fwd, block_size, false));

    for (bool first = true;; first = false) {
        int32_t n = 0, primary = 0;
        const Status st = decode_block_symbols(*bd, *nc, t.data(), block_size, first, n, primary);
        if (st != Status::ok || n == 0 || in.overread) break;
        FUZZ_REQUIRE(n > 0 && static_cast<uint32_t>(n) <= block_size && primary >= 0 && primary < n);
        std::memcpy(transformed.data(), t.data(), static_cast<size_t>(n));
        if (invert_block(bd->bucket_start, t.data(), n, primary, links.data(), scratch.data()) != Status::ok) break;

        std::memcpy(fwd.block_start, t.data(), static_cast<size_t>(n));
        int32_t again = -1;
        FUZZ_REQUIRE(forward_transform(*sorter, fwd.block_start, n, fwd.index, ProgressSink{}, again));
        FUZZ_REQUIRE(again == primary);
        FUZZ_REQUIRE(std::memcmp(fwd.index, transformed.data(), static_cast<size_t>(n)) == 0);
    }
    release_buffers(fwd);
    return 0;
}

}  // namespace fuzz_block_decode
