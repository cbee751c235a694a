#include "archive/recovery_repair.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "archive/erasure_code.h"
#include "archive/recovery_build.h"

namespace {

using Rebuilt = std::map<uint64_t, std::vector<uint8_t>>;

// A unit as the code sees it: its bytes, zeros in front of a short one.
Status read_unit(const RecordSource& src, const RecordLayout& l, uint64_t unit, uint8_t* buf) {
    std::memset(buf, 0, l.unit_size);
    buf += unit_skip(l, unit);
    const size_t len = unit_length(l, unit);
    for (size_t got = 0; got < len;) {
        const ptrdiff_t n = src.read_at(src.ctx, buf + got, len - got, unit_offset(l, unit) + got);
        VORB_CHECK(n >= 0, Status::read_failed);
        // The check read this unit whole: a file that shrank since is damage.
        VORB_CHECK(n > 0, Status::beyond_repair);
        got += std::min(static_cast<size_t>(n), len - got);
    }
    return Status::ok;
}

Status rebuild_stripe(const RecordSource& src, const RecordCheck& c, const ErasureCode& ec, uint32_t stripe,
                      std::vector<uint8_t>& sources, Rebuilt& rebuilt) {
    const RecordLayout& l = c.layout;
    const StripeMap map = record_units(l);
    const uint64_t n = map.count;
    const size_t u = l.unit_size;
    auto unit_at = [&](uint32_t s, uint32_t row) { return map_piece(map, s, row); };
    std::vector<int> erased, parity_rows;
    for (uint32_t row = 0; row < l.data_units; row++) {
        const uint64_t unit = unit_at(stripe, row);
        if (unit < n && c.units[unit] != UnitState::good) erased.push_back(static_cast<int>(row));
    }
    if (erased.empty()) return Status::ok;
    for (uint32_t t = 0; t < l.parity_units && parity_rows.size() < erased.size(); t++)
        if (c.units[unit_at(stripe, l.data_units + t)] == UnitState::good)
            parity_rows.push_back(static_cast<int>(l.data_units + t));
    VORB_CHECK(parity_rows.size() == erased.size(), Status::beyond_repair);

    std::vector<const uint8_t*> in;
    size_t used = 0;
    auto load = [&](uint32_t row) -> Status {
        uint8_t* buf = &sources[used++ * u];
        in.push_back(buf);
        const uint64_t unit = unit_at(stripe, row);
        if (row < l.data_units && unit >= n) {
            std::memset(buf, 0, u);  // past the last unit: zeros
            return Status::ok;
        }
        return read_unit(src, l, unit, buf);
    };
    for (uint32_t row = 0; row < l.data_units; row++)
        if (std::find(erased.begin(), erased.end(), static_cast<int>(row)) == erased.end()) VORB_TRY(load(row));
    for (const int row : parity_rows) VORB_TRY(load(static_cast<uint32_t>(row)));

    std::vector<uint8_t*> out;
    for (const int row : erased) {
        std::vector<uint8_t>& bytes = rebuilt[unit_at(stripe, static_cast<uint32_t>(row))];
        bytes.assign(u, 0);
        out.push_back(bytes.data());
    }
    VORB_CHECK(erasure_rebuild(ec, erased, parity_rows, in.data(), u, out.data()), Status::beyond_repair);
    for (const int row : erased) {
        const uint64_t unit = unit_at(stripe, static_cast<uint32_t>(row));
        // A unit whose entry was lost is vouched for by the whole checksum.
        VORB_CHECK(c.units[unit] == UnitState::unknown ||
                       record_unit_checksum(rebuilt[unit].data(), u, unit) == c.sums[unit],
                   Status::checksum_mismatch);
    }
    return Status::ok;
}

// The bytes in front of the record with the rebuilt units in place, read
// front to back by the record's builder and copied to out on the way.
struct RepairedData {
    const RecordSource* src;
    const RecordLayout* layout;
    const Rebuilt* rebuilt;
    ByteOut* out;
    uint64_t pos = 0;
};

ptrdiff_t read_repaired(void* ctx, void* dst, size_t len) {
    RepairedData& r = *static_cast<RepairedData*>(ctx);
    const RecordLayout& l = *r.layout;
    len = static_cast<size_t>(std::min<uint64_t>(len, l.data_size - r.pos));
    uint8_t* buf = static_cast<uint8_t*>(dst);
    std::memset(buf, 0, len);
    for (size_t got = 0; got < len && r.pos + got < r.src->size;) {
        const ptrdiff_t n = r.src->read_at(r.src->ctx, buf + got, len - got, r.pos + got);
        if (n < 0) return -1;
        if (n == 0) break;  // a cut file: what is missing was rebuilt
        got += std::min(static_cast<size_t>(n), len - got);
    }
    // Unit g holds the bytes from g x u - lead on (the first one's lead is zeros).
    const uint64_t u = l.unit_size, lead = record_lead(l), from_v = r.pos + lead, to_v = from_v + len;
    for (auto it = r.rebuilt->lower_bound(from_v / u); it != r.rebuilt->end() && it->first * u < to_v; ++it) {
        const uint64_t from = std::max(it->first * u, from_v), to = std::min((it->first + 1) * u, to_v);
        std::memcpy(buf + (from - from_v), it->second.data() + (from - it->first * u), static_cast<size_t>(to - from));
    }
    put_bytes(*r.out, buf, len);
    r.pos += len;
    return static_cast<ptrdiff_t>(len);
}

}  // namespace

Status record_repair(const RecordSource& src, const RecordCheck& c, ByteOut& out) {
    VORB_CHECK(record_intact(c) || record_repairable(c), Status::beyond_repair);
    const RecordLayout& l = c.layout;
    Rebuilt rebuilt;
    if (!c.data_intact) {
        ErasureCode ec;
        erasure_code_init(ec, static_cast<int>(l.data_units), static_cast<int>(l.parity_units));
        std::vector<uint8_t> sources(size_t{l.data_units} * l.unit_size);
        for (uint32_t stripe = 0; stripe < l.stripes; stripe++) VORB_TRY(rebuild_stripe(src, c, ec, stripe, sources, rebuilt));
    }
    RepairedData data{&src, &l, &rebuilt, &out};
    return record_build(l, RecordInput{read_repaired, &data}, &l.data_checksum, out);
}
