#include "archive/recovery_check.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "archive/checksum.h"
#include "archive/erasure_code.h"

namespace {

constexpr size_t read_chunk_bytes = size_t{1} << 20;

// Up to len bytes at offset, fewer only where the file ends.
Status read_some(const RecordSource& src, uint8_t* buf, size_t len, uint64_t offset, size_t& got) {
    got = 0;
    if (offset >= src.size) return Status::ok;
    len = static_cast<size_t>(std::min<uint64_t>(len, src.size - offset));
    while (got < len) {
        const ptrdiff_t n = src.read_at(src.ctx, buf + got, len - got, offset + got);
        VORB_CHECK(n >= 0, Status::read_failed);
        if (n == 0) break;
        got += std::min(static_cast<size_t>(n), len - got);
    }
    return Status::ok;
}

// A header copy at offset: parsed into l when it checks.
Status header_at(const RecordSource& src, uint64_t offset, RecordLayout& l, bool& ok) {
    uint8_t h[record_header_size];
    size_t got = 0;
    VORB_TRY(read_some(src, h, sizeof h, offset, got));
    ok = got == sizeof h && record_header_parse(h, l) == Status::ok;
    return Status::ok;
}

// Whether the copy at offset is the very header of layout l.
Status copy_matches(const RecordSource& src, const RecordLayout& l, uint64_t offset, bool& same) {
    RecordLayout other;
    VORB_TRY(header_at(src, offset, other, same));
    uint8_t a[record_header_size], b[record_header_size];
    record_header_write(l, a);
    record_header_write(other, b);
    same = same && std::memcmp(a, b, sizeof a) == 0;
    return Status::ok;
}

// A header found at offset belongs where it stands: at the record's start
// or at its end.
bool placed_right(const RecordLayout& l, uint64_t offset) {
    return offset == l.data_size || offset + record_header_size == l.data_size + l.record_size;
}

// Looks for a header copy by its signature, from the end of the file back.
Status scan_for_header(const RecordSource& src, RecordLayout& l, bool& found) {
    found = false;
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<uint64_t>(read_chunk_bytes, src.size)));
    const std::string_view sig(reinterpret_cast<const char*>(record_signature), sizeof record_signature);
    uint64_t end = src.size;
    while (end >= record_header_size) {
        const uint64_t begin = end > buf.size() ? end - buf.size() : 0;
        size_t got = 0;
        VORB_TRY(read_some(src, buf.data(), static_cast<size_t>(end - begin), begin, got));
        if (got != end - begin) return Status::ok;  // the file is shorter than its size
        const std::string_view window(reinterpret_cast<const char*>(buf.data()), got);
        // The copy nearest the end wins.
        for (size_t from = window.size(); from > 0;) {
            const size_t at = window.rfind(sig, from - 1);
            if (at == std::string_view::npos || at + sig.size() < record_header_size) break;
            from = at;
            const size_t start = at + sig.size() - record_header_size;
            RecordLayout cand;
            if (record_header_parse(buf.data() + start, cand) == Status::ok && placed_right(cand, begin + start)) {
                l = cand;
                found = true;
                return Status::ok;
            }
        }
        if (begin == 0) break;
        // Windows overlap so that a copy across their border is whole in one.
        end = begin + record_header_size - 1;
    }
    return Status::ok;
}

// Rebuilds the lost data chunks of every table stripe that can be; pieces
// holds every chunk's payload, good says which passed their checksum.
void rebuild_chunks(const StripeMap& m, std::vector<uint8_t>& pieces, std::vector<bool>& good) {
    ErasureCode ec;
    erasure_code_init(ec, static_cast<int>(m.data), static_cast<int>(m.parity));
    const std::vector<uint8_t> zeros(record_chunk_payload, 0);
    for (uint32_t s = 0; s < m.stripes; s++) {
        std::vector<int> erased, parity_rows;
        std::vector<const uint8_t*> in;
        std::vector<uint8_t*> out;
        for (uint32_t row = 0; row < m.data; row++) {
            const uint64_t c = map_piece(m, s, row);
            if (c < m.count && !good[c]) {
                erased.push_back(static_cast<int>(row));
                out.push_back(&pieces[c * record_chunk_payload]);
            } else {
                in.push_back(c < m.count ? &pieces[c * record_chunk_payload] : zeros.data());
            }
        }
        for (uint32_t t = 0; t < m.parity && parity_rows.size() < erased.size(); t++) {
            const uint64_t c = map_piece(m, s, m.data + t);
            if (!good[c]) continue;
            parity_rows.push_back(static_cast<int>(m.data + t));
            in.push_back(&pieces[c * record_chunk_payload]);
        }
        if (erased.empty() || parity_rows.size() < erased.size()) continue;
        if (!erasure_rebuild(ec, erased, parity_rows, in.data(), record_chunk_payload, out.data())) continue;
        for (const int row : erased) good[map_piece(m, s, static_cast<uint32_t>(row))] = true;
    }
}

Status read_table(const RecordSource& src, RecordCheck& c) {
    const StripeMap m = record_chunks(c.layout);
    const uint64_t total = m.count + map_parity_count(m);
    std::vector<uint8_t> raw(static_cast<size_t>(record_table_bytes(c.layout)));
    size_t got = 0;
    VORB_TRY(read_some(src, raw.data(), raw.size(), record_table_offset(c.layout), got));
    std::vector<uint8_t> pieces(static_cast<size_t>(total) * record_chunk_payload);
    std::vector<bool> good(static_cast<size_t>(total));
    bool lost = false;
    for (uint64_t g = 0; g < total; g++) {
        const uint8_t* chunk = &raw[g * record_chunk_size];
        std::memcpy(&pieces[g * record_chunk_payload], chunk, record_chunk_payload);
        good[g] = (g + 1) * record_chunk_size <= got &&
                  record_get_le(chunk + record_chunk_payload, 4) == record_chunk_checksum(chunk, record_chunk_payload, g);
        if (!good[g]) c.damaged_record++;
        lost |= g < m.count && !good[g];
    }
    if (lost) rebuild_chunks(m, pieces, good);
    for (uint64_t e = 0; e < c.units.size(); e++) {
        if (good[e / record_chunk_entries])
            c.sums[e] = static_cast<uint32_t>(record_get_le(&pieces[e * record_entry_size], 4));
        else
            c.units[e] = UnitState::unknown;
    }
    return Status::ok;
}

// Checks units [first, last), stored back to back from the first's offset;
// data units also go into the whole checksum.
Status check_units(const RecordSource& src, RecordCheck& c, uint64_t first, uint64_t last, Checksum* whole) {
    const RecordLayout& l = c.layout;
    const size_t u = l.unit_size;
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<uint64_t>(std::max<size_t>(1, read_chunk_bytes / u), last - first)) * u);
    for (uint64_t unit = first; unit < last;) {
        const uint64_t count = std::min<uint64_t>(buf.size() / u, last - unit);
        const uint64_t offset = unit_offset(l, unit);
        const uint64_t end = unit_offset(l, unit + count - 1) + unit_length(l, unit + count - 1);
        // Each unit's bytes end where its unit_size does in buf.
        const size_t skip = unit_skip(l, unit);
        size_t got = 0;
        VORB_TRY(read_some(src, buf.data() + skip, static_cast<size_t>(end - offset), offset, got));
        if (whole) checksum_add(*whole, buf.data() + skip, got);
        std::memset(buf.data(), 0, skip);
        std::memset(buf.data() + skip + got, 0, buf.size() - skip - got);
        for (uint64_t i = 0; i < count; i++, unit++) {
            const size_t at = static_cast<size_t>(i * u);
            if (at + u > skip + got) {
                c.units[unit] = UnitState::damaged;  // the file ends before it
            } else if (c.units[unit] == UnitState::good &&
                       record_unit_checksum(buf.data() + at, u, unit) != c.sums[unit]) {
                c.units[unit] = UnitState::damaged;
            }
        }
    }
    return Status::ok;
}

uint32_t stripes_beyond(const RecordCheck& c) {
    const RecordLayout& l = c.layout;
    const StripeMap m = record_units(l);
    const uint64_t n = m.count;
    uint32_t beyond = 0;
    for (uint32_t s = 0; s < l.stripes; s++) {
        uint32_t lost = 0;
        for (uint32_t row = 0; row < l.data_units + l.parity_units; row++) {
            const uint64_t unit = map_piece(m, s, row);
            if ((row >= l.data_units || unit < n) && c.units[unit] != UnitState::good) lost++;
        }
        if (lost > l.parity_units) beyond++;
    }
    return beyond;
}

}  // namespace

Status record_find_at_end(const RecordSource& src, RecordLayout& l, RecordSeen& seen) {
    seen = RecordSeen::none;
    if (src.size < 2 * record_header_size) return Status::ok;
    RecordLayout found;
    bool ok = false;
    VORB_TRY(header_at(src, src.size - record_header_size, found, ok));
    if (!ok || found.data_size + found.record_size != src.size) return Status::ok;
    bool start = false;
    VORB_TRY(copy_matches(src, found, found.data_size, start));
    l = found;
    seen = start ? RecordSeen::intact : RecordSeen::damaged;
    return Status::ok;
}

Status record_check(const RecordSource& src, RecordCheck& c) {
    c = RecordCheck{};
    RecordSeen seen = RecordSeen::none;
    VORB_TRY(record_find_at_end(src, c.layout, seen));
    c.found = seen != RecordSeen::none;
    if (!c.found) VORB_TRY(scan_for_header(src, c.layout, c.found));
    if (!c.found) return Status::ok;
    const RecordLayout& l = c.layout;
    const uint64_t n = record_data_count(l);
    c.units.assign(static_cast<size_t>(n + record_parity_count(l)), UnitState::good);
    c.sums.assign(c.units.size(), 0);
    for (const uint64_t at : {l.data_size, l.data_size + l.record_size - record_header_size}) {
        bool same = false;
        VORB_TRY(copy_matches(src, l, at, same));
        if (!same) c.damaged_record++;
    }
    if (src.size != l.data_size + l.record_size) c.damaged_record++;
    VORB_TRY(read_table(src, c));
    Checksum whole;
    VORB_TRY(check_units(src, c, 0, n, &whole));
    VORB_TRY(check_units(src, c, n, c.units.size(), nullptr));
    c.data_intact = src.size >= l.data_size && checksum_value(whole) == l.data_checksum;
    for (uint64_t unit = 0; unit < c.units.size(); unit++) {
        // A whole checksum that matches vouches for every data unit.
        if (unit < n && c.data_intact) c.units[unit] = UnitState::good;
        const UnitState st = c.units[unit];
        if (st == UnitState::unknown) c.unknown++;
        if (st == UnitState::damaged && unit < n) c.damaged_data++;
        if (st == UnitState::damaged && unit >= n) c.damaged_record++;
    }
    if (!c.data_intact) c.stripes_beyond = stripes_beyond(c);
    return Status::ok;
}

bool record_intact(const RecordCheck& c) {
    return c.found && c.data_intact && c.damaged_record == 0 && c.unknown == 0;
}

bool record_repairable(const RecordCheck& c) {
    if (!c.found || record_intact(c)) return false;
    if (c.data_intact) return true;
    // Damage no unit shows cannot be found, so cannot be mended.
    const bool located = std::any_of(c.units.begin(), c.units.begin() + static_cast<ptrdiff_t>(record_data_count(c.layout)),
                                     [](UnitState s) { return s != UnitState::good; });
    return located && c.stripes_beyond == 0;
}
