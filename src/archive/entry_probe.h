// Telling a plain archive's entry from the bytes around it, cheaply: what the
// search after damage asks of every position before it decodes anything
// there in earnest. Every answer is a guess that later decoding confirms.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coder/model.h"

// The fewest bytes a present entry takes: its presence byte, a one-byte name
// and its NUL, and an empty member's four-byte stream.
constexpr size_t min_present_entry_bytes = 1 + 2 + 4;

// The length of the NUL-ended name at p (avail bytes there) when it is one a
// packer stores: 1 to 198 bytes, none of them a control character. 0 when
// it is not, or when its NUL is not within avail bytes.
size_t plausible_name_length(const uint8_t* p, size_t avail);

enum class StreamHead {
    implausible,  // no packer writes these first numbers
    plausible,    // a first block whose length and symbol set look right
    empty,        // the end marker at once, and the coder's last four bytes match it
    cut,          // the bytes ran out before the first numbers were read
};

// Decodes the first numbers of the stream in bytes[0, len) from a fresh
// coder: the first block's length (at most block_size) and its symbol set,
// whose values a packer lists in ascending order, each with a different
// first position inside the block and one of them at 0. Reads at most a few
// kilobytes. nc's models and coder are overwritten.
StreamHead probe_stream_head(NumberCoder& nc, const uint8_t* bytes, size_t len, uint32_t block_size);

// Whether a coder that has just decoded a member's end marker stands where
// the packer's did: the four bytes it holds are the ones rc_flush wrote for
// the packer's interval, so they equal its low.
inline bool stream_end_matches(const RangeCoder& rc) { return rc.code == rc.low; }
