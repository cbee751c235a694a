// Runs the forward transform on a block held in buffers laid out like the
// packer's (zeroed guard in front, one spare byte after, n + 1 index entries).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sort/forward.h"

using SorterPtr = std::unique_ptr<Sorter, decltype(&sorter_destroy)>;
inline SorterPtr make_sorter() { return SorterPtr(sorter_create(), sorter_destroy); }

struct ForwardResult {
    bool ok = false;
    std::vector<uint8_t> transformed;
    int32_t primary = -1;
    std::vector<ProgressEvent> progress;  // the events sent to the progress sink
};

// n = block.size() >= 1.
ForwardResult run_forward(Sorter& s, const std::vector<uint8_t>& block, const SortHelper* helper = nullptr);
// Runs the transform and compares it with the oracle's; reports through
// gtest and returns whether they agree.
bool matches_oracle(Sorter& s, const std::vector<uint8_t>& block);

// Data makers, deterministic (random bytes: random_bytes in cli_run.h).
std::vector<uint8_t> repeat_pattern(const std::vector<uint8_t>& pattern, size_t n);
std::vector<uint8_t> bytes_of(const std::string& text);
// The corpus files one after another.
std::vector<uint8_t> corpus_bytes();
// Sequences that repeat a great deal without being periodic.
std::vector<uint8_t> fibonacci_word(size_t n);
std::vector<uint8_t> thue_morse_word(size_t n);
