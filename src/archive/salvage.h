// Salvage: every member of a damaged archive unpacked as far as the damage
// allows, with exactly what was lost. With a valid index every block is
// decoded on its own from its record and checked, and a damaged block costs
// only its own bytes; without one (or with a damaged index) entries are read
// in order, and after a member fails the next entry is searched for.
#pragma once

#include <cstdint>
#include <string>

#include "archive/entry_search.h"
#include "archive/header.h"
#include "archive/index_format.h"
#include "archive/index_load.h"
#include "archive/lost_ranges.h"
#include "archive/read_at_stream.h"
#include "archive/salvage_decoder.h"
#include "coder/byte_stream.h"
#include "common/progress.h"
#include "common/status.h"

struct SalvageEntry {
    bool present = false;
    std::string name;           // stored name, or the placeholder of a damaged one
    bool name_damaged = false;  // its entry checksum failed: name is a placeholder
    bool found_by_search = false;
    uint32_t number = 0;        // entry number from 1; 0 when a search leaves it unknown
    uint64_t offset = 0;        // archive offset of the presence byte
    uint64_t skipped_from = 0;  // found by searching: where the bytes passed over begin
    uint64_t stream_offset = 0;
    const IndexEntry* record = nullptr;  // its index record, when read through one
};

struct SalvageOutcome {
    Status status = Status::ok;  // ok: the member came back whole; else the first damage
    uint64_t written = 0;        // bytes written, zero fill included
    uint64_t lost = 0;           // bytes known lost (zero-filled)
    bool rest_lost = false;      // plain: everything after written is lost, its length unknown
    bool verified = false;       // every byte saved (the zero fill aside) passed a checksum
};

struct Salvage {
    IndexSource src;
    ReadAtStream stream;
    SalvageDecoder dec;
    bool header_damaged = false;
    ArchiveIndex index;
    IndexLookup lookup = IndexLookup::none;
    uint32_t block_size = 0;
    unsigned announced = 0;     // entries the header (or the index) announces; max_members when unknown
    SearchArea area;
    SearchState search;
    // The walk through the entries.
    uint64_t pos = header_size;  // where the next entry starts, or where a search for it starts
    bool must_search = false;    // the bytes at pos are damaged: search from there
    uint64_t damage_from = 0;    // where the bytes a search passes over begin
    unsigned entries_seen = 0;
    bool counted = true;  // no search has passed bytes over, in which entries may have been lost
    SalvageEntry current;
    bool pending = false;  // current is present and not yet unpacked
    bool ended = false;
    // After the last entry: where the bytes no entry was found in begin, and
    // whether the search gave up there.
    bool gave_up = false;
    uint64_t unread_from = 0;
};

// Reads the header and the index of the archive src and allocates the
// decoder within memory_limit (0: none). A damaged header or index is no
// failure: it only changes how the archive is read. Fails with read_failed
// or out_of_memory.
[[nodiscard]] Status salvage_open(Salvage& s, const IndexSource& src, uint64_t memory_limit);

bool salvage_indexed(const Salvage& s);

// Steps to the next entry (a pending member is decoded to nowhere first):
// ok with s.current filled in, end after the last, read_failed.
[[nodiscard]] Status salvage_next(Salvage& s, ProgressSink progress);

// Unpacks the current member to out, its lost ranges to lost. Fails with
// bad_parameter (no member pending), read_failed or write_failed; damage is
// in r.
[[nodiscard]] Status salvage_unpack(Salvage& s, ByteOut& out, LostSink lost, ProgressSink progress,
                                    SalvageOutcome& r);
