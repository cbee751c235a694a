// The layout of a recovery record: how the bytes in front of it are cut into
// units and striped, and the header that says so (kept at both ends of the
// record). doc/recovery-format.md has it byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/status.h"

constexpr uint8_t record_signature[8] = {'!', 'v', 'o', 'r', 'b', 'r', 'e', 'c'};
constexpr size_t record_header_size = 56;
constexpr uint8_t record_version = 1;
constexpr uint32_t record_min_percent = 1;
constexpr uint32_t record_max_percent = 50;
// Units are whole 64-byte vectors for the erasure code's SIMD loops, and a
// few KiB at most, so that a burst is spread over many stripes.
constexpr uint32_t record_unit_step = 64;
constexpr uint32_t record_largest_planned_unit = 8192;
constexpr uint32_t record_max_unit = 1u << 20;  // the largest a reader takes
// Lost sectors are what scattered damage is made of: units smaller than one
// gain nothing against it.
constexpr uint32_t record_sector_size = 512;
// The size a record may take to spread its parity over more, smaller units
// (which scattered damage needs): its percent of the data and a 25th more.
constexpr uint32_t record_size_allowance = 25;
// A stripe's units are distinct rows of a code over GF(2^8): 255 at most.
constexpr uint32_t record_max_stripe_units = 255;
constexpr uint32_t record_max_stripe_data = 240;
// The table of unit checksums is cut into chunks of 64 entries, each with a
// checksum after it, and striped with parity of its own (an eighth and one
// more chunk per stripe): it is what tells damaged units from good ones, so
// it is kept better than the units are. Only damage that also reaches the
// units in front of the record needs it, and a burst that does cannot reach
// the table, so it is scattered damage it must outlast.
constexpr uint32_t record_chunk_entries = 64;
constexpr size_t record_entry_size = 4;
constexpr size_t record_chunk_payload = record_chunk_entries * record_entry_size;
constexpr size_t record_chunk_size = record_chunk_payload + record_entry_size;
constexpr uint32_t record_max_chunk_stripe = 200;
// Keeps every size and offset product far below 2^64.
constexpr uint64_t record_max_data_size = uint64_t{1} << 50;

struct RecordLayout {
    uint64_t data_size = 0;      // bytes in front of the record
    uint64_t data_checksum = 0;  // XXH3-64 of them
    uint32_t unit_size = 0;
    uint32_t stripes = 0;
    uint32_t data_units = 0;     // per stripe (k)
    uint32_t parity_units = 0;   // per stripe (m)
    uint32_t percent = 0;
    uint64_t record_size = 0;    // the whole record, both header copies included
};

// Pieces cut into stripes: data pieces first, parity after. A piece's
// stripe is its number modulo the stripe count, so neighbours in the file
// lie in different stripes; its row is its place within the stripe (data
// rows 0 to data - 1, parity rows after them).
struct StripeMap {
    uint64_t count = 0;  // data pieces
    uint32_t stripes = 1;
    uint32_t data = 1;    // rows of data per stripe
    uint32_t parity = 1;  // rows of parity per stripe
};
inline uint64_t map_parity_count(const StripeMap& m) { return uint64_t{m.stripes} * m.parity; }
inline uint32_t map_stripe(const StripeMap& m, uint64_t piece) { return static_cast<uint32_t>(piece % m.stripes); }
uint32_t map_row(const StripeMap& m, uint64_t piece);
// The piece at a stripe's row; count or more for a data row past the last
// piece (a virtual piece of zeros).
uint64_t map_piece(const StripeMap& m, uint32_t stripe, uint32_t row);

// The record's units, and the chunks of its table.
StripeMap record_units(const RecordLayout& l);
StripeMap record_chunks(const RecordLayout& l);

// Data units (the first one may be short) and parity units, in all.
uint64_t record_data_count(const RecordLayout& l);
uint64_t record_parity_count(const RecordLayout& l);
uint64_t record_table_bytes(const RecordLayout& l);
// The record's size as its geometry makes it.
uint64_t record_size_of(const RecordLayout& l);
// Where the parity units and the table start in the file.
inline uint64_t record_parity_offset(const RecordLayout& l) { return l.data_size + record_header_size; }
uint64_t record_table_offset(const RecordLayout& l);
// The longest burst of damage anywhere in the file that is always repaired.
uint64_t record_burst_bytes(const RecordLayout& l);

// The data is coded as if zeros stood in front of it up to whole units:
// the one short unit is the first, which a burst cannot run past, so no
// burst touches more units than it would in an even grid.
uint32_t record_lead(const RecordLayout& l);
// Where a unit's stored bytes start in the file, how many there are, and
// where they start among its unit_size bytes (zeros before them).
uint64_t unit_offset(const RecordLayout& l, uint64_t unit);
uint32_t unit_length(const RecordLayout& l, uint64_t unit);
inline uint32_t unit_skip(const RecordLayout& l, uint64_t unit) { return unit == 0 ? record_lead(l) : 0; }

// The geometry for data_size bytes at percent (record_min_percent to
// record_max_percent). Of the layouts whose burst reaches 84 % of the
// parity's share of the file (4 % at 5 percent): the one with the most
// parity units (the smallest units, for scattered damage) that keeps
// within the size allowance, else the smallest; the best burst for its
// size when none reaches. data_checksum is left 0.
RecordLayout record_plan(uint64_t data_size, uint32_t percent);

void record_header_write(const RecordLayout& l, uint8_t* out);
// Checks every field of the record_header_size bytes at in: ok, or
// damaged_record with the layout untouched.
[[nodiscard]] Status record_header_parse(const uint8_t* in, RecordLayout& l);

// Little-endian fields of the record.
inline uint64_t record_get_le(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; i--) v = v << 8 | p[i];
    return v;
}
inline void record_put_le(uint8_t* p, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A unit's table entry: XXH3-64 of its unit_size bytes (zeros in front of a
// short first unit) seeded with its number, so a unit moved elsewhere fails too;
// the low 32 bits.
uint32_t record_unit_checksum(const uint8_t* unit, size_t len, uint64_t number);
// The check after each chunk of table entries, seeded with the chunk's number.
uint32_t record_chunk_checksum(const uint8_t* entries, size_t len, uint64_t chunk);

// What a reader found at the end of an archive.
enum class RecordSeen : uint8_t {
    none,     // no recovery record
    intact,   // both header copies check
    damaged,  // one header copy is lost: vorb r rebuilds it
};
