// Repairing a file from its recovery record: the damaged units in front of
// the record are rebuilt stripe by stripe, and the record is made afresh.
#pragma once

#include "archive/recovery_check.h"
#include "coder/byte_stream.h"

// Writes the file as it was when its record was made to out (not flushed),
// from the check c of src (an intact file as it is). beyond_repair, with nothing written, when c says
// it cannot be done; checksum_mismatch when the rebuilt bytes fail their
// checksums (bytes may have been written then: discard them); read_failed.
// std::bad_alloc passes through. Holds the rebuilt units and the new
// parity in memory.
[[nodiscard]] Status record_repair(const RecordSource& src, const RecordCheck& c, ByteOut& out);
