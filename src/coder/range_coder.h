// Carry-less range coder. A written byte is never changed again: when the
// interval gets narrow while straddling a top-byte boundary, part of it is
// given up instead of propagating a carry.
#pragma once

#include <cstdint>

#include "coder/byte_stream.h"

enum : uint8_t { rc_mode_pack = 1, rc_mode_unpack = 2 };

// The narrowest range between steps.
constexpr uint32_t rc_min_range = 0x4000;

// True when a step's interval needs nothing moved: its ends differ in the top
// byte and the range is wide enough for the next step.
inline bool rc_wide(uint32_t low, uint32_t range) {
    return ((low ^ (low + range)) >= (1u << 24)) & (range >= rc_min_range);
}

struct RangeCoder {
    uint32_t low = 0;
    uint32_t range = 0xFFFFFFFFu;  // >= rc_min_range outside a step
    uint32_t code = 0;             // unpacking: the last four bytes read
    uint8_t mode = rc_mode_pack;   // anything but rc_mode_unpack writes
    ByteOut* out = nullptr;        // packing sink
    ByteIn* in = nullptr;          // unpacking source
};

void rc_start(RangeCoder& rc);


// Ends a member's stream: the four bytes of low.
void rc_flush(RangeCoder& rc);

// Starts decoding a member: takes its first four bytes.
void rc_load(RangeCoder& rc);

// Moves the settled top bytes and restores the range; the rare part of a step.
void rc_normalize(RangeCoder& rc, uint32_t low, uint32_t range);

inline void rc_put_byte(RangeCoder& rc) { put_byte(*rc.out, static_cast<uint8_t>(rc.low >> 24)); }

// The rare part of a packing step, its usual case here: one settled top byte
// goes out and the range is wide again. Anything more is rc_normalize's.
inline void rc_settle(RangeCoder& rc, uint32_t low, uint32_t range) {
    if ((low ^ (low + range)) < (1u << 24)) {
        put_byte(*rc.out, static_cast<uint8_t>(low >> 24));
        low <<= 8;
        range <<= 8;
        if (rc_wide(low, range)) {
            rc.low = low;
            rc.range = range;
            return;
        }
    }
    rc_normalize(rc, low, range);
}

// A read past the end ORs in -1 (all ones), as the format defines; the stream
// records the overread so the caller can report a truncated archive.
inline void rc_get_byte(RangeCoder& rc) {
    rc.code = (rc.code << 8) | static_cast<uint32_t>(get_byte(*rc.in));
}
