// The index an archive may carry after its last entry: checksums of every
// member and of the archive, each member's size, place and file attributes,
// and the coder state at every block, so members can be listed without
// decoding and one member decoded on many threads. Readers of the plain
// format never look past the last entry. Byte layout: doc/index-format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "coder/status.h"
#include "dc/block_resume.h"

constexpr uint8_t index_signature[8] = {'!', 'v', 'o', 'r', 'b', 'i', 'd', 'x'};
constexpr uint32_t index_version = 1;  // readers refuse other versions
constexpr size_t index_head_size = 8;
constexpr size_t index_member_record_size = 60;
constexpr size_t index_block_record_size = 20;
constexpr size_t index_footer_size = 40;
constexpr size_t index_min_size = index_head_size + index_footer_size;
constexpr uint8_t index_kind_present = 0x00;  // the entry's presence byte, as in the archive
constexpr uint8_t index_kind_absent = 0xFF;
constexpr uint8_t index_flag_attributes = 0x01;  // mode and mtime were recorded
constexpr uint16_t index_mode_mask = 07777;      // what the mode field may hold
constexpr uint32_t nanoseconds_per_second = 1000000000;

struct IndexBlock {
    CoderState start;     // the coder before the block
    uint32_t length = 0;  // bytes of the block; 0 for the end marker, which closes every member
};

struct IndexEntry {
    bool present = false;
    std::string absent_name;  // absent entries: the name that could not be packed
    uint8_t flags = 0;
    uint16_t mode = 0;  // permission bits, valid with index_flag_attributes
    int64_t mtime_sec = 0;
    uint32_t mtime_nsec = 0;
    uint64_t size = 0;           // unpacked bytes
    uint64_t stream_offset = 0;  // archive offset of the first byte of the block stream
    uint64_t stream_length = 0;
    uint64_t checksum = 0;        // XXH3-64 of the unpacked bytes
    uint64_t entry_checksum = 0;  // XXH3-64 of the entry in front of the stream: presence byte, name, NUL
    uint32_t first_block = 0;  // this member's records in ArchiveIndex::blocks
    uint32_t block_count = 0;  // the end marker's record included
};

struct ArchiveIndex {
    uint32_t block_size = 0;
    std::vector<IndexEntry> entries;  // one per archive entry, in archive order
    std::vector<IndexBlock> blocks;
    uint64_t archive_checksum = 0;  // XXH3-64 of every archive byte in front of the index
    uint64_t start = 0;             // archive offset of the index (set by index_parse)
    const char* fault = nullptr;    // after a failed parse: which check failed
};

// The entry checksum of a present member: its presence byte, name and NUL.
uint64_t index_entry_checksum(uint8_t presence, const std::string& name);

// Appends the index bytes for `index` to out; checksums of the index itself
// are computed here. The records must be what the packer wrote.
void index_build(const ArchiveIndex& index, std::vector<uint8_t>& out);

// Whether the last index_footer_size bytes of an archive end with the index
// signature. Without it the archive is plain.
bool index_footer_found(const uint8_t* footer);

// Checks the footer (the archive's last index_footer_size bytes, signature
// found) of an archive of archive_size bytes and gives the index length, so
// the caller can read the whole index.
[[nodiscard]] Status index_footer_parse(const uint8_t* footer, uint64_t archive_size, uint64_t& index_length,
                                        const char*& fault);

// Parses and checks the whole index (the last len bytes of an archive of
// archive_size bytes): footer, checksum, every count, offset, block record
// and name. Entries are only checked against each other and the archive's
// size; the reader compares them with the entries it reads.
[[nodiscard]] Status index_parse(const uint8_t* bytes, size_t len, uint64_t archive_size, ArchiveIndex& index);
