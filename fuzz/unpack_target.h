// Unpacks arbitrary bytes as an archive, all in memory. Shared by the
// libFuzzer target and the test that replays the seed corpus, so both run
// exactly the same checks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/archive_reader.h"
#include "fuzz_require.h"

namespace fuzz_unpack {

// Larger headers are legal, but their buffers would make every input slow
// and the fuzzer's memory balloon; the decoder is the same for every size.
constexpr uint32_t max_fuzz_block_size = 1u << 20;
// A few bytes can describe many full blocks; past this the member's sink
// fails, which ends it like a write error.
constexpr uint64_t max_output_bytes = 8u << 20;

struct CountingSink {
    uint8_t buf[4096];
    uint64_t taken = 0;
    ByteOut out;
};

inline bool count_and_drop(void* ctx, const uint8_t*, size_t len) {
    CountingSink& s = *static_cast<CountingSink*>(ctx);
    s.taken += len;
    return s.taken <= max_output_bytes;
}

inline void sink_init(CountingSink& s) {
    s.taken = 0;
    s.out = ByteOut{};
    s.out.buf = s.buf;
    s.out.cap = sizeof s.buf;
    s.out.drain = count_and_drop;
    s.out.ctx = &s;
}


inline void read_from(MemberDecoder& dec, ByteIn& in) {
    dec.in = &in;
    dec.nc->rc.in = &in;
}

// Decodes one member twice from the same start: sizes only, then in full.
// Both passes must agree on where the member ends and what it holds, and a
// member is good only if every byte it needs lies inside the archive.
// Returns false when the member failed (the archive reader stops there).
inline bool check_member(MemberDecoder& dec, ByteIn& in, const uint8_t* data, size_t size) {
    const uint64_t start = bytes_in(in);
    ByteIn rest;
    byte_in_from_memory(rest, data + start, size - start);
    read_from(dec, rest);
    CountingSink unused;
    sink_init(unused);
    MemberStats sizes;
    const Status quick = decode_member(dec, unused.out, ProgressSink{}, false, sizes);
    FUZZ_REQUIRE(bytes_out(unused.out) == 0);
    FUZZ_REQUIRE((quick == Status::truncated) == rest.overread);

    read_from(dec, in);
    CountingSink sink;
    sink_init(sink);
    MemberStats full;
    const Status st = decode_member(dec, sink.out, ProgressSink{}, true, full);
    flush_out(sink.out);
    FUZZ_REQUIRE((st == Status::truncated) == in.overread);
    if (st == Status::bad_transform || st == Status::write_failed) {
        // Checks the sizes pass does not make: it goes on past this block.
        FUZZ_REQUIRE(quick != Status::ok || sizes.blocks > full.blocks);
        FUZZ_REQUIRE(sizes.blocks >= full.blocks && sizes.unpacked >= full.unpacked);
        return false;
    }
    if (st != Status::ok) {
        FUZZ_REQUIRE(st == quick && sizes.blocks == full.blocks && sizes.unpacked == full.unpacked);
        return false;
    }
    FUZZ_REQUIRE(quick == Status::ok);
    FUZZ_REQUIRE(full.unpacked == sizes.unpacked && full.packed == sizes.packed && full.blocks == sizes.blocks);
    FUZZ_REQUIRE(sink.taken == full.unpacked);
    FUZZ_REQUIRE(full.packed == bytes_in(in) - start && bytes_in(in) <= size);
    FUZZ_REQUIRE(full.packed >= 4);  // at least the coder's four flush bytes
    return true;
}

// Always returns 0; aborts when the reader breaks one of its promises.
inline int unpack_input(const uint8_t* data, size_t size) {
    ByteIn in;
    byte_in_from_memory(in, data, size);
    ArchiveHeader h;
    if (read_header(in, h) != HeaderRead::ok) return 0;
    FUZZ_REQUIRE(h.block_size >= 1 && h.block_size <= max_block_size);
    FUZZ_REQUIRE(h.member_count >= 0 && h.member_count <= 255);
    if (h.block_size > max_fuzz_block_size) return 0;

    MemberDecoder dec;
    if (!member_decoder_init(dec, in, h.block_size)) return 0;
    for (int member = 0; member < h.member_count; member++) {
        ArchiveEntry e;
        if (!read_entry(in, e)) {
            FUZZ_REQUIRE(in.overread);
            break;
        }
        if (!e.present) continue;
        FUZZ_REQUIRE(e.name.size() <= max_name_length);
        FUZZ_REQUIRE(e.name.find('\0') == std::string::npos);
        if (!check_member(dec, in, data, size)) break;
    }
    return 0;
}

}  // namespace fuzz_unpack
