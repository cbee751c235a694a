#include "archive/recovery_build.h"

#include <algorithm>
#include <vector>

#include "archive/checksum.h"
#include "archive/erasure_code.h"

namespace {

constexpr size_t read_chunk_bytes = size_t{1} << 20;

Status read_full(const RecordInput& in, uint8_t* buf, size_t len, size_t& got) {
    got = 0;
    while (got < len) {
        const ptrdiff_t n = in.read(in.ctx, buf + got, len - got);
        VORB_CHECK(n >= 0, Status::read_failed);
        if (n == 0) break;
        got += std::min(static_cast<size_t>(n), len - got);
    }
    return Status::ok;
}

// The table: every unit's entry in chunks, the chunks' parity after them,
// each chunk followed by its checksum.
void write_table(const RecordLayout& l, const std::vector<uint32_t>& sums, ByteOut& out) {
    const StripeMap m = record_chunks(l);
    const uint64_t total = m.count + map_parity_count(m);
    std::vector<uint8_t> chunks(static_cast<size_t>(total) * record_chunk_payload, 0);
    for (size_t i = 0; i < sums.size(); i++) record_put_le(&chunks[i * record_entry_size], sums[i], 4);
    ErasureCode ec;
    erasure_code_init(ec, static_cast<int>(m.data), static_cast<int>(m.parity));
    std::vector<uint8_t*> rows(m.parity);
    for (uint64_t c = 0; c < m.count; c++) {
        for (uint32_t t = 0; t < m.parity; t++)
            rows[t] = &chunks[map_piece(m, map_stripe(m, c), m.data + t) * record_chunk_payload];
        erasure_add(ec, static_cast<int>(map_row(m, c)), &chunks[c * record_chunk_payload], record_chunk_payload,
                    rows.data());
    }
    for (uint64_t c = 0; c < total; c++) {
        const uint8_t* payload = &chunks[c * record_chunk_payload];
        uint8_t check[record_entry_size];
        record_put_le(check, record_chunk_checksum(payload, record_chunk_payload, c), 4);
        put_bytes(out, payload, record_chunk_payload);
        put_bytes(out, check, sizeof check);
    }
}

}  // namespace

Status record_build(RecordLayout l, const RecordInput& in, const uint64_t* expected, ByteOut& out) {
    const uint64_t n = record_data_count(l);
    const uint64_t parity_count = record_parity_count(l);
    const size_t u = l.unit_size;
    const int k = static_cast<int>(l.data_units), m = static_cast<int>(l.parity_units);
    ErasureCode ec;
    erasure_code_init(ec, k, m);
    std::vector<uint8_t> parity(static_cast<size_t>(parity_count) * u, 0);
    std::vector<uint32_t> sums(static_cast<size_t>(n + parity_count));
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<uint64_t>(std::max<size_t>(1, read_chunk_bytes / u), n)) * u);
    std::vector<uint8_t*> rows(static_cast<size_t>(m));
    Checksum whole;
    const StripeMap map = record_units(l);
    uint64_t unit = 0, left = l.data_size;
    // The first unit's zeros stand in front of its bytes; buf starts zeroed.
    size_t lead = record_lead(l);
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size() - lead, left));
        size_t got = 0;
        VORB_TRY(read_full(in, buf.data() + lead, want, got));
        VORB_CHECK(got == want, Status::truncated);
        checksum_add(whole, buf.data() + lead, got);
        left -= got;
        // Whole units: the data and its lead are.
        const size_t filled = lead + got;
        lead = 0;
        for (size_t at = 0; at < filled; at += u, unit++) {
            const uint32_t stripe = map_stripe(map, unit);
            for (int t = 0; t < m; t++)
                rows[static_cast<size_t>(t)] = &parity[(map_piece(map, stripe, l.data_units + t) - n) * u];
            erasure_add(ec, static_cast<int>(map_row(map, unit)), buf.data() + at, u, rows.data());
            sums[unit] = record_unit_checksum(buf.data() + at, u, unit);
        }
    }
    l.data_checksum = checksum_value(whole);
    VORB_CHECK(!expected || *expected == l.data_checksum, Status::checksum_mismatch);
    for (uint64_t q = 0; q < parity_count; q++) sums[n + q] = record_unit_checksum(&parity[q * u], u, n + q);

    uint8_t header[record_header_size];
    record_header_write(l, header);
    put_bytes(out, header, sizeof header);
    put_bytes(out, parity.data(), parity.size());
    write_table(l, sums, out);
    put_bytes(out, header, sizeof header);
    return Status::ok;
}
