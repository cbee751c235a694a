// Runs the forward transform on a block held in buffers laid out like the
// packer's (zeroed guard in front, one spare byte after, n + 1 index entries).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sort/forward.h"

struct SorterDeleter {
    void operator()(Sorter* s) const { sorter_destroy(s); }
};
using SorterPtr = std::unique_ptr<Sorter, SorterDeleter>;
inline SorterPtr make_sorter() { return SorterPtr(sorter_create()); }

struct ForwardResult {
    bool ok = false;
    std::vector<uint8_t> transformed;
    int32_t primary = -1;
    std::string progress;  // the characters sent to the progress sink
};

// n = block.size() >= 1.
ForwardResult run_forward(Sorter& s, const std::vector<uint8_t>& block);

// Runs the transform and compares it with the oracle's; reports through
// gtest and returns whether they agree.
bool matches_oracle(Sorter& s, const std::vector<uint8_t>& block);

// Data makers, deterministic (random bytes: random_bytes in cli_run.h).
// pattern repeated to n bytes.
std::vector<uint8_t> repeat_pattern(const std::vector<uint8_t>& pattern, size_t n);
std::vector<uint8_t> bytes_of(const std::string& text);
// Every file of the corpus cut into blocks of at most max_block bytes.
struct CorpusBlock {
    std::string name;
    std::vector<uint8_t> bytes;
};
std::vector<CorpusBlock> corpus_blocks(size_t max_block);
// Sequences that repeat a great deal without being periodic.
std::vector<uint8_t> fibonacci_word(size_t n);
std::vector<uint8_t> thue_morse_word(size_t n);
