// Archives as bytes in memory: packed by the library, or laid out by hand.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The block stream the writer gives for one member's content (archives of
// members named m0, m1, ...: fuzz_round_trip::pack).
Bytes member_stream(const Bytes& content, uint32_t block_size = 4194304);

// A hand-laid archive: header, then each entry with its stream as given.
struct HandEntry {
    std::string name;
    Bytes stream;
    bool present = true;
};
Bytes archive_of(const std::vector<HandEntry>& entries, uint32_t block_size = 4194304);
// An empty member's stream: the end marker and the coder's flush.
inline const Bytes empty_stream = {0, 0, 0, 0};
