// XXH3-64 over bytes that arrive piece by piece: a member's bytes while it is
// packed or unpacked, an archive's while it is written.
#pragma once

#include <xxhash.h>

#include <cstddef>
#include <cstdint>

struct Checksum {
    XXH3_state_t* state = XXH3_createState();
    Checksum() { XXH3_64bits_reset(state); }
    Checksum(const Checksum&) = delete;
    Checksum& operator=(const Checksum&) = delete;
    ~Checksum() { XXH3_freeState(state); }
};

inline void checksum_reset(Checksum& c) { XXH3_64bits_reset(c.state); }
inline void checksum_add(Checksum& c, const void* data, size_t len) { XXH3_64bits_update(c.state, data, len); }
inline uint64_t checksum_value(const Checksum& c) { return XXH3_64bits_digest(c.state); }
// The same checksum of bytes that are all at hand: one block's.
inline uint64_t checksum_of(const void* data, size_t len) { return XXH3_64bits(data, len); }
