// The inverse transform: exactly the real transforms invert, on every path.
// (Damaged large transforms: the block-decode fuzz seeds and their flips.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <thread>

#include "dc/block_buffers.h"
#include "inverse/invert_block.h"
#include "support/oracle.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(InverseTransform, AcceptsExactlyTheRealTransforms) {
    // Every (t, primary) over a two-letter alphabet up to 7 bytes: either it
    // inverts to bytes whose transform it is, or it is no transform at all.
    // Blocks of 8 bytes or more also go through the path for huge blocks.
    for (int32_t n = 1; n <= 10; n++) {
        std::set<std::string> real;  // transformed bytes followed by the primary index
        for (uint32_t bits = 0; bits < (1u << n); bits++) {
            Bytes s(n);
            for (int32_t i = 0; i < n; i++) s[i] = (bits >> i) & 1 ? 'b' : 'a';
            const OracleTransform o = oracle_transform(s);
            real.insert(std::string(o.transformed.begin(), o.transformed.end()) + static_cast<char>('0' + o.primary));
        }
        int accepted = 0;
        for (uint32_t bits = 0; bits < (1u << n); bits++)
            for (int32_t primary = 0; primary < n; primary++) {
                Bytes t(n);
                for (int32_t i = 0; i < n; i++) t[i] = (bits >> i) & 1 ? 'b' : 'a';
                Bytes block = t;
                std::vector<int32_t> links(n, 1 << 30), scratch(n, 1 << 30);
                int32_t buckets[256];
                const Status st = invert_block(buckets, block.data(), n, primary, links.data(), scratch.data());
                {  // the same block inverted at the end of a next block's decoding
                    Bytes held = t;
                    PendingInverse p;
                    inverse_begin(p, nullptr, buckets, held.data(), n, primary, links.data(), scratch.data());
                    ASSERT_EQ(inverse_tick(p).fn, nullptr);  // too small to walk a step at a time
                    ASSERT_EQ(inverse_end(p, nullptr), st);
                    EXPECT_TRUE(st != Status::ok || held == block);
                }
                const bool is_real = real.count(std::string(t.begin(), t.end()) + static_cast<char>('0' + primary)) > 0;
                ASSERT_EQ(st == Status::ok, is_real) << "n " << n << " primary " << primary;
                if (n >= 8) {
                    Bytes wide = t;
                    std::vector<int32_t> l2(n, 1 << 30), s2(n, 1 << 30);
                    const Status st2 = invert_block_plain(buckets, wide.data(), n, primary, l2.data(), s2.data(), true);
                    ASSERT_EQ(st2, st) << "n " << n << " primary " << primary;
                    EXPECT_TRUE(st2 != Status::ok || wide == block);
                }
                if (st == Status::ok) {
                    const OracleTransform back = oracle_transform(block);
                    EXPECT_TRUE(back.transformed == t && back.primary == primary) << "n " << n;
                    accepted++;
                }
            }
        EXPECT_EQ(accepted, static_cast<int>(real.size()));
    }
}

// Past 2^24 bytes row numbers no longer fit beside a byte. A block whose
// bytes never fall sorts its positions in order (each context extends the
// one before): its transform is the block turned left by one byte.
TEST(InverseTransform, BlocksPast16MiB) {
    const int32_t n = (1 << 24) + 1000;
    Bytes s(n);
    for (int32_t i = 0; i < n; i++) s[i] = static_cast<uint8_t>(i / 65700);
    BlockBuffers buf;
    ASSERT_TRUE(setup_buffers(buf, static_cast<uint32_t>(n), true));
    std::copy(s.begin() + 1, s.end(), buf.block_start);
    buf.block_start[n - 1] = s[0];
    int32_t buckets[256];
    ASSERT_EQ(invert_block(buckets, buf.block_start, n, n - 1, buf.index, buf.distance), Status::ok);
    EXPECT_TRUE(std::equal(s.begin(), s.end(), buf.block_start));
    release_buffers(buf);
}

// Helpers that take every walk before the caller starts, join too late to
// find one, or share the walks on threads (more of them than a block takes),
// with the walks run whole or first stepped by a next block's decoding part
// way or to their end: the bytes come back the same, and a damaged block is
// refused the same way.
struct Crew {
    int threads, when;  // when: 1 takes every walk on invitation, 2 joins on dismissal
    std::vector<std::thread> running = {};
    void (*work)(void*) = nullptr;
    void* arg = nullptr;
};

TEST(InverseTransform, WalksSharedWithHelpers) {
    const int32_t n = many_walks_min_block + 12345;
    Bytes s(n);
    uint32_t x = 1;
    for (uint8_t& b : s) b = static_cast<uint8_t>("abcdefgh"[(x = x * 1103515245 + 12345) >> 29]);
    const OracleTransform o = oracle_transform(s);
    for (const bool damaged : {false, true})
        for (const int stepped : {-1, 0, 1, 2})  // -1: at once; else ticks of a next block of 0, n/3 or 3n bytes
        for (const int kind : {-1, 0, 1, 2, 3}) {  // -1: no helpers
            Crew crew{kind == 3 ? 5 : kind == 0, kind};
            const HelperThreads helpers{[](void* ctx, void (*work)(void*), void* arg) {
                                          Crew& c = *static_cast<Crew*>(ctx);
                                          c.work = work, c.arg = arg;
                                          if (c.when == 1) work(arg);
                                          for (int i = 0; i < c.threads; i++) c.running.emplace_back(work, arg);
                                      },
                                      [](void* ctx) {
                                          Crew& c = *static_cast<Crew*>(ctx);
                                          for (std::thread& t : c.running) t.join();
                                          if (c.when == 2) c.work(c.arg);
                                      },
                                      &crew};
            Bytes t = o.transformed;
            if (damaged) std::swap(t[1000], t[n - 1000]);
            std::vector<int32_t> links(n), scratch(n);
            int32_t buckets[256];
            Status st;
            if (stepped < 0) {
                st = invert_block(buckets, t.data(), n, o.primary, links.data(), scratch.data(),
                                  kind < 0 ? nullptr : &helpers);
            } else {
                PendingInverse p;
                // Counted here, or given as the distance decoder counts them.
                int32_t counts[256] = {};
                for (const uint8_t b : t) counts[b]++;
                inverse_begin(p, stepped == 1 ? counts : nullptr, buckets, t.data(), n, o.primary, links.data(),
                              scratch.data());
                const DecodeTick tick = inverse_tick(p);
                ASSERT_NE(tick.fn, nullptr);
                const int32_t next = std::array{0, n / 3, 3 * n}[stepped];
                for (int32_t at = 0; at < next;) at = tick.fn(tick.ctx, std::max(at, 1), next);
                st = inverse_end(p, kind < 0 ? nullptr : &helpers);
            }
            EXPECT_EQ(st, damaged ? Status::bad_transform : Status::ok) << kind << " " << stepped;
            EXPECT_TRUE(damaged || t == s) << kind << " " << stepped;
        }
}

}  // namespace
