// The bytes after an archive's last entry read front to back (from a pipe):
// an index, a recovery record after it, both or neither.
#pragma once

#include <cstddef>
#include <vector>

#include "archive/recovery_layout.h"
#include "coder/byte_stream.h"

struct RecordTail {
    RecordSeen seen = RecordSeen::none;
    RecordLayout layout;  // when seen is not none
};

// Reads in to its end. front gets the bytes in front of a recovery record,
// or all of them without one, keeping at most `keep`: more bytes than that
// with no record to account for them are trailing_bytes. A record whose end
// is lost is known by its starting header copy (tail.seen damaged).
[[nodiscard]] Status read_record_tail(ByteIn& in, size_t keep, std::vector<uint8_t>& front, RecordTail& tail);
