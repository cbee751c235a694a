// An indexed archive's member decoded for salvage: each block from the coder
// state its record holds, checked on its own against the record (its length,
// where the next block starts, its checksum where the index has one). A
// block that fails is written as zero bytes of its recorded length, so the
// member comes out at full size with every loss in place.
#pragma once

#include <cstdint>

#include "archive/index_format.h"
#include "archive/index_load.h"
#include "archive/lost_ranges.h"
#include "archive/salvage_decoder.h"
#include "coder/byte_stream.h"
#include "common/progress.h"
#include "common/status.h"

struct IndexedMember {
    Status status = Status::ok;  // the first damage found; ok when none
    uint64_t written = 0;        // bytes written, zero fill included
    bool checksum_matched = false;  // the member's checksum over what was written
    // Every byte saved (the zero fill aside) passed a checksum: each block
    // its own, or the member's as a whole.
    bool verified = false;
};

// Decodes e's blocks from src, writes the member to out and its lost ranges
// to lost. Fails only to write (write_failed) or read (read_failed).
[[nodiscard]] Status salvage_indexed_member(SalvageDecoder& d, const IndexSource& src, const ArchiveIndex& index,
                                            const IndexEntry& e, ByteOut& out, LostRanges& lost,
                                            ProgressSink progress, IndexedMember& r);
