// Unpacks arbitrary bytes as an archive, all in memory, through the
// library's reader. Shared by the libFuzzer target and the test that replays
// the seed corpus, so both run exactly the same checks.
#pragma once

#include <cstdint>
#include <cstring>

#include <vorb.h>

#include "fuzz_require.h"
#include "memory_io.h"

namespace fuzz_unpack {

// Larger headers are legal, but their buffers would make every input slow
// and the fuzzer's memory balloon; the decoder is the same for every size.
constexpr uint32_t max_fuzz_block_size = 1u << 20;
// A few bytes can describe many full blocks; past this the member's writer
// fails, which ends it like a write error.
constexpr uint64_t max_output_bytes = 8u << 20;

inline bool is_damage(vorb_status st) { return st >= VORB_ERR_TRUNCATED && st <= VORB_ERR_TRANSFORM; }

// Two readers walk the archive side by side: one decodes each member's
// sizes only, the other unpacks it in full from reads of a few bytes at a
// time. Both must agree on where each member ends and what it holds.
// Returns false when the member failed (the readers stop there).
inline bool check_member(vorb_reader* quick_reader, vorb_reader* full_reader) {
    vorb_member_stats sizes{};
    const vorb_status quick = vorb_reader_skip(quick_reader, &sizes);
    VectorWriter sink;
    sink.keep = false;
    sink.limit = max_output_bytes;
    vorb_member_stats full{};
    const vorb_status st = vorb_reader_unpack(full_reader, vector_write, &sink, nullptr, nullptr, &full);
    FUZZ_REQUIRE(quick == VORB_OK || is_damage(quick));
    FUZZ_REQUIRE(st == VORB_OK || st == VORB_ERR_WRITE || is_damage(st));
    if (st == VORB_ERR_TRANSFORM || st == VORB_ERR_WRITE) {
        // Checks the sizes pass does not make: it goes on past this block.
        FUZZ_REQUIRE(quick != VORB_OK || sizes.blocks > full.blocks);
        FUZZ_REQUIRE(sizes.blocks >= full.blocks && sizes.unpacked >= full.unpacked);
        return false;
    }
    if (st != VORB_OK) {
        FUZZ_REQUIRE(st == quick && sizes.blocks == full.blocks && sizes.unpacked == full.unpacked);
        return false;
    }
    FUZZ_REQUIRE(quick == VORB_OK);
    FUZZ_REQUIRE(full.unpacked == sizes.unpacked && full.packed == sizes.packed && full.blocks == sizes.blocks);
    FUZZ_REQUIRE(sink.taken == full.unpacked);
    FUZZ_REQUIRE(full.packed >= 4);  // at least the coder's four flush bytes
    return true;
}

inline void unpack_with(vorb_reader* quick, vorb_reader* full) {
    for (;;) {
        vorb_entry a, b;
        const vorb_status na = vorb_reader_next(quick, &a);
        const vorb_status nb = vorb_reader_next(full, &b);
        FUZZ_REQUIRE(na == nb);
        if (na == VORB_END) {
            FUZZ_REQUIRE(vorb_reader_finish(quick) == vorb_reader_finish(full));
            return;
        }
        if (na != VORB_OK) {
            FUZZ_REQUIRE(na == VORB_ERR_TRUNCATED);
            return;
        }
        FUZZ_REQUIRE(a.present == b.present && std::strcmp(a.name, b.name) == 0);
        FUZZ_REQUIRE(std::strlen(a.name) <= VORB_MAX_NAME_LENGTH);
        if (a.present && !check_member(quick, full)) return;
    }
}

// Always returns 0; aborts when the reader breaks one of its promises.
inline int unpack_input(const uint8_t* data, size_t size) {
    vorb_archive_info info;
    if (vorb_header_parse(data, size, &info) != VORB_OK) return 0;
    FUZZ_REQUIRE(info.block_size >= 1 && info.block_size <= VORB_MAX_BLOCK_SIZE);
    FUZZ_REQUIRE(info.member_count <= VORB_MAX_MEMBERS);
    if (info.block_size > max_fuzz_block_size) return 0;

    MemoryReader whole{data, size};
    MemoryReader pieces{data, size, 0, 1 + size % 13};
    const vorb_source a = memory_source(whole), b = memory_source(pieces);
    vorb_reader* quick = vorb_reader_open(&a, nullptr, nullptr);
    vorb_reader* full = vorb_reader_open(&b, nullptr, nullptr);
    FUZZ_REQUIRE(quick && full);
    unpack_with(quick, full);
    vorb_reader_free(quick);
    vorb_reader_free(full);
    return 0;
}

}  // namespace fuzz_unpack
