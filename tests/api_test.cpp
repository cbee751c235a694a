// The public API's contracts: refused parameters, failing and short
// callbacks, failed allocations, the bytes read past a member. (Damage and
// thread counts: the command-line and damaged archive tests, through this
// API.)
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <vorb.h>

#include "../fuzz/round_trip_target.h"
#include "support/archive_bytes.h"
#include "support/cli_run.h"
#include "support/failing_alloc.h"
#include "support/sort_harness.h"

namespace {

using fuzz_round_trip::pack;

ptrdiff_t failing_read(void*, void*, size_t) { return -1; }

// Every member of an archive read from src; the first status that is not
// VORB_OK ends it (VORB_END with a clean ending counts as VORB_OK). After a
// failure the reader stays failed.
vorb_status read_archive(MemoryReader src, std::vector<Bytes>& members, uint64_t write_limit = UINT64_MAX,
                         int threads = 1, bool at_offsets = false) {
    const vorb_source source = memory_source(src, at_offsets);
    const vorb_unpack_options opt{threads, 0};
    vorb_status st = VORB_OK;
    vorb_reader* r = vorb_reader_open(&source, &opt, &st);
    if (!r) return st;
    vorb_entry e;
    EXPECT_EQ(vorb_reader_finish(r), VORB_ERR_PARAM);  // not at the end yet
    while ((st = vorb_reader_next(r, &e)) == VORB_OK) {
        VectorWriter w;
        w.limit = write_limit;
        st = vorb_reader_unpack(r, vector_write, &w, nullptr, nullptr, nullptr);
        if (st != VORB_OK) break;
        members.push_back(w.bytes);
    }
    if (st == VORB_END) {
        st = vorb_reader_finish(r);
    } else {
        EXPECT_EQ(vorb_reader_next(r, &e), st);
    }
    vorb_reader_free(r);
    return st;
}

const std::vector<Bytes>& sample() {
    static const std::vector<Bytes> m = {text_like(1, 70000), {}, random_bytes(2, 3000, 4)};
    return m;
}

TEST(Api, BadParametersAreRefused) {
    VectorWriter sink;
    const std::string long_name(199, 'x');
    MemoryReader empty{nullptr, 0};
    const char* const three[] = {"a", "b", "c"};
    const char* const with_long[] = {"a", long_name.c_str()};
    const char* const with_null[] = {"a", nullptr};
    const vorb_member_feed feed{[](void*, unsigned, vorb_member_input*) {}, nullptr, nullptr, nullptr, nullptr, nullptr};
    const vorb_member_feed no_open{};
    static const vorb_file_meta late{0644, 1000000000, 0};
    const vorb_member_feed bad_meta{[](void*, unsigned, vorb_member_input* in) { *in = {memory_read, nullptr, &late}; },
                                    nullptr, nullptr, nullptr, nullptr, nullptr};
    // Each case: a writer, begun with two entries.
    struct Case {
        const char* what;
        std::function<vorb_status(vorb_writer*)> call;
    };
    const Case cases[] = {
        {"packer block size 0", [&](vorb_writer*) { vorb_status e = VORB_OK; return vorb_packer_create(0, 1, &e) ? VORB_OK : e; }},
        {"unpacker no threads", [&](vorb_writer*) { vorb_status e = VORB_OK; return vorb_unpacker_create(100, 0, &e) ? VORB_OK : e; }},
        {"pack into no packer", [&](vorb_writer*) { return vorb_pack_member(nullptr, memory_read, &empty, vector_write, &sink, nullptr, nullptr, nullptr); }},
        {"reader without source", [&](vorb_writer*) { vorb_status e = VORB_OK; return vorb_reader_open(nullptr, nullptr, &e) ? VORB_OK : e; }},
        {"null name", [](vorb_writer* w) { return vorb_writer_add_absent(w, nullptr); }},
        {"name over 198", [&](vorb_writer* w) { return vorb_writer_add_member(w, long_name.c_str(), memory_read, &empty, nullptr, nullptr, nullptr, nullptr); }},
        {"third entry of two", [](vorb_writer* w) { vorb_writer_add_absent(w, "a"); vorb_writer_add_absent(w, "b"); return vorb_writer_add_absent(w, "c"); }},
        {"finish one short", [](vorb_writer* w) { vorb_writer_add_absent(w, "a"); return vorb_writer_finish(w); }},
        {"batch after an entry", [&](vorb_writer* w) { vorb_writer_add_absent(w, "a"); return vorb_writer_add_members(w, three, 2, &feed); }},
        {"batch with a long name", [&](vorb_writer* w) { return vorb_writer_add_members(w, with_long, 2, &feed); }},
        {"batch with a null name", [&](vorb_writer* w) { return vorb_writer_add_members(w, with_null, 2, &feed); }},
        {"batch without open", [&](vorb_writer* w) { return vorb_writer_add_members(w, three, 1, &no_open); }},
        {"batch meta past a second", [&](vorb_writer* w) { return vorb_writer_add_members(w, three, 1, &bad_meta); }},
    };
    for (const Case& c : cases) {
        vorb_writer* w = vorb_writer_create(vector_write, &sink, nullptr, nullptr);
        ASSERT_EQ(vorb_writer_begin(w, 2), VORB_OK);
        EXPECT_EQ(c.call(w), VORB_ERR_PARAM) << c.what;
        vorb_writer_free(w);
    }
    vorb_writer* w = vorb_writer_create(vector_write, &sink, nullptr, nullptr);
    EXPECT_EQ(vorb_writer_begin(w, VORB_MAX_MEMBERS + 1), VORB_ERR_PARAM);
    vorb_writer_free(w);
}

TEST(Api, CallbacksThatFailOrReadShort) {
    const Bytes arch = pack(sample(), 1 << 16);
    // Reads of one byte at a time give the same archive and the same members.
    EXPECT_EQ(pack(sample(), 1 << 16, 1, 1), arch);
    const Bytes big = pack({text_like(4, 1 << 20)}, 1 << 16);
    // Read as a stream, and at offsets; on threads both read ahead of the decoder.
    for (const bool at_offsets : {false, true})
        for (const int threads : {1, 2}) {
            SCOPED_TRACE(std::to_string(threads) + (at_offsets ? " threads, at offsets" : " threads, a stream"));
            std::vector<Bytes> members;
            EXPECT_EQ(read_archive(MemoryReader{arch.data(), arch.size(), 0, 1}, members, UINT64_MAX, threads,
                                   at_offsets),
                      VORB_OK);
            EXPECT_EQ(members, sample());
            // A read that fails inside a member's stream only (past what
            // opening the archive reads), and a write that fails.
            const size_t mid = big.size() / 2;
            EXPECT_EQ(read_archive(MemoryReader{big.data(), big.size(), 0, 0, mid, mid + 1}, members, UINT64_MAX,
                                   threads, at_offsets),
                      VORB_ERR_READ);
            // At offsets a read at the end, which fails here, is never made; a stream must make it.
            members.clear();
            EXPECT_EQ(read_archive(MemoryReader{arch.data(), arch.size(), 0, 0, arch.size()}, members, UINT64_MAX,
                                   threads, at_offsets),
                      at_offsets ? VORB_OK : VORB_ERR_READ);
            if (at_offsets) {
                EXPECT_EQ(members, sample());
            }
            EXPECT_EQ(read_archive(MemoryReader{arch.data(), arch.size()}, members, 1000, threads, at_offsets),
                      VORB_ERR_WRITE);
            // The write fails once the first quarter MiB is handed over, long
            // before the archive's cut: the member stops there.
            EXPECT_EQ(read_archive(MemoryReader{big.data(), big.size() - 100}, members, 0, threads, at_offsets),
                      VORB_ERR_WRITE);
        }

    // The packer's write fails in the middle of a member that does not fit
    // the buffer: the member's own call says so.
    VectorWriter fails;
    fails.limit = 0;
    vorb_writer* w = vorb_writer_create(vector_write, &fails, nullptr, nullptr);
    ASSERT_EQ(vorb_writer_begin(w, 1), VORB_OK);
    const Bytes noise = random_bytes(5, 1 << 19);
    MemoryReader r{noise.data(), noise.size()};
    EXPECT_EQ(vorb_writer_add_member(w, "m", memory_read, &r, nullptr, nullptr, nullptr, nullptr), VORB_ERR_WRITE);
    vorb_writer_free(w);

    vorb_packer* p = vorb_packer_create(1 << 16, 1, nullptr);
    VectorWriter sink;
    EXPECT_EQ(vorb_pack_member(p, failing_read, nullptr, vector_write, &sink, nullptr, nullptr, nullptr), VORB_ERR_READ);
    vorb_packer_free(p);
    const vorb_source broken{failing_read, nullptr, nullptr, UINT64_MAX};
    vorb_status st = VORB_OK;
    EXPECT_EQ(vorb_reader_open(&broken, nullptr, &st), nullptr);
    EXPECT_EQ(st, VORB_ERR_READ);
}

// Each allocation of a member's packing made to fail in turn: the packer
// says so or gives a stream that unpacks to the member, never a wrong one.
TEST(Api, EachFailedAllocationIsReportedNotPacked) {
    // Runs of "ab" after random letters, whose order the sort finds by
    // period, and a long repetition it orders by copying.
    Bytes data = repeat_pattern(random_bytes(7, 1000), 60000), letters = random_bytes(6, 400, 26);
    for (uint8_t c : letters) {
        data.push_back('c' + c);
        data.insert(data.end(), 2 * (20 + c * 7), 'a');
        for (size_t i = data.size() - 2 * (20 + c * 7); i < data.size(); i += 2) data[i + 1] = 'b';
    }
    vorb_unpacker* u = vorb_unpacker_create(1 << 16, 1, nullptr);
    int refused = 0;
    for (long k = 0;; k++) {
        // A new packer each time: a sorter keeps the tables it has grown.
        vorb_packer* p = vorb_packer_create(1 << 16, 1, nullptr);
        MemoryReader in{data.data(), data.size()};
        VectorWriter stream;
        stream.bytes.reserve(data.size());
        fail_allocation(k);
        const vorb_status st = vorb_pack_member(p, memory_read, &in, vector_write, &stream, nullptr, nullptr, nullptr);
        const bool none_failed = fail_allocation(-1) >= 0;
        vorb_packer_free(p);
        if (st == VORB_OK) {
            MemoryReader src{stream.bytes.data(), stream.bytes.size()};
            VectorWriter out;
            EXPECT_EQ(vorb_unpack_member(u, memory_read, &src, vector_write, &out, nullptr, nullptr, nullptr), VORB_OK);
            EXPECT_TRUE(out.bytes == data) << "allocation " << k;
            if (none_failed) break;
        } else {
            EXPECT_EQ(st, VORB_ERR_MEMORY) << "allocation " << k;
            refused++;
        }
    }
    EXPECT_GT(refused, 2);
    vorb_unpacker_free(u);
}

TEST(Api, OneMemberStreamAndTheBytesAfterIt) {
    const Bytes& data = sample()[0];
    vorb_packer* p = vorb_packer_create(1 << 15, 1, nullptr);
    MemoryReader in{data.data(), data.size()};
    VectorWriter stream;
    vorb_member_stats packed;
    ASSERT_EQ(vorb_pack_member(p, memory_read, &in, vector_write, &stream, nullptr, nullptr, &packed), VORB_OK);
    vorb_packer_free(p);
    EXPECT_EQ(packed.packed, stream.bytes.size());
    EXPECT_EQ(packed.blocks, 4u);  // three blocks and the end marker

    const Bytes tail = {'t', 'a', 'i', 'l'};
    Bytes both = stream.bytes;
    both.insert(both.end(), tail.begin(), tail.end());
    vorb_unpacker* u = vorb_unpacker_create(1 << 15, 1, nullptr);
    MemoryReader src{both.data(), both.size()};
    VectorWriter out;
    vorb_member_stats got;
    ASSERT_EQ(vorb_unpack_member(u, memory_read, &src, vector_write, &out, nullptr, nullptr, &got), VORB_OK);
    EXPECT_EQ(out.bytes, data);
    EXPECT_EQ(got.packed, stream.bytes.size());
    EXPECT_EQ(got.unpacked, data.size());
    const void* rest = nullptr;
    size_t rest_len = 0;
    ASSERT_EQ(vorb_unpacker_unused(u, &rest, &rest_len), VORB_OK);
    EXPECT_EQ(Bytes(static_cast<const uint8_t*>(rest), static_cast<const uint8_t*>(rest) + rest_len), tail);
    vorb_unpacker_free(u);

    // Cut inside the third block: the two blocks before it still come out
    // whole, also the one whose inverse was under way beside the third's
    // decoding, and nothing of the third.
    for (const int threads : {1, 2}) {
        vorb_unpacker* c = vorb_unpacker_create(1 << 15, threads, nullptr);
        MemoryReader cut{stream.bytes.data(), stream.bytes.size() - 100};
        VectorWriter part;
        EXPECT_EQ(vorb_unpack_member(c, memory_read, &cut, vector_write, &part, nullptr, nullptr, &got),
                  VORB_ERR_TRUNCATED);
        EXPECT_EQ(part.bytes, Bytes(data.begin(), data.begin() + (2 << 15))) << threads;
        vorb_unpacker_free(c);
    }
}

// Entries for a batch: a null content is an absent entry.
struct BatchEntry {
    const char* name;
    const Bytes* content;
    size_t fail_at = SIZE_MAX;  // the entry's read fails from here on
};

// A feed over entries in memory, logging "o2" "c2" "b2" "d2" (open, close, begin, done entry 2), "p" (progress).
struct LoggingFeed {
    explicit LoggingFeed(const std::vector<BatchEntry>* e) : entries(e) {}
    const std::vector<BatchEntry>* entries;
    std::vector<MemoryReader> readers;
    std::vector<std::string> log;
    vorb_file_meta meta{0600, 5, 1700000000};
};

vorb_member_feed logging_feed(LoggingFeed& f) {
    f.readers.assign(f.entries->size(), MemoryReader{});
    return vorb_member_feed{
        [](void* ctx, unsigned i, vorb_member_input* in) {
            LoggingFeed& f = *static_cast<LoggingFeed*>(ctx);
            f.log.push_back("o" + std::to_string(i));
            const BatchEntry& e = (*f.entries)[i];
            if (!e.content) return;
            f.readers[i] = MemoryReader{e.content->data(), e.content->size(), 0, 0, e.fail_at};
            *in = vorb_member_input{memory_read, &f.readers[i], &f.meta};
        },
        [](void* ctx, unsigned i) { static_cast<LoggingFeed*>(ctx)->log.push_back("c" + std::to_string(i)); },
        [](void* ctx, unsigned i) { static_cast<LoggingFeed*>(ctx)->log.push_back("b" + std::to_string(i)); },
        [](void* ctx, unsigned i, const vorb_member_stats* s) {
            LoggingFeed& f = *static_cast<LoggingFeed*>(ctx);
            f.log.push_back("d" + std::to_string(i));
            EXPECT_EQ(s->unpacked, (*f.entries)[i].content->size());
        },
        [](void* ctx, vorb_event) { static_cast<LoggingFeed*>(ctx)->log.push_back("p"); },
        &f};
}

// Position of item in log, or -1.
long at(const std::vector<std::string>& log, const std::string& item) {
    const auto it = std::find(log.begin(), log.end(), item);
    return it == log.end() ? -1 : it - log.begin();
}

// The log of a batch: each entry opened and begun once, in archive order, a
// present one also closed (read to its end) and done once; done before the
// next begins, and the next opened before it is done (read ahead). Between
// its begin and done, an entry's blocks' progress: a sort's start and end.
void expect_feed_order(const std::vector<std::string>& log, const std::vector<BatchEntry>& entries, size_t block) {
    const auto n = [&](const std::string& item) { return std::count(log.begin(), log.end(), item); };
    for (size_t i = 0; i < entries.size(); i++) {
        const std::string k = std::to_string(i), next = std::to_string(i + 1);
        const long present = entries[i].content ? 1 : 0;
        EXPECT_EQ(std::vector<long>({n("o" + k), n("b" + k), n("c" + k), n("d" + k)}),
                  std::vector<long>({1, 1, present, present})) << k;
        EXPECT_LT(at(log, "o" + k), at(log, "b" + k)) << k;
        EXPECT_LT(i > 0 ? at(log, "o" + std::to_string(i - 1)) : -1, at(log, "o" + k)) << k;
        if (!present) continue;
        EXPECT_LT(std::max(at(log, "b" + k), at(log, "c" + k)), at(log, "d" + k)) << k;
        EXPECT_EQ(std::count(log.begin() + at(log, "b" + k), log.begin() + at(log, "d" + k), "p"),
                  2 * ((entries[i].content->size() + block - 1) / block)) << k;
        if (i + 1 == entries.size()) continue;
        EXPECT_LT(at(log, "d" + k), at(log, "b" + next)) << k;
        EXPECT_LT(at(log, "o" + next), at(log, "d" + k)) << k;
    }
}

// Packs f's entries as one batch into a new writer, the archive to out when
// given (the allocation numbered fail made to fail, when not negative).
vorb_status pack_batch(LoggingFeed& f, const char* const* names, const vorb_pack_options& opt, long fail = -1,
                       Bytes* out = nullptr, uint64_t write_limit = UINT64_MAX) {
    VectorWriter arc;
    arc.limit = write_limit;
    arc.bytes.reserve(1 << 20);
    const unsigned n = static_cast<unsigned>(f.entries->size());
    const vorb_member_feed feed = logging_feed(f);
    f.log.reserve(1000);
    fail_allocation(fail);
    vorb_status st = VORB_OK;
    vorb_writer* w = vorb_writer_create(vector_write, &arc, &opt, &st);
    if (w && (st = vorb_writer_begin(w, n)) == VORB_OK && (st = vorb_writer_add_members(w, names, n, &feed)) == VORB_OK)
        st = vorb_writer_finish(w);
    vorb_writer_free(w);
    if (out) *out = std::move(arc.bytes);  // no allocation while one may be set to fail
    return st;
}

// A batch reads ahead across entries, so that with threads an entry's blocks
// sort while the one before is coded; the archive is the same bytes as one
// call per entry gives, with or without an index, and the feed is called in
// archive order.
TEST(Api, ABatchWritesWhatOneCallPerEntryWrites) {
    const Bytes text = text_like(11, 200000), noise = random_bytes(12, 3000), none, small(10, 'x');
    const std::vector<BatchEntry> entries = {
        {"text", &text}, {"gone", nullptr}, {"empty", &none}, {"noise", &noise}, {"small", &small}, {"again", &text}};
    const vorb_file_meta meta{0600, 5, 1700000000};
    std::vector<const char*> names;
    for (const BatchEntry& e : entries) names.push_back(e.name);
    for (const int index : {0, 1}) {
        VectorWriter one;
        const vorb_pack_options single{1 << 16, 1, index};
        vorb_writer* w = vorb_writer_create(vector_write, &one, &single, nullptr);
        ASSERT_EQ(vorb_writer_begin(w, static_cast<unsigned>(entries.size())), VORB_OK);
        for (const BatchEntry& e : entries) {
            MemoryReader r{e.content ? e.content->data() : nullptr, e.content ? e.content->size() : 0};
            ASSERT_EQ(e.content ? vorb_writer_add_member(w, e.name, memory_read, &r, &meta, nullptr, nullptr, nullptr)
                                : vorb_writer_add_absent(w, e.name),
                      VORB_OK);
        }
        ASSERT_EQ(vorb_writer_finish(w), VORB_OK);
        vorb_writer_free(w);

        for (const int threads : {1, 2, 3}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + ", index " + std::to_string(index));
            LoggingFeed f{&entries};
            Bytes arc;
            ASSERT_EQ(pack_batch(f, names.data(), vorb_pack_options{1 << 16, threads, index}, -1, &arc), VORB_OK);
            EXPECT_EQ(arc, one.bytes);
            expect_feed_order(f.log, entries, 1 << 16);
        }
    }
}

// A failed read ends the batch: no later entry is opened, the failing one is
// closed, never done. After a failed write (256 kB in) no more files are read.
TEST(Api, AFailedReadOrWriteEndsTheBatch) {
    const Bytes text = text_like(13, 150000), noise = random_bytes(15, 150000);
    const std::vector<BatchEntry> entries = {{"a", &text}, {"b", &text, 70000}, {"c", &text}, {"d", &text}},
                                  noisy(6, BatchEntry{"n", &noise});
    const char* const names[] = {"a", "b", "c", "d", "e", "f"};
    for (const int threads : {1, 2}) {
        LoggingFeed f{&entries}, g{&noisy};
        EXPECT_EQ(pack_batch(f, names, vorb_pack_options{1 << 16, threads, 1}), VORB_ERR_READ) << threads;
        EXPECT_EQ(std::vector<long>({at(f.log, "o2"), at(f.log, "d1")}), std::vector<long>({-1, -1})) << threads;
        EXPECT_NE(at(f.log, "c1"), -1) << threads;
        EXPECT_EQ(pack_batch(g, names, vorb_pack_options{1 << 16, threads, 1}, -1, nullptr, 0), VORB_ERR_WRITE);
        EXPECT_EQ(at(g.log, "o5"), -1) << threads;
    }
}

// Each allocation of a batch made to fail in turn: the batch says so or
// succeeds with the archive no failure gives, and every entry it opened is
// closed once whatever failed.
TEST(Api, EveryEntryOpenedIsClosedWhateverFails) {
    const Bytes text = text_like(14, 80000);
    const std::vector<BatchEntry> entries = {{"a", &text}, {"b", &text}, {"gone", nullptr}};
    const char* const names[] = {"a", "b", "gone"};
    const vorb_pack_options opt{1 << 15, 1, 1};
    LoggingFeed whole_feed{&entries};
    Bytes whole;
    ASSERT_EQ(pack_batch(whole_feed, names, opt, -1, &whole), VORB_OK);
    int refused = 0;
    for (long k = 0;; k++) {
        LoggingFeed f{&entries};
        Bytes arc;
        const vorb_status st = pack_batch(f, names, opt, k, &arc);
        const bool none_failed = fail_allocation(-1) >= 0;
        if (st == VORB_OK) {
            EXPECT_TRUE(arc == whole) << "allocation " << k;
        }
        for (const std::string i : {"0", "1"})
            EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "o" + i), std::count(f.log.begin(), f.log.end(), "c" + i))
                << "allocation " << k << ", entry " << i;
        if (st == VORB_OK && none_failed) break;
        EXPECT_TRUE(st == VORB_OK || st == VORB_ERR_MEMORY) << "allocation " << k << ": " << st;
        refused += st != VORB_OK;
    }
    EXPECT_GT(refused, 2);
}

}  // namespace
