// An archive's entries: a presence byte (0x00, or 0xFF for a file that could
// not be read when packing) and, when present, the stored name.
#pragma once

#include <string>

#include "archive/index_format.h"
#include "coder/byte_stream.h"
#include "common/status.h"

constexpr uint8_t entry_present = 0x00;
constexpr uint8_t entry_absent = 0xFF;

struct ArchiveEntry {
    bool present = false;
    uint8_t presence = entry_absent;  // the byte as read: any value but entry_absent is present
    std::string name;                 // stored name, at most max_name_length characters kept
    Status name_read = Status::ok;    // ok or name_too_long
};

void write_entry(ByteOut& out, bool present, const std::string& name);

// Reads one entry's presence byte and name: ok, truncated when the archive
// ends first, or read_failed.
[[nodiscard]] Status read_entry(ByteIn& in, ArchiveEntry& e);

// After the last entry an intact archive has no bytes left: ok,
// trailing_bytes or read_failed.
[[nodiscard]] Status check_archive_end(ByteIn& in);

// Largest run of bytes after the last entry that is read as a possible index
// when the archive comes through a stream (a pipe) and cannot be read at an
// offset.
constexpr size_t max_streamed_index_bytes = size_t{64} << 20;

struct RecordTail;

// The end of an archive read as a stream: nothing (found false), or an
// index that starts right after the last entry or is whole at the end of
// the bytes (found true: index holds it, checked as index_parse checks it;
// the caller compares where it starts), or an index that fails a check
// (damaged_index, index.fault says which). A recovery record may follow
// either (said in record). Bytes that do not end with the index signature,
// or one a few bits from it, are trailing_bytes.
[[nodiscard]] Status read_streamed_index(ByteIn& in, ArchiveIndex& index, bool& found, RecordTail& record);

// The end of an archive read at offsets whose index was not found there:
// nothing, or a whole index that starts right after the last entry and has
// one record per entry, with a recovery record after it whose end was lost
// (said in record). Anything else is trailing_bytes.
[[nodiscard]] Status check_streamed_index(ByteIn& in, uint32_t member_count, RecordTail& record);
