#include "archive/recovery_layout.h"

#include <xxhash.h>

#include <cstring>

namespace {

// Header fields: offsets in the record_header_size bytes.
constexpr size_t at_data_size = 0, at_data_checksum = 8, at_unit_size = 16, at_stripes = 20, at_data_units = 24,
                 at_parity_units = 26, at_percent = 28, at_version = 29, at_reserved = 30, at_record_size = 32,
                 at_checksum = 40, at_signature = 48;
uint64_t ceil_div(uint64_t a, uint64_t b) { return a / b + (a % b != 0); }

uint32_t parity_for(uint32_t k, uint32_t percent) {
    return static_cast<uint32_t>(ceil_div(uint64_t{k} * percent, 100));
}

// The widest stripe whose parity still fits the code's 255 rows.
uint32_t widest_stripe(uint32_t percent) {
    uint32_t k = record_max_stripe_data;
    while (k + parity_for(k, percent) > record_max_stripe_units) k--;
    return k;
}

uint64_t header_checksum(const uint8_t* h) { return XXH3_64bits(h, at_checksum); }

// For unit size u: the stripe count that needs the fewest parity units, the
// fewest stripes among equals: a burst spreads over stripes x parity units
// either way, but scattered damage is evened out best by wide stripes. Each
// width from the widest down to half of it gives the fewest stripes that
// width needs; any other stripe count needs at least as much parity as one
// of those.
RecordLayout plan_for_unit(uint64_t data_size, uint32_t percent, uint32_t u) {
    RecordLayout l;
    l.data_size = data_size;
    l.unit_size = u;
    l.percent = percent;
    const uint64_t n = ceil_div(data_size, u);
    const uint32_t widest = widest_stripe(percent);
    uint64_t best = UINT64_MAX;
    for (uint32_t width = widest; width >= 1 && width * 2 >= widest; width--) {
        const uint64_t s = ceil_div(n, width);
        const uint32_t k = static_cast<uint32_t>(ceil_div(n, s));
        const uint64_t parity = s * parity_for(k, percent);
        if (parity >= best) continue;
        best = parity;
        l.stripes = static_cast<uint32_t>(s);
        l.data_units = k;
        l.parity_units = parity_for(k, percent);
    }
    l.record_size = record_size_of(l);
    return l;
}

}  // namespace

uint32_t map_row(const StripeMap& m, uint64_t piece) {
    return static_cast<uint32_t>(piece < m.count ? piece / m.stripes : m.data + (piece - m.count) / m.stripes);
}

uint64_t map_piece(const StripeMap& m, uint32_t stripe, uint32_t row) {
    if (row < m.data) return uint64_t{row} * m.stripes + stripe;
    // Parity piece q belongs to stripe (count + q) mod stripes.
    const uint64_t first = (stripe + m.stripes - m.count % m.stripes) % m.stripes;
    return m.count + uint64_t{row - m.data} * m.stripes + first;
}

StripeMap record_units(const RecordLayout& l) {
    return StripeMap{record_data_count(l), l.stripes, l.data_units, l.parity_units};
}

StripeMap record_chunks(const RecordLayout& l) {
    StripeMap m;
    m.count = ceil_div(record_data_count(l) + record_parity_count(l), record_chunk_entries);
    m.stripes = static_cast<uint32_t>(ceil_div(m.count, record_max_chunk_stripe));
    m.data = static_cast<uint32_t>(ceil_div(m.count, m.stripes));
    m.parity = m.data / 8 + 1;
    return m;
}

uint64_t record_data_count(const RecordLayout& l) { return ceil_div(l.data_size, l.unit_size); }

uint64_t record_parity_count(const RecordLayout& l) { return uint64_t{l.stripes} * l.parity_units; }

uint64_t record_table_bytes(const RecordLayout& l) {
    const StripeMap m = record_chunks(l);
    return (m.count + map_parity_count(m)) * record_chunk_size;
}

uint64_t record_size_of(const RecordLayout& l) {
    return 2 * record_header_size + record_parity_count(l) * l.unit_size + record_table_bytes(l);
}

uint64_t record_table_offset(const RecordLayout& l) {
    return record_parity_offset(l) + record_parity_count(l) * l.unit_size;
}

uint64_t record_burst_bytes(const RecordLayout& l) {
    // Every unit but the first (at the file's start) is whole, and the
    // header between data and parity only keeps units apart: a burst of b
    // bytes touches at most floor((b - 2) / u) + 2 units, consecutive in
    // stripe order, so no stripe loses more than its parity count while
    // that is at most stripes x parity.
    return (record_parity_count(l) - 1) * l.unit_size + 1;
}

uint32_t record_lead(const RecordLayout& l) {
    return static_cast<uint32_t>(record_data_count(l) * l.unit_size - l.data_size);
}

uint64_t unit_offset(const RecordLayout& l, uint64_t unit) {
    const uint64_t n = record_data_count(l);
    if (unit >= n) return record_parity_offset(l) + (unit - n) * l.unit_size;
    return unit == 0 ? 0 : unit * l.unit_size - record_lead(l);
}

uint32_t unit_length(const RecordLayout& l, uint64_t unit) { return l.unit_size - unit_skip(l, unit); }

RecordLayout record_plan(uint64_t data_size, uint32_t percent) {
    using Wide = unsigned __int128;  // products of two sizes
    // 0: the burst falls short; 1: it reaches; 2: and the record keeps
    // within the allowance with units no smaller than a sector.
    auto grade = [&](const RecordLayout& l) {
        const uint64_t file = data_size + l.record_size;
        // burst / file >= 0.84 x percent / (100 + percent), in integers.
        if (Wide{record_burst_bytes(l)} * (100 + percent) * 100 < Wide{84} * percent * file) return 0;
        const bool fits = l.unit_size >= record_sector_size &&
                          Wide{l.record_size} * 100 * record_size_allowance <=
                              Wide{data_size} * percent * (record_size_allowance + 1);
        return fits ? 2 : 1;
    };
    RecordLayout best;
    int best_grade = -1;
    for (uint32_t u = record_unit_step; u <= record_largest_planned_unit; u += record_unit_step) {
        const RecordLayout l = plan_for_unit(data_size, percent, u);
        const int g = grade(l);
        bool better = g > best_grade;
        if (g == best_grade && g == 2)
            better = record_parity_count(l) > record_parity_count(best) ||
                     (record_parity_count(l) == record_parity_count(best) && l.record_size < best.record_size);
        if (g == best_grade && g == 1) better = l.record_size < best.record_size;
        if (g == best_grade && g == 0)
            better = Wide{record_burst_bytes(l)} * (data_size + best.record_size) >
                     Wide{record_burst_bytes(best)} * (data_size + l.record_size);
        if (!better) continue;
        best = l;
        best_grade = g;
    }
    return best;
}

void record_header_write(const RecordLayout& l, uint8_t* out) {
    std::memset(out, 0, record_header_size);
    record_put_le(out + at_data_size, l.data_size, 8);
    record_put_le(out + at_data_checksum, l.data_checksum, 8);
    record_put_le(out + at_unit_size, l.unit_size, 4);
    record_put_le(out + at_stripes, l.stripes, 4);
    record_put_le(out + at_data_units, l.data_units, 2);
    record_put_le(out + at_parity_units, l.parity_units, 2);
    out[at_percent] = static_cast<uint8_t>(l.percent);
    out[at_version] = record_version;
    record_put_le(out + at_record_size, l.record_size, 8);
    record_put_le(out + at_checksum, header_checksum(out), 8);
    std::memcpy(out + at_signature, record_signature, sizeof record_signature);
}

Status record_header_parse(const uint8_t* in, RecordLayout& out) {
    VORB_CHECK(std::memcmp(in + at_signature, record_signature, sizeof record_signature) == 0, Status::damaged_record);
    VORB_CHECK(record_get_le(in + at_checksum, 8) == header_checksum(in), Status::damaged_record);
    VORB_CHECK(in[at_version] == record_version && record_get_le(in + at_reserved, 2) == 0, Status::damaged_record);
    RecordLayout l;
    l.data_size = record_get_le(in + at_data_size, 8);
    l.data_checksum = record_get_le(in + at_data_checksum, 8);
    l.unit_size = static_cast<uint32_t>(record_get_le(in + at_unit_size, 4));
    l.stripes = static_cast<uint32_t>(record_get_le(in + at_stripes, 4));
    l.data_units = static_cast<uint32_t>(record_get_le(in + at_data_units, 2));
    l.parity_units = static_cast<uint32_t>(record_get_le(in + at_parity_units, 2));
    l.percent = in[at_percent];
    l.record_size = record_get_le(in + at_record_size, 8);
    VORB_CHECK(l.percent >= record_min_percent && l.percent <= record_max_percent, Status::damaged_record);
    VORB_CHECK(l.unit_size >= record_unit_step && l.unit_size <= record_max_unit &&
                   l.unit_size % record_unit_step == 0,
               Status::damaged_record);
    VORB_CHECK(l.data_size >= 1 && l.data_size <= record_max_data_size, Status::damaged_record);
    // The geometry must be the one its unit size and stripe count give.
    const uint64_t n = record_data_count(l);
    VORB_CHECK(l.stripes >= 1 && l.stripes <= n, Status::damaged_record);
    VORB_CHECK(l.data_units == ceil_div(n, l.stripes), Status::damaged_record);
    VORB_CHECK(l.parity_units == parity_for(l.data_units, l.percent), Status::damaged_record);
    VORB_CHECK(l.data_units + l.parity_units <= record_max_stripe_units, Status::damaged_record);
    VORB_CHECK(l.record_size == record_size_of(l), Status::damaged_record);
    out = l;
    return Status::ok;
}

uint32_t record_unit_checksum(const uint8_t* unit, size_t len, uint64_t number) {
    return static_cast<uint32_t>(XXH3_64bits_withSeed(unit, len, number));
}

uint32_t record_chunk_checksum(const uint8_t* entries, size_t len, uint64_t chunk) {
    return static_cast<uint32_t>(XXH3_64bits_withSeed(entries, len, chunk));
}
