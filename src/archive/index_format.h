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

#include "common/status.h"
#include "dc/block_resume.h"

constexpr uint8_t index_signature[8] = {'!', 'v', 'o', 'r', 'b', 'i', 'd', 'x'};
// Version 1 has no block checksums and no nodes; it is still read. Readers
// refuse other versions.
constexpr uint32_t index_version_1 = 1;
constexpr uint32_t index_version_2 = 2;  // what the writer writes
constexpr size_t index_head_size = 8;
constexpr size_t index_member_record_size = 60;
constexpr size_t index_block_record_size_v1 = 20;
constexpr size_t index_block_record_size_v2 = 28;  // and the block's checksum
constexpr size_t index_footer_size = 40;
constexpr size_t index_min_size = index_head_size + index_footer_size;
constexpr uint8_t index_kind_present = 0x00;  // the entry's presence byte, as in the archive
constexpr uint8_t index_kind_absent = 0xFF;
constexpr uint8_t index_flag_attributes = 0x01;  // mode and mtime were recorded
constexpr uint16_t index_mode_mask = 07777;      // what the mode field may hold
constexpr uint32_t nanoseconds_per_second = 1000000000;
constexpr uint8_t index_node_folder = 0x01;
constexpr uint8_t index_node_link = 0x02;
constexpr size_t index_node_record_size = 20;  // in front of the path and target bytes
constexpr size_t index_node_count_size = 4;
constexpr size_t index_max_link_length = 4095;  // a link's text, as the system's path limit less its NUL

struct IndexBlock {
    CoderState start;       // the coder before the block
    uint32_t length = 0;    // bytes of the block; 0 for the end marker, which closes every member
    uint64_t checksum = 0;  // version 2: XXH3-64 of the block's bytes; 0 for the end marker
};

// A folder or symbolic link of a packed tree: a record with no member.
struct IndexNode {
    uint8_t kind = 0;  // index_node_folder or index_node_link
    uint8_t flags = 0;  // index_flag_attributes: mode and mtime were recorded
    uint16_t mode = 0;
    int64_t mtime_sec = 0;
    uint32_t mtime_nsec = 0;
    std::string path;    // 1 to max_name_length bytes, no NUL
    std::string target;  // a link's text: 1 to index_max_link_length bytes, no NUL; empty for a folder
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
    uint32_t version = index_version_2;
    uint32_t block_size = 0;
    std::vector<IndexEntry> entries;  // one per archive entry, in archive order
    std::vector<IndexBlock> blocks;
    std::vector<IndexNode> nodes;  // version 2 only
    uint64_t archive_checksum = 0;  // XXH3-64 of every archive byte in front of the index
    uint64_t start = 0;             // archive offset of the index (set by index_parse)
    const char* fault = nullptr;    // after a failed parse: which check failed
};

// Bytes of one block record in an index of this version.
inline size_t index_block_record_size(uint32_t version) {
    return version == index_version_1 ? index_block_record_size_v1 : index_block_record_size_v2;
}

// The entry checksum of a present member: its presence byte, name and NUL.
uint64_t index_entry_checksum(uint8_t presence, const std::string& name);

// Appends the index bytes for `index`, in its version, to out; checksums of
// the index itself are computed here. The records must be what the packer
// wrote (nodes checked as index_node_fault does).
void index_build(const ArchiveIndex& index, std::vector<uint8_t>& out);

// Whether the last index_footer_size bytes of an archive end with the index
// signature. Without it the archive is plain.
bool index_footer_found(const uint8_t* footer);
// The same, or a footer whose signature lost a few bits while its version
// and reserved fields hold: an index, damaged, not bytes after the archive.
bool index_footer_near(const uint8_t* footer);

// Checks the footer (the archive's last index_footer_size bytes, signature
// near) of an archive of archive_size bytes and gives the index length, so
// the caller can read the whole index.
[[nodiscard]] Status index_footer_parse(const uint8_t* footer, uint64_t archive_size, uint64_t& index_length,
                                        const char*& fault);

// Parses and checks the whole index (the last len bytes of an archive of
// archive_size bytes): footer, checksum, every count, offset, block record
// and name. Entries are only checked against each other and the archive's
// size; the reader compares them with the entries it reads.
[[nodiscard]] Status index_parse(const uint8_t* bytes, size_t len, uint64_t archive_size, ArchiveIndex& index);
