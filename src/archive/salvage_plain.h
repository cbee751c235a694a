// A plain archive's member decoded for salvage: its blocks in order, each
// written once its inverse is done, until the end marker or the first
// failure. A plain archive has no checksums, so what comes out before a
// failure cannot be verified; where the decoding stood tells where the next
// entry can start at the earliest.
#pragma once

#include <cstdint>

#include "archive/salvage_decoder.h"
#include "coder/byte_stream.h"
#include "common/progress.h"
#include "common/status.h"

struct PlainMember {
    Status status = Status::ok;  // ok, or the first failure
    uint64_t saved = 0;          // bytes written: the blocks before the failure
    uint32_t blocks = 0;         // of them, and the end marker when reached
    // Archive offset the next entry starts at or after: the stream's end
    // once the end marker is decoded, else where the last block written
    // ended (an intact stream goes on at least that far).
    uint64_t next_entry_from = 0;
    // The same bound before the last block written: where a search starts
    // when the end is in doubt, and that block with it.
    uint64_t last_block_from = 0;
    // The end marker was decoded and the four bytes after it are those the
    // packer's coder flushed there; false leaves the member's end in doubt.
    bool end_matches = false;
};

// Decodes the stream starting at in's position. Fails only to write
// (write_failed), read (read_failed) or allocate (out_of_memory); damage is
// in r.status.
[[nodiscard]] Status salvage_plain_member(SalvageDecoder& d, ByteIn& in, ByteOut& out, ProgressSink progress,
                                          PlainMember& r);

// Decodes the numbers of a stream's first block at in's position, the second
// too when the first is short, and inverts the first: whether they prove the
// bytes are a member's stream. A full first block (full_block says which
// lengths count as full) that inverts does; so does a short one followed by
// the end marker with the coder's last bytes matching.
[[nodiscard]] bool stream_proven(SalvageDecoder& d, ByteIn& in, bool (*full_block)(uint32_t n, uint32_t block_size));
