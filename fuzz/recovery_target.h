// A file that may end with a recovery record, checked and repaired through
// the library, and its tail read as a stream. Whatever the bytes, nothing
// crashes; a repair that succeeds gives a file that checks intact; damage to
// a real record that the check calls repairable is repaired to the very
// file that was recorded. Shared by the libFuzzer target and the test that
// replays its seeds.
#pragma once

#include <xxhash.h>

#include <algorithm>
#include <vector>

#include <vorb.h>

#include "archive/recovery_tail.h"
#include "fuzz_require.h"
#include "index_target.h"
#include "memory_io.h"

namespace fuzz_recovery {

using Bytes = std::vector<uint8_t>;
constexpr size_t header = 56;

// The indexed sample archive with a record of 10 %.
inline const Bytes& sample() {
    static const Bytes file = [] {
        const Bytes& archive = fuzz_index::sample().archive;
        MemoryReader r{archive.data(), archive.size()};
        const vorb_source src = memory_source(r);
        VectorWriter w;
        w.bytes = archive;
        FUZZ_REQUIRE(vorb_recovery_build(&src, 10, vector_write, &w) == VORB_OK);
        return w.bytes;
    }();
    return file;
}

inline vorb_source at_source(MemoryReader& mem) {
    return vorb_source{memory_read, fuzz_index::memory_read_at, &mem, mem.size};
}

inline vorb_recovery_state check(const Bytes& file, vorb_recovery_report& rep) {
    MemoryReader mem{file.data(), file.size()};
    const vorb_source src = at_source(mem);
    FUZZ_REQUIRE(vorb_recovery_check(&src, &rep) == VORB_OK);
    return rep.state;
}

// original: the file as recorded, when only its damage is unknown to the
// library (no forged header).
inline void check_and_repair(const Bytes& file, const Bytes* original, bool within_burst, bool read_members) {
    vorb_recovery_report rep;
    const vorb_recovery_state state = check(file, rep);
    if (within_burst) FUZZ_REQUIRE(state == VORB_RECOVERY_INTACT || state == VORB_RECOVERY_REPAIRABLE);
    MemoryReader mem{file.data(), file.size()};
    const vorb_source src = at_source(mem);
    VectorWriter out;
    out.limit = 4 * file.size() + (1 << 16);
    const vorb_status st = vorb_recovery_repair(&src, vector_write, &out, nullptr);
    if (state == VORB_RECOVERY_NONE || state == VORB_RECOVERY_BEYOND) FUZZ_REQUIRE(st != VORB_OK && out.bytes.empty());
    if (st == VORB_OK) {
        vorb_recovery_report again;
        FUZZ_REQUIRE(check(out.bytes, again) == VORB_RECOVERY_INTACT);
        FUZZ_REQUIRE(state != VORB_RECOVERY_INTACT || out.bytes == file);
    }
    if (original && (state == VORB_RECOVERY_INTACT || state == VORB_RECOVERY_REPAIRABLE))
        FUZZ_REQUIRE(st == VORB_OK && out.bytes == *original);
    // The tail after the sample's entries, as a reader of a stream sees it.
    const size_t entries_end = fuzz_index::sample().index_start;
    if (file.size() >= entries_end) {
        ByteIn in;
        byte_in_from_memory(in, file.data() + entries_end, file.size() - entries_end);
        in.consumed = entries_end;
        std::vector<uint8_t> front;
        RecordTail tail;
        if (read_record_tail(in, 1 << 16, front, tail) == Status::ok && tail.seen != RecordSeen::none)
            FUZZ_REQUIRE(tail.layout.data_size == entries_end + front.size() && front.size() <= file.size());
    }
    // A plain archive has no checksums: read it only when its entries are whole.
    const Bytes& plain = fuzz_index::sample().archive;
    if (read_members && file.size() >= entries_end && std::equal(plain.begin(), plain.begin() + static_cast<ptrdiff_t>(entries_end),
                                                 file.begin()))
        fuzz_index::read_all(file, 1, true);
}

// Byte 0 even: the rest is the file. Odd: edits of the sample. Byte 1 bit 0
// forges the last header copy from bytes 2 to 41 (xored into its fields,
// checksum made to fit), bit 1 the first copy too, bit 2 has the members
// read (costly, so not every time); then every three bytes
// zero a run (offset in 65536ths of the file, length; 255 cuts the file there).
inline int recovery_input(const uint8_t* data, size_t size) {
    if (size == 0 || !(data[0] & 1)) {
        const Bytes file(data + (size > 0), data + size);
        check_and_repair(file, nullptr, false, true);
        return 0;
    }
    Bytes file = sample();
    const uint8_t flags = size > 1 ? data[1] : 0;
    size_t at = 2;
    const bool forged = flags & 3;
    if (forged) {
        const size_t start = fuzz_index::sample().archive.size();
        for (const size_t copy : {file.size() - header, start}) {
            if (copy == start && !(flags & 2)) continue;
            for (size_t i = 0; i < 40 && at + i < size; i++) file[copy + i] ^= data[at + i];
            const uint64_t sum = XXH3_64bits(file.data() + copy, 40);
            for (int i = 0; i < 8; i++) file[copy + 40 + static_cast<size_t>(i)] = static_cast<uint8_t>(sum >> (8 * i));
        }
        at += 40;
    }
    int runs = 0;
    uint64_t longest = 0;
    for (; at + 3 <= size && !file.empty(); at += 3, runs++) {
        const size_t from = (data[at] | data[at + 1] << 8) * file.size() / 65536;
        if (data[at + 2] == 255) {
            longest = sample().size() - from;
            file.resize(from);
            continue;
        }
        for (size_t i = from; i < from + data[at + 2] && i < file.size(); i++) file[i] = 0;
        longest = std::max<uint64_t>(longest, data[at + 2]);
    }
    static const vorb_recovery_layout l = [] {
        vorb_recovery_report rep;
        (void)check(sample(), rep);
        return rep.layout;
    }();
    // One run within the promised burst (or a cut the first header survives).
    const bool within = !forged && runs <= 1 &&
                        (longest <= l.burst_bytes || (file.size() >= l.data_size + header && file.size() < sample().size()));
    check_and_repair(file, forged ? nullptr : &sample(), within, flags & 4);
    return 0;
}

}  // namespace fuzz_recovery
