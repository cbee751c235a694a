// Salvages arbitrary bytes as an archive in memory through the library, and
// holds the salvager to its promises: lost ranges in order, apart and inside
// what was written, a member called whole only when nothing was lost, and,
// for an archive the ordinary reader unpacks without an error, the very
// members the reader gives. Shared by the libFuzzer target and the tests.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <vorb.h>

#include "fuzz_require.h"
#include "index_target.h"
#include "memory_io.h"

namespace fuzz_salvage {

using Bytes = std::vector<uint8_t>;
using fuzz_index::memory_read_at;

struct Member {
    std::string name;
    uint32_t entry_flags = 0;  // VORB_SALVAGE_NAME_DAMAGED, VORB_SALVAGE_FOUND
    uint64_t skipped_from = 0;
    vorb_status status = VORB_OK;
    uint32_t flags = 0;        // VORB_SALVAGE_WHOLE, _VERIFIED, _REST_LOST
    uint64_t lost = 0;
    Bytes bytes;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
};

struct Salvaged {
    vorb_status open = VORB_OK;
    vorb_salvage_info info{};
    std::vector<Member> members;  // the present ones, in order
};

// Members past this many bytes fail to be written, which ends the salvage.
constexpr uint64_t max_output_bytes = 8u << 20;
// Forged block sizes would make every input slow: past this the open fails.
constexpr uint64_t memory_limit = 96u << 20;

inline void note_lost(void* ctx, uint64_t offset, uint64_t length) {
    Member& m = *static_cast<Member*>(ctx);
    FUZZ_REQUIRE(length > 0);
    if (!m.ranges.empty()) {
        const auto& [o, l] = m.ranges.back();
        // Ranges that touch are one range; one of unknown length is the last.
        FUZZ_REQUIRE(l != UINT64_MAX && offset > o + l);
    }
    m.ranges.emplace_back(offset, length);
}

inline Salvaged salvage(const uint8_t* data, size_t size) {
    Salvaged out;
    MemoryReader src{data, size};
    const vorb_source source{memory_read, memory_read_at, &src, size};
    vorb_unpack_options opt{};
    opt.memory_limit = memory_limit;
    vorb_salvager* s = vorb_salvager_open(&source, &opt, &out.open);
    if (!s) {
        FUZZ_REQUIRE(out.open == VORB_ERR_MEMORY);
        return out;
    }
    for (int entries = 0;; entries++) {
        vorb_salvage_entry e;
        const vorb_status next = vorb_salvager_next(s, &e);
        if (next == VORB_END) break;
        FUZZ_REQUIRE(next == VORB_OK && entries < VORB_MAX_MEMBERS);
        FUZZ_REQUIRE(std::strlen(e.entry.name) <= VORB_MAX_NAME_LENGTH && e.offset < size);
        FUZZ_REQUIRE(!(e.salvage_flags & VORB_SALVAGE_FOUND) || e.skipped_from <= e.offset);
        if (!e.entry.present) continue;
        Member m;
        m.name = e.entry.name;
        m.entry_flags = e.salvage_flags;
        m.skipped_from = e.skipped_from;
        VectorWriter w;
        w.limit = max_output_bytes;
        vorb_salvage_result r;
        m.status = vorb_salvager_unpack(s, vector_write, &w, note_lost, &m, nullptr, nullptr, &r);
        if (m.status == VORB_ERR_WRITE) break;
        FUZZ_REQUIRE(m.status != VORB_ERR_READ && m.status != VORB_ERR_PARAM);
        m.flags = r.flags;
        m.lost = r.lost;
        m.bytes = std::move(w.bytes);
        FUZZ_REQUIRE(r.written == m.bytes.size() && r.lost <= r.written);
        FUZZ_REQUIRE((m.status == VORB_OK) == ((r.flags & VORB_SALVAGE_WHOLE) != 0));
        FUZZ_REQUIRE(m.status != VORB_OK || (m.ranges.empty() && r.lost == 0 && !(r.flags & VORB_SALVAGE_REST_LOST)));
        uint64_t finite = 0;
        for (const auto& [o, l] : m.ranges) {
            if (l == UINT64_MAX) {
                FUZZ_REQUIRE(o == r.written && (r.flags & VORB_SALVAGE_REST_LOST));
                continue;
            }
            FUZZ_REQUIRE(o + l <= r.written);
            finite += l;
        }
        FUZZ_REQUIRE(finite == r.lost);
        if (e.entry.flags & VORB_ENTRY_HAS_SIZE) FUZZ_REQUIRE(r.written == e.entry.unpacked_size);
        out.members.push_back(std::move(m));
    }
    FUZZ_REQUIRE(vorb_salvager_info(s, &out.info) == VORB_OK);
    FUZZ_REQUIRE(out.info.entries_seen <= out.info.member_count && out.info.unread_from <= size);
    vorb_salvager_free(s);
    return out;
}

// The present members as the ordinary reader gives them, when it reads the
// whole archive without an error and every name as stored; else false.
inline bool read_plainly(const uint8_t* data, size_t size, std::vector<std::pair<std::string, Bytes>>& members) {
    MemoryReader src{data, size};
    const vorb_source source{memory_read, memory_read_at, &src, size};
    vorb_reader* r = vorb_reader_open(&source, nullptr, nullptr);
    if (!r) return false;
    bool ok = true;
    for (vorb_entry e; ok;) {
        const vorb_status st = vorb_reader_next(r, &e);
        if (st == VORB_END) break;
        ok = st == VORB_OK && !e.name_too_long && (!e.present || e.name[0] != '\0');
        if (!ok || !e.present) continue;
        VectorWriter w;
        w.limit = max_output_bytes;
        ok = vorb_reader_unpack(r, vector_write, &w, nullptr, nullptr, nullptr) == VORB_OK;
        members.emplace_back(e.name, std::move(w.bytes));
    }
    vorb_reader_free(r);
    return ok;
}

// Always returns 0; aborts when the salvager breaks one of its promises.
inline int salvage_input(const uint8_t* data, size_t size) {
    const Salvaged got = salvage(data, size);
    std::vector<std::pair<std::string, Bytes>> plain;
    if (got.open != VORB_OK || !read_plainly(data, size, plain)) return 0;
    // Up to a member whose last bytes the reader does not look at, the same
    // members come back whole.
    for (size_t i = 0; i < plain.size(); i++) {
        FUZZ_REQUIRE(i < got.members.size());
        const Member& m = got.members[i];
        FUZZ_REQUIRE(m.name == plain[i].first && m.bytes == plain[i].second);
        if (m.status == VORB_ERR_STREAM_END && !(got.info.flags & VORB_SALVAGE_INDEXED)) break;
        FUZZ_REQUIRE(m.status == VORB_OK && m.entry_flags == 0);
    }
    return 0;
}

}  // namespace fuzz_salvage
