#include "support/sort_harness.h"

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "dc/block_buffers.h"
#include "support/cli_run.h"
#include "support/oracle.h"

namespace {

void collect(void* ctx, char c) { static_cast<std::string*>(ctx)->push_back(c); }

}  // namespace

ForwardResult run_forward(Sorter& s, const std::vector<uint8_t>& block) {
    ForwardResult r;
    const int32_t n = static_cast<int32_t>(block.size());
    BlockBuffers b;
    if (!setup_buffers(b, static_cast<uint32_t>(n), false)) return r;
    std::memcpy(b.block_start, block.data(), block.size());
    ProgressSink sink{collect, &r.progress};
    r.ok = forward_transform(s, b.block_start, n, b.index, sink, r.primary);
    const uint8_t* out = reinterpret_cast<const uint8_t*>(b.index);
    r.transformed.assign(out, out + n);
    release_buffers(b);
    return r;
}

bool matches_oracle(Sorter& s, const std::vector<uint8_t>& block) {
    const ForwardResult r = run_forward(s, block);
    const OracleTransform o = oracle_transform(block);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.primary, o.primary);
    EXPECT_TRUE(r.transformed == o.transformed) << "transformed block differs from the oracle's";
    EXPECT_EQ(r.progress, "D\bW");
    return r.ok && r.primary == o.primary && r.transformed == o.transformed && r.progress == "D\bW";
}

std::vector<uint8_t> repeat_pattern(const std::vector<uint8_t>& pattern, size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = pattern[i % pattern.size()];
    return v;
}

std::vector<uint8_t> bytes_of(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<CorpusBlock> corpus_blocks(size_t max_block) {
    std::vector<CorpusBlock> blocks;
    for (const std::string& name : corpus_files()) {
        const std::vector<uint8_t> bytes = read_corpus_file(name);
        for (size_t at = 0; at < bytes.size(); at += max_block) {
            const size_t len = std::min(max_block, bytes.size() - at);
            blocks.push_back({name, std::vector<uint8_t>(bytes.begin() + static_cast<ptrdiff_t>(at),
                                                         bytes.begin() + static_cast<ptrdiff_t>(at + len))});
        }
    }
    return blocks;
}

std::vector<uint8_t> fibonacci_word(size_t n) {
    std::string a = "a";
    std::string b = "ab";
    while (b.size() < n) {
        std::string next = b + a;
        a = std::move(b);
        b = std::move(next);
    }
    b.resize(n);
    return bytes_of(b);
}

std::vector<uint8_t> thue_morse_word(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = (__builtin_popcountll(i) & 1) ? 'b' : 'a';
    return v;
}
