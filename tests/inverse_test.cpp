// The inverse transform: exactly the real transforms invert, on every path.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "dc/block_buffers.h"
#include "inverse/decode_block.h"
#include "support/sort_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The transform by its definition: rows ordered by the bytes read backwards
// from each position, a shorter reading first.
std::pair<Bytes, int32_t> slow_transform(const Bytes& s) {
    const int32_t n = static_cast<int32_t>(s.size());
    std::vector<int32_t> rows(n);
    for (int32_t i = 0; i < n; i++) rows[i] = i;
    std::sort(rows.begin(), rows.end(), [&](int32_t a, int32_t b) {
        for (; a >= 0 && b >= 0; a--, b--)
            if (s[a] != s[b]) return s[a] < s[b];
        return a < b;
    });
    Bytes t(n);
    int32_t primary = -1;
    for (int32_t j = 0; j < n; j++) {
        if (rows[j] == n - 1) primary = j;
        t[j] = rows[j] == n - 1 ? s[0] : s[rows[j] + 1];
    }
    return {t, primary};
}

TEST(InverseTransform, AcceptsExactlyTheRealTransforms) {
    // Every (t, primary) over a two-letter alphabet up to 7 bytes: either it
    // inverts to bytes whose transform it is, or it is no transform at all.
    // Blocks of 8 bytes or more also go through the path for huge blocks.
    for (int32_t n = 1; n <= 10; n++) {
        std::set<std::string> real;  // transformed bytes followed by the primary index
        for (uint32_t bits = 0; bits < (1u << n); bits++) {
            Bytes s(n);
            for (int32_t i = 0; i < n; i++) s[i] = (bits >> i) & 1 ? 'b' : 'a';
            const auto [t, primary] = slow_transform(s);
            real.insert(std::string(t.begin(), t.end()) + static_cast<char>('0' + primary));
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
                    EXPECT_EQ(slow_transform(block), std::make_pair(t, primary));
                    accepted++;
                }
            }
        EXPECT_EQ(accepted, static_cast<int>(real.size()));
    }
}

// Large blocks take the many-walks path; the forward sort is the reference.
TEST(InverseTransform, LargeBlocksInvertOrAreRejected) {
    const int32_t n = 400000;
    std::mt19937 rng(21);
    Bytes s(n);
    for (auto& b : s) b = static_cast<uint8_t>("abcde  \n"[rng() % 8]);
    const ForwardResult fwd = run_forward(*make_sorter(), s);
    ASSERT_TRUE(fwd.ok);
    BlockBuffers buf;
    ASSERT_TRUE(setup_buffers(buf, static_cast<uint32_t>(n), true));
    int32_t buckets[256];
    int rejected = 0;
    for (int trial = 0; trial < 13; trial++) {
        Bytes damaged = fwd.transformed;
        int32_t p = fwd.primary;
        if (trial % 3 == 1)
            p = static_cast<int32_t>(rng() % n);
        else if (trial > 0)
            std::swap(damaged[rng() % n], damaged[rng() % n]);
        std::copy(damaged.begin(), damaged.end(), buf.block_start);
        const Status st = invert_block(buckets, buf.block_start, n, p, buf.index, buf.distance);
        EXPECT_TRUE(trial > 0 || (st == Status::ok && std::equal(s.begin(), s.end(), buf.block_start)));
        // The path for huge blocks must judge the same block the same way.
        std::vector<int32_t> links(n), scratch(n);
        EXPECT_EQ(invert_block_plain(buckets, damaged.data(), n, p, links.data(), scratch.data(), true), st);
        EXPECT_TRUE(st != Status::ok || std::equal(damaged.begin(), damaged.end(), buf.block_start));
        rejected += st == Status::bad_transform;
    }
    EXPECT_GT(rejected, 0);
    release_buffers(buf);
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

}  // namespace
