// Repetitive blocks: contexts that agree far past the depth limit, which the
// sort orders by copying from nearby sorted positions, by period, through the
// compare cache or, failing all, by the whole-block sort. Every answer is
// checked against the oracle.
#include <gtest/gtest.h>

#include <pthread.h>

#include <random>
#include <thread>

#include "sort/sorter.h"
#include "support/cli_run.h"
#include "support/oracle.h"
#include "support/sort_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes periodic(uint32_t seed, size_t period, unsigned alphabet, size_t n) {
    return repeat_pattern(random_bytes(seed, period, alphabet), n);
}

// A few bytes replaced at random places.
Bytes with_changes(Bytes v, uint32_t seed, int changes) {
    std::mt19937 rng(seed);
    for (int k = 0; k < changes; ++k) v[rng() % v.size()] = static_cast<uint8_t>(rng());
    return v;
}

// Periods 1 to 40 and past the depth limit, clean, with changed bytes, and
// framed by random bytes so that repetitions start and end within a few
// bytes of the block's ends: every way of ordering a repetition.
TEST(SortRepetition, PeriodicBlocks) {
    SorterPtr s = make_sorter();
    std::vector<size_t> periods = {151, 152, 200, 333, 1000};
    for (size_t p = 1; p <= 40; ++p) periods.push_back(p);
    for (size_t period : periods)
        for (unsigned alphabet : {2u, 4u, 256u}) {
            SCOPED_TRACE(::testing::Message() << "period " << period << " alphabet " << alphabet);
            const uint32_t seed = static_cast<uint32_t>(period * 1000 + alphabet);
            const Bytes clean = periodic(seed, period, alphabet, period >= 151 ? 12 * period : 6000);
            const auto framed = [&](size_t before, size_t after) {
                Bytes v = random_bytes(seed, before, 256), tail = random_bytes(seed + 1, after, 256);
                v.insert(v.end(), clean.begin(), clean.end());
                v.insert(v.end(), tail.begin(), tail.end());
                return v;
            };
            bool ok = matches_oracle(*s, clean) && matches_oracle(*s, with_changes(clean, seed, 4));
            for (size_t edge : {1, 7, 31}) ok = ok && matches_oracle(*s, framed(edge, 31 - edge)) && matches_oracle(*s, framed(32, edge));
            if (!ok) return;
        }
}

// Mixtures of periodic stretches, copies of earlier bytes and noise over
// small alphabets. Among them are blocks where a range's nearest sorted
// neighbour lies in its own bucket but the neighbours it would copy from are
// still unsorted (or in the range itself); copying then would be wrong, and
// the sort must notice and sort the range another way.
Bytes structured_repeats(std::mt19937& rng) {
    Bytes b;
    const size_t n = 2000 + rng() % 20000;
    const unsigned alphabet = 2 + rng() % 3;
    const bool noisy = rng() % 4 != 0;
    while (b.size() < n) {
        switch (rng() % 4) {
            case 0: {
                const auto p = random_bytes(rng(), 1 + rng() % 12, alphabet);
                const size_t len = (1 + rng() % 30) * p.size() + rng() % 5;
                for (size_t i = 0; i < len; ++i) b.push_back(p[i % p.size()]);
                break;
            }
            case 1:
                if (b.size() > 10) {
                    const size_t from = rng() % b.size();
                    const size_t len = 1 + rng() % std::min<size_t>(500, b.size() - from);
                    for (size_t i = 0; i < len; ++i) b.push_back(b[from + i]);
                }
                break;
            case 2: b.push_back(static_cast<uint8_t>(rng() % alphabet)); break;
            default: {
                const auto p = random_bytes(rng(), 2 + rng() % 30, alphabet);
                const size_t reps = 5 + rng() % 40;
                for (size_t r = 0; r < reps; ++r) {
                    b.insert(b.end(), p.begin(), p.end());
                    if (noisy && rng() % 3 == 0) b.push_back(static_cast<uint8_t>(rng() % alphabet));
                }
            }
        }
    }
    return b;
}

// Besides those: runs of a short pattern of random length (the partners a
// range copies from are spread thinly through a large bucket, so some copies
// are given up), zeros at the start (contexts tie in the zeros in front of
// the block), 255 at the end (the sentinel's value), and sequences that
// repeat everywhere without a period, which defeat every way of copying
// order and go to the whole-block sort.
TEST(SortRepetition, StructuredRunsBlockEndsAndAperiodicBlocks) {
    std::vector<Bytes> blocks = {Bytes(1 << 20, 'x'), Bytes(5000, 0)};
    for (uint32_t seed : {33u, 6u}) {
        std::mt19937 rng(seed);
        for (int i = 0; i < 60; ++i) blocks.push_back(structured_repeats(rng));
    }
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        std::mt19937 rng(seed);
        Bytes v;
        while (v.size() < 50000) {
            for (uint32_t k = rng() % 50; k > 0; --k) v.insert(v.end(), {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'd'});
            v.push_back('x');
        }
        blocks.push_back(v);
    }
    for (size_t zeros : {1, 2, 3, 4, 5, 150, 151, 300, 3000}) {
        Bytes v(zeros, 0);
        const auto tail = zeros == 3000 ? periodic(5, 3, 256, 3000) : random_bytes(uint32_t(zeros), 2000, 4);
        v.insert(v.end(), tail.begin(), tail.end());
        blocks.push_back(v);
    }
    for (size_t len : {2, 3, 4, 100, 5000}) {
        blocks.push_back(random_bytes(static_cast<uint32_t>(len), len, 256));
        blocks.back()[len - 1] = blocks.back()[len - 2] = 255;
        blocks.push_back(Bytes(len, 255));
        blocks.push_back(periodic(static_cast<uint32_t>(len), 2, 256, len));
        blocks.back().insert(blocks.back().end(), {255, 255});
    }
    for (const char* pair : {"ab", "ba"})  // a two-byte value repeated with a few changes
        for (uint32_t seed = 1; seed <= 4; ++seed) blocks.push_back(with_changes(repeat_pattern(bytes_of(pair), 20000), seed, 10));
    for (size_t n : {10000, 1 << 19}) {
        blocks.push_back(fibonacci_word(n));
        blocks.push_back(thue_morse_word(n));
    }
    SorterPtr s = make_sorter();
    size_t whole_block_sorts = 0;  // blocks past the work budget
    for (size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << "block " << i << " of " << blocks[i].size() << " bytes");
        if (!matches_oracle(*s, blocks[i])) return;
        whole_block_sorts += s->over_budget;
    }
    EXPECT_GT(whole_block_sorts, 0u);
}

// Large blocks the repetition handling must order without the slower
// whole-block sort: a full block of the corpus files one after another (they
// repeat among themselves), and periodic data with and without changed
// bytes. The sort's work lives on an explicit stack: they sort on a thread
// with a small call stack.
TEST(SortRepetition, LargeBlocksStayOffTheWholeBlockSortAndTheCallStack) {
    Bytes corpus = corpus_bytes();
    ASSERT_GE(corpus.size(), 1u << 22);
    corpus.resize(1u << 22);
    for (const Bytes& block : {corpus, periodic(11, 1000, 256, 1 << 20), periodic(12, 7, 4, 1 << 20),
                               with_changes(repeat_pattern(bytes_of("ab"), 1 << 20), 3, 20), fibonacci_word(1 << 18)}) {
        SCOPED_TRACE(::testing::Message() << "block of " << block.size() << " bytes, starting " << int(block[0]));
        struct Run {
            const Bytes& block;
            SorterPtr sorter = make_sorter();
            ForwardResult result;
        } run{block, make_sorter(), {}};
        pthread_attr_t attr;
        ASSERT_EQ(pthread_attr_init(&attr), 0);
        ASSERT_EQ(pthread_attr_setstacksize(&attr, 128 * 1024), 0);
        pthread_t thread;
        const auto sort = [](void* arg) -> void* {
            auto* r = static_cast<Run*>(arg);
            r->result = run_forward(*r->sorter, r->block);
            return nullptr;
        };
        ASSERT_EQ(pthread_create(&thread, &attr, sort, &run), 0);
        pthread_join(thread, nullptr);
        pthread_attr_destroy(&attr);
        const OracleTransform expected = oracle_transform(block);
        EXPECT_TRUE(run.result.ok && run.result.primary == expected.primary && run.result.transformed == expected.transformed);
        EXPECT_FALSE(run.sorter->over_budget);
    }
}

// A helper's share of a block's buckets, in its own sorter: taken before the
// owner starts, sent away after a few buckets (the owner takes the rest),
// arriving once the owner is done (nothing left), or on a thread of its own
// (under the thread sanitizer). Repetitive blocks copy order only from
// buckets the same sorter finished; in the last, the helper's part alone
// (an aperiodic two-letter word above some text) runs past the budget.
TEST(SortHelper, SharedBucketsMatchTheOracle) {
    Bytes corpus = corpus_bytes();
    corpus.resize(1u << 18);
    Bytes over = random_bytes(5, 1 << 16, 26);
    for (uint8_t& c : over) c += 'A';
    for (uint8_t c : thue_morse_word(1 << 19)) over.push_back(c == 'a' ? 'y' : 'z');
    struct Helping {
        int mode;  // 0 at once, 1 sent away, 2 too late, 3 a thread
        int asked = 0;
        void (*work)(void*) = nullptr;
        void* arg = nullptr;
        std::thread thread{};
    };
    const HelperThreads helpers{[](void* ctx, void (*work)(void*), void* arg) {
                              auto& h = *static_cast<Helping*>(ctx);
                              h.work = work;
                              h.arg = arg;
                              if (h.mode < 2) work(arg);
                              if (h.mode == 3) h.thread = std::thread(work, arg);
                          },
                          [](void* ctx) {
                              auto& h = *static_cast<Helping*>(ctx);
                              if (h.mode == 2) h.work(h.arg);
                              if (h.mode == 3) h.thread.join();
                          },
                          nullptr};
    for (const Bytes& block : {corpus, periodic(11, 1000, 256, 1 << 18), periodic(12, 7, 4, 1 << 18),
                               with_changes(repeat_pattern(bytes_of("ab"), 1 << 18), 3, 20), over}) {
        const OracleTransform expected = oracle_transform(block);
        for (int mode = 0; mode < 4; mode += block == over ? 3 : 1) {
            SCOPED_TRACE(::testing::Message() << block.size() << " bytes starting " << int(block[0]) << ", mode " << mode);
            Helping h{mode};
            SorterPtr owner = make_sorter(), helper = make_sorter();
            HelperThreads with_ctx = helpers;
            with_ctx.ctx = &h;
            const SortHelper share{with_ctx, helper.get(), [](void* ctx) {
                                       auto& h = *static_cast<Helping*>(ctx);
                                       return h.mode != 1 || ++h.asked < 4;
                                   }};
            const ForwardResult r = run_forward(*owner, block, &share);
            EXPECT_TRUE(r.ok && r.primary == expected.primary && r.transformed == expected.transformed);
            if (block == corpus && mode < 3) {  // a thread may start too late to help
                EXPECT_EQ(helper->work + helper->shallow_work > 0, mode != 2);
            } else if (block == over && mode == 0) {
                EXPECT_TRUE(helper->over_budget);
            }
        }
    }
}

}  // namespace
