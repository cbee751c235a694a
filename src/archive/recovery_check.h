// Finding a file's recovery record and checking every unit against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/recovery_layout.h"

struct RecordSource {
    // Up to len bytes at offset; fewer only at the end, negative on an error.
    ptrdiff_t (*read_at)(void* ctx, void* buf, size_t len, uint64_t offset) = nullptr;
    void* ctx = nullptr;
    uint64_t size = 0;  // of the file
};

enum class UnitState : uint8_t {
    good,
    damaged,  // fails its checksum, or the file ends before it
    unknown,  // its checksum was lost with its table chunk
};

struct RecordCheck {
    bool found = false;
    RecordLayout layout;
    bool data_intact = false;      // the bytes in front of the record match its checksum
    std::vector<UnitState> units;  // data units, then parity units
    std::vector<uint32_t> sums;    // their table entries, where known
    uint64_t damaged_data = 0;     // data units not good (0 when data_intact)
    uint64_t damaged_record = 0;   // parity units, table chunks and header copies lost, bytes after the record
    uint64_t unknown = 0;          // units of lost table chunks
    uint32_t stripes_beyond = 0;   // stripes with more units lost than parity units
};

// The record's header at the very end of the file. seen is intact, or
// damaged when its copy at the record's start is lost; none without one.
[[nodiscard]] Status record_find_at_end(const RecordSource& src, RecordLayout& l, RecordSeen& seen);

// Reads the whole file. Without a header at the end, one is looked for by
// its signature (the tail may be cut or damaged). found is false when there
// is no record; fails only with read_failed. std::bad_alloc passes through.
[[nodiscard]] Status record_check(const RecordSource& src, RecordCheck& c);

// Whether the file is exactly as the record was made over it.
bool record_intact(const RecordCheck& c);
// Whether a repair can give the file back whole: every stripe with damage
// in front of the record keeps enough units.
bool record_repairable(const RecordCheck& c);
