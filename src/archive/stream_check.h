// Checking an indexed archive read as a stream: its index comes after the
// members, so what the members were is noted as they pass (a few numbers per
// entry, and a checksum of every byte read) and compared with the index
// once it arrives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/index_format.h"
#include "coder/byte_stream.h"
#include "archive/member_stats.h"

struct StreamedEntry {
    bool present = false;
    std::string name;             // as stored, for the messages
    uint64_t entry_checksum = 0;  // of the presence byte, name and NUL as read
    uint64_t stream_offset = 0;
    MemberStats stats;            // sizes and blocks as decoded
    bool unpacked = false;        // the member's bytes were made: checksum holds their checksum
    uint64_t checksum = 0;
};

struct StreamCheck {
    std::vector<StreamedEntry> entries;
    Checksum archive;  // every byte taken from the stream so far
    ByteIn* in = nullptr;
    // The stream's own refill, called through the hashing one.
    size_t (*refill)(void* ctx, const uint8_t** data) = nullptr;
    void* refill_ctx = nullptr;
};

// From now on every byte taken from in is added to the archive checksum.
void stream_check_start(StreamCheck& c, ByteIn& in);
// The archive checksum then covers exactly the bytes in front of in's read
// position; bytes read later are not added.
void stream_check_stop(StreamCheck& c);

// What differs between the entries read and a valid index found after them
// (a static text; null when nothing does), and which entry (-1: the
// archive's bytes as a whole). The index has one record per entry read.
const char* stream_check_compare(const StreamCheck& c, const ArchiveIndex& index, int& entry);
