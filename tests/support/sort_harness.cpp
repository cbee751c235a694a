#include "support/sort_harness.h"

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "dc/block_buffers.h"
#include "support/cli_run.h"
#include "support/oracle.h"

ForwardResult run_forward(Sorter& s, const std::vector<uint8_t>& block, const SortHelper* helper) {
    ForwardResult r;
    const int32_t n = static_cast<int32_t>(block.size());
    BlockBuffers b;
    if (!setup_buffers(b, static_cast<uint32_t>(n), false)) return r;
    std::memcpy(b.block_start, block.data(), block.size());
    ProgressSink sink{[](void* ctx, ProgressEvent e) { static_cast<std::vector<ProgressEvent>*>(ctx)->push_back(e); },
                      &r.progress};
    r.ok = forward_transform(s, b.block_start, n, b.index, sink, r.primary, helper);
    const uint8_t* out = reinterpret_cast<const uint8_t*>(b.index);
    r.transformed.assign(out, out + n);
    release_buffers(b);
    return r;
}

bool matches_oracle(Sorter& s, const std::vector<uint8_t>& block) {
    const ForwardResult r = run_forward(s, block);
    const OracleTransform o = oracle_transform(block);
    const std::vector<ProgressEvent> one_sort{ProgressEvent::sort_started, ProgressEvent::sort_ended};
    const bool same = r.ok && r.primary == o.primary && r.transformed == o.transformed && r.progress == one_sort;
    EXPECT_TRUE(same) << "ok " << r.ok << ", primary " << r.primary << " for " << o.primary << ", progress "
                      << r.progress.size() << " events, transformed bytes differ: " << (r.transformed != o.transformed);
    return same;
}

std::vector<uint8_t> repeat_pattern(const std::vector<uint8_t>& pattern, size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = pattern[i % pattern.size()];
    return v;
}

std::vector<uint8_t> bytes_of(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> corpus_bytes() {
    std::vector<uint8_t> all;
    for (const std::string& name : corpus_files()) {
        const std::vector<uint8_t> bytes = read_corpus_file(name);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all;
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
