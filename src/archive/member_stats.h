// What packing or decoding one member took.
#pragma once

#include <cstdint>

struct MemberStats {
    uint64_t unpacked = 0;  // bytes of the member
    uint64_t packed = 0;    // bytes of its block stream
    uint32_t blocks = 0;    // blocks, the end marker included
};
