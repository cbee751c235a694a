// Recovery records on synthetic bytes: every damage pattern the record
// promises to mend comes back as the very bytes recorded; damage beyond it
// is refused with nothing written.
#include <gtest/gtest.h>

#include <xxhash.h>

#include <functional>
#include <random>
#include <string>

#include "../fuzz/index_target.h"
#include "archive/recovery_layout.h"
#include "support/cli_run.h"
#include "support/recorded_file.h"

namespace {

constexpr size_t header = 56;

void zero(Bytes& f, uint64_t from, uint64_t len) {
    for (uint64_t i = from; i < from + len && i < f.size(); i++) f[i] = 0;
}

// A damaged copy of file checked and repaired: with `state` REPAIRABLE (or
// INTACT) the repair gives back exactly original, else nothing.
void expect_repair(const Bytes& original, const Bytes& damaged, vorb_recovery_state state) {
    EXPECT_EQ(check_file(damaged).state, state);
    vorb_status st;
    const Bytes out = repair_file(damaged, st);
    if (state == VORB_RECOVERY_REPAIRABLE || state == VORB_RECOVERY_INTACT) {
        EXPECT_EQ(st, VORB_OK);
        EXPECT_TRUE(out == original) << "repaired " << out.size() << " bytes of " << original.size();
    } else {
        EXPECT_EQ(st, state == VORB_RECOVERY_NONE ? VORB_ERR_NO_RECOVERY : VORB_ERR_UNREPAIRABLE);
        EXPECT_TRUE(out.empty());
    }
}

struct Damage {
    const char* what;
    std::function<void(Bytes& f, const vorb_recovery_layout& l)> apply;
    vorb_recovery_state state;
};

TEST(RecoveryRecord, EachDamagePatternIsRepairedOrRefused) {
    const Bytes data = random_bytes(11, 1 << 20);
    const Bytes file = with_record(data, 5);
    const vorb_recovery_layout l = layout_for(data.size(), 5);
    ASSERT_EQ(file.size(), data.size() + l.record_size);
    const uint64_t d = l.data_size, b = l.burst_bytes, four = file.size() * 4 / 100, u = l.unit_size;
    // The first table chunk names units 0 to 63.
    const uint64_t table = d + header + uint64_t{l.stripes} * l.parity_units * u;
    // Where the first unit ends: the data fills whole units from the end.
    const uint64_t lead_end = d - (d / u - (d % u == 0)) * u;
    const Damage cases[] = {
        {"nothing", [](Bytes&, const vorb_recovery_layout&) {}, VORB_RECOVERY_INTACT},
        {"one bit in front of the record", [&](Bytes& f, auto&) { f[d / 3] ^= 8; }, VORB_RECOVERY_REPAIRABLE},
        {"one bit of the parity", [&](Bytes& f, auto&) { f[d + header + 5] ^= 1; }, VORB_RECOVERY_REPAIRABLE},
        {"zeroed units here and there",
         [&](Bytes& f, auto&) {
             for (uint64_t i = 1; i < 9; i++) zero(f, lead_end + i * 29 * u, u);
         },
         VORB_RECOVERY_REPAIRABLE},
        {"the promised burst at the start", [&](Bytes& f, auto&) { zero(f, 0, b); }, VORB_RECOVERY_REPAIRABLE},
        {"the promised burst across data and record", [&](Bytes& f, auto&) { zero(f, d - b / 2, b); },
         VORB_RECOVERY_REPAIRABLE},
        // From the short first unit's last byte the burst touches as many
        // units as it can; a byte more and one stripe loses one too many.
        {"the promised burst where it touches the most units", [&](Bytes& f, auto&) { zero(f, lead_end - 1, b); },
         VORB_RECOVERY_REPAIRABLE},
        {"a byte more than promised", [&](Bytes& f, auto&) { zero(f, lead_end - 1, b + 1); }, VORB_RECOVERY_BEYOND},
        {"a byte more than promised, from a whole unit's last byte",
         [&](Bytes& f, auto&) { zero(f, lead_end + 6 * u - 1, b + 1); }, VORB_RECOVERY_BEYOND},
        {"4 % inside the record", [&](Bytes& f, auto&) { zero(f, d + 1000, four); }, VORB_RECOVERY_REPAIRABLE},
        {"4 % at the very end", [&](Bytes& f, auto&) { zero(f, f.size() - four, four); }, VORB_RECOVERY_REPAIRABLE},
        {"a tail of 4 % cut off", [&](Bytes& f, auto&) { f.resize(f.size() - four); }, VORB_RECOVERY_REPAIRABLE},
        {"all of the record cut but its first header", [&](Bytes& f, auto&) { f.resize(d + header); },
         VORB_RECOVERY_REPAIRABLE},
        {"bytes after the record", [&](Bytes& f, auto&) { f.insert(f.end(), 300, 7); }, VORB_RECOVERY_REPAIRABLE},
        {"a table chunk and units it names",
         [&](Bytes& f, auto&) {
             zero(f, table, 16);
             zero(f, 0, 1);
             zero(f, 63 * u, 1);
         },
         VORB_RECOVERY_REPAIRABLE},
        {"the burst and one header copy",
         [&](Bytes& f, auto&) {
             zero(f, d / 2, b);
             zero(f, f.size() - 8, 8);
         },
         VORB_RECOVERY_REPAIRABLE},
        {"one unit more in a stripe than its parity",
         [&](Bytes& f, const vorb_recovery_layout& g) {
             for (uint64_t row = 0; row <= g.parity_units; row++) zero(f, row * g.stripes * u, 1);
         },
         VORB_RECOVERY_BEYOND},
        {"twice the parity's length", [&](Bytes& f, auto&) { zero(f, 10, 2 * (table - d)); }, VORB_RECOVERY_BEYOND},
        {"everything a byte further on", [](Bytes& f, auto&) { f.insert(f.begin(), 0); }, VORB_RECOVERY_NONE},
        {"both header copies",
         [&](Bytes& f, auto&) {
             f[d + 3] ^= 1;
             f[f.size() - 30] ^= 1;
         },
         VORB_RECOVERY_NONE},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes f = file;
        c.apply(f, l);
        expect_repair(file, f, c.state);
    }
}

TEST(RecoveryRecord, FourPercentBurstsAnywhereAndEveryBitFlip) {
    const Bytes file = with_record(text_like(5, 600000), 5);
    const size_t burst = file.size() * 4 / 100;
    for (size_t at = 0; at + burst <= file.size(); at += file.size() / 29) {
        SCOPED_TRACE(at);
        Bytes f = file;
        std::mt19937 rng(static_cast<uint32_t>(at));
        for (size_t i = at; i < at + burst; i++) f[i] = static_cast<uint8_t>(rng());
        expect_repair(file, f, VORB_RECOVERY_REPAIRABLE);
    }
    // A file small enough to flip one bit of every byte.
    const Bytes small = with_record(random_bytes(6, 3000), 5);
    for (size_t at = 0; at < small.size(); at++) {
        Bytes f = small;
        f[at] ^= static_cast<uint8_t>(1u << (at % 8));
        vorb_status st;
        ASSERT_TRUE(repair_file(f, st) == small && st == VORB_OK) << "bit flip at " << at;
    }
}

TEST(RecoveryRecord, ScatteredSectorsOfALargeArchive) {
    const Bytes file = with_record(random_bytes(7, 64 << 20), 5);
    Bytes f = file;
    std::mt19937 rng(8);
    for (int i = 0; i < 200; i++) zero(f, (rng() % (file.size() / 512)) * 512, 512);
    const vorb_recovery_report rep = check_file(f);
    EXPECT_GE(rep.damaged_data_units + rep.damaged_record_units, 150u);
    expect_repair(file, f, VORB_RECOVERY_REPAIRABLE);
}

// What each layout promises, over sizes from tiny to large.
TEST(RecoveryLayout, PlansKeepTheirPromises) {
    for (const unsigned percent : {1u, 5u, 17u, 50u}) {
        for (uint64_t size = 1; size < (uint64_t{1} << 34); size += size / 8 + 1) {
            SCOPED_TRACE(std::to_string(percent) + " % of " + std::to_string(size));
            const vorb_recovery_layout l = layout_for(size, percent);
            const uint64_t file = size + l.record_size;
            EXPECT_LE(l.data_units + l.parity_units, 255u);
            EXPECT_GE(uint64_t{l.parity_units} * 100, uint64_t{l.data_units} * percent);
            EXPECT_GE(uint64_t{l.stripes} * l.data_units * l.unit_size, size);
            // The burst never reaches from the data into the table.
            EXPECT_LT(l.burst_bytes, uint64_t{l.stripes} * l.parity_units * l.unit_size + 1);
            if (percent == 5 && size >= 13000) {
                EXPECT_GE(l.burst_bytes * 100, file * 4);
            }
            if (percent == 5 && size >= 720000) {
                EXPECT_LE(l.record_size * 1000, size * 52);
            }
        }
    }
    vorb_recovery_layout l;
    EXPECT_EQ(vorb_recovery_plan(0, 5, &l), VORB_ERR_PARAM);
    EXPECT_EQ(vorb_recovery_plan(100, 0, &l), VORB_ERR_PARAM);
    EXPECT_EQ(vorb_recovery_plan(100, 51, &l), VORB_ERR_PARAM);
    EXPECT_EQ(vorb_recovery_plan((uint64_t{1} << 50) + 1, 5, &l), VORB_ERR_PARAM);
}

// A header whose checksum was made to fit forged fields is still refused.
TEST(RecoveryLayout, ForgedHeaderFieldsAreRefused) {
    RecordLayout l = record_plan(1000000, 5);
    uint8_t good[header];
    record_header_write(l, good);
    RecordLayout parsed;
    ASSERT_EQ(record_header_parse(good, parsed), Status::ok);
    EXPECT_EQ(parsed.record_size, l.record_size);
    const struct {
        size_t at, size;
        uint64_t value;
    } forged[] = {
        {0, 8, 0},                                     // no data
        {0, 8, (uint64_t{1} << 50) + 1},               // too much data
        {0, 8, 1000000 - 5000},                        // data that changes the unit count
        {16, 4, 0},         {16, 4, l.unit_size + 1},  // unit sizes off the step
        {16, 4, 1u << 21},                             // a unit too large
        {20, 4, 0},         {20, 4, l.stripes + 1},    // stripe counts the units do not give
        {24, 2, l.data_units - 1},                     // data units per stripe
        {26, 2, l.parity_units - 1},                   // parity per stripe
        {28, 1, 0},         {28, 1, 51},               // percent
        {29, 1, 2},                                    // version
        {30, 2, 1},                                    // reserved
        {32, 8, l.record_size + 1},                    // record size
    };
    for (const auto& f : forged) {
        SCOPED_TRACE(std::to_string(f.at) + " = " + std::to_string(f.value));
        uint8_t h[header];
        std::copy_n(good, header, h);
        record_put_le(h + f.at, f.value, static_cast<int>(f.size));
        record_put_le(h + 40, XXH3_64bits(h, 40), 8);
        EXPECT_EQ(record_header_parse(h, parsed), Status::damaged_record);
    }
    uint8_t h[header];
    std::copy_n(good, header, h);
    h[50] ^= 1;  // the signature
    EXPECT_EQ(record_header_parse(h, parsed), Status::damaged_record);
    // Geometries consistent in themselves that the code cannot take: a unit
    // off the SIMD step, a stripe wider than GF(2^8)'s 255 rows.
    const struct {
        uint32_t unit, data, parity, percent;
    } consistent[] = {{100, 50, 3, 5}, {64, 200, 100, 50}};
    for (const auto& c : consistent) {
        RecordLayout g;
        g.data_size = uint64_t{c.unit} * c.data;
        g.unit_size = c.unit;
        g.stripes = 1;
        g.data_units = c.data;
        g.parity_units = c.parity;
        g.percent = c.percent;
        g.record_size = record_size_of(g);
        record_header_write(g, h);
        EXPECT_EQ(record_header_parse(h, parsed), Status::damaged_record) << c.unit << " " << c.data;
    }
}

// Every member of an indexed archive with a record, read at offsets or as a
// stream: all must come back whatever befell the record; finish's status
// and the reader's flags after it are returned.
vorb_status read_recorded(const Bytes& file, bool stream, uint32_t& flags) {
    const fuzz_index::Sample& s = fuzz_index::sample();
    MemoryReader mem{file.data(), file.size()};
    const vorb_source src{memory_read, stream ? nullptr : fuzz_index::memory_read_at, &mem,
                          stream ? UINT64_MAX : file.size()};
    vorb_reader* r = vorb_reader_open(&src, nullptr, nullptr);
    EXPECT_TRUE(r != nullptr);
    if (!r) return VORB_ERR_PARAM;
    size_t m = 0;
    vorb_entry e;
    while (vorb_reader_next(r, &e) == VORB_OK) {
        if (!e.present) continue;
        VectorWriter out;
        EXPECT_EQ(vorb_reader_unpack(r, vector_write, &out, nullptr, nullptr, nullptr), VORB_OK);
        EXPECT_TRUE(m < s.members.size() && out.bytes == s.members[m]) << "member " << m;
        m++;
    }
    EXPECT_EQ(m, s.members.size());
    const vorb_status st = vorb_reader_finish(r);
    vorb_archive_info info;
    EXPECT_EQ(vorb_reader_info(r, &info), VORB_OK);
    flags = info.flags;
    vorb_reader_free(r);
    return st;
}

TEST(RecoveryRecord, ReadersTakeTheArchiveInFrontOfTheRecord) {
    const Bytes& archive = fuzz_index::sample().archive;
    const Bytes file = with_record(archive, 10);
    const size_t end_copy = file.size() - header, start_copy = archive.size();
    const struct {
        const char* what;
        std::function<void(Bytes&)> damage;
        vorb_status at_offsets, as_stream;
        uint32_t flags;  // at offsets; a stream knows the index only at its end
    } cases[] = {
        {"intact", [](Bytes&) {}, VORB_OK, VORB_OK, VORB_INFO_HAS_INDEX | VORB_INFO_HAS_RECOVERY},
        {"the end's header copy", [&](Bytes& f) { f[end_copy + 9] ^= 1; }, VORB_ERR_RECOVERY, VORB_ERR_RECOVERY,
         VORB_INFO_HAS_RECOVERY | VORB_INFO_RECOVERY_DAMAGED},
        {"the start's header copy", [&](Bytes& f) { f[start_copy + 9] ^= 1; }, VORB_ERR_RECOVERY, VORB_ERR_RECOVERY,
         VORB_INFO_HAS_INDEX | VORB_INFO_HAS_RECOVERY | VORB_INFO_RECOVERY_DAMAGED},
        {"a cut tail", [&](Bytes& f) { f.resize(start_copy + header + 10); }, VORB_ERR_RECOVERY, VORB_ERR_RECOVERY,
         VORB_INFO_HAS_RECOVERY | VORB_INFO_RECOVERY_DAMAGED},
        {"both copies", [&](Bytes& f) { f[start_copy + 9] ^= 1; f[end_copy + 9] ^= 1; }, VORB_ERR_TRAILING,
         VORB_ERR_TRAILING, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes f = file;
        c.damage(f);
        uint32_t flags = 0;
        EXPECT_EQ(read_recorded(f, false, flags), c.at_offsets);
        EXPECT_EQ(flags, c.flags);
        EXPECT_EQ(read_recorded(f, true, flags), c.as_stream);
        EXPECT_EQ(flags & ~VORB_INFO_HAS_INDEX, c.flags & ~VORB_INFO_HAS_INDEX);
    }
}

}  // namespace
