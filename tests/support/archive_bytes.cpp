#include "support/archive_bytes.h"

#include "../fuzz/round_trip_target.h"

Bytes member_stream(const Bytes& content, uint32_t block_size) {
    const Bytes arch = fuzz_round_trip::pack({content}, block_size);
    return Bytes(arch.begin() + 14, arch.end());  // header, count, presence byte, "m0" and its NUL
}

Bytes archive_of(const std::vector<HandEntry>& entries, uint32_t block_size) {
    Bytes a = {'!', 'v', 'o', 'r', 'b'};
    for (int shift = 0; shift < 32; shift += 8) a.push_back(static_cast<uint8_t>(block_size >> shift));
    a.push_back(static_cast<uint8_t>(entries.size()));
    for (const HandEntry& e : entries) {
        a.push_back(e.present ? 0x00 : 0xFF);
        if (!e.present) continue;
        a.insert(a.end(), e.name.begin(), e.name.end());
        a.push_back(0);
        a.insert(a.end(), e.stream.begin(), e.stream.end());
    }
    return a;
}
