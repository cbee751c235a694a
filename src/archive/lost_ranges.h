// The bytes of a member that salvage could not bring back, as ranges of the
// member: lost blocks next to each other are one range.
#pragma once

#include <cstdint>

// A range's length when the member's size is unknown: from its offset on,
// everything is lost.
constexpr uint64_t lost_to_end = UINT64_MAX;

// Where each range goes once it is closed.
struct LostSink {
    void (*fn)(void* ctx, uint64_t offset, uint64_t length) = nullptr;
    void* ctx = nullptr;
};

struct LostRanges {
    LostSink sink;
    uint64_t offset = 0;  // of the range still open
    uint64_t length = 0;  // 0: none open
    uint64_t total = 0;   // bytes lost, known lengths only
    uint32_t count = 0;   // ranges closed
    bool to_end = false;  // a range of unknown length was added
};

// Adds length bytes lost at offset, at or after the end of the last range
// added; a range that starts where the open one ends joins it.
void lost_add(LostRanges& r, uint64_t offset, uint64_t length);

// Hands the open range to the sink; the member's losses are then complete.
void lost_close(LostRanges& r);
