// Sort rates of the forward transform on a few 4 MiB blocks, beside
// libdivsufsort's divbwt on the same bytes.
//
// usage: sort_bench CORPUS_DIR REPEATS BINARY_FILE...
// The binary block is the binary files one after another, cut to 4 MiB.
#include <divsufsort.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "dc/block_buffers.h"
#include "sort/forward.h"
#include "sort/sorter.h"

namespace {

constexpr size_t block = default_block_size;

std::vector<uint8_t> read_all(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Files of the directory (sorted by name) one after another, cut to a block.
std::vector<uint8_t> concatenated(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() != ".md") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<uint8_t> out;
    for (const auto& f : files) {
        const auto bytes = read_all(f);
        out.insert(out.end(), bytes.begin(), bytes.end());
        if (out.size() >= block) break;
    }
    return out;
}

// Repeats the bytes until the block is full.
std::vector<uint8_t> filled(std::vector<uint8_t> seed) {
    std::vector<uint8_t> out(block);
    for (size_t i = 0; i < block; ++i) out[i] = seed[i % seed.size()];
    return out;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Rates {
    double ours;
    double divbwt;
};

Rates measure(Sorter& s, const std::vector<uint8_t>& bytes, int repeats) {
    const int32_t n = static_cast<int32_t>(std::min(bytes.size(), block));
    BlockBuffers b;
    if (!setup_buffers(b, static_cast<uint32_t>(n), false)) return {0, 0};
    double best = 1e30;
    for (int r = 0; r < repeats; ++r) {
        std::memcpy(b.block_start, bytes.data(), static_cast<size_t>(n));
        int32_t primary = 0;
        const auto t0 = std::chrono::steady_clock::now();
        if (!forward_transform(s, b.block_start, n, b.index, ProgressSink{}, primary)) return {0, 0};
        best = std::min(best, seconds_since(t0));
    }
    std::vector<uint8_t> out(static_cast<size_t>(n));
    double best_div = 1e30;
    for (int r = 0; r < repeats; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        divbwt(bytes.data(), out.data(), b.index, n);
        best_div = std::min(best_div, seconds_since(t0));
    }
    release_buffers(b);
    const double mb = n / 1e6;
    return {mb / best, mb / best_div};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR REPEATS BINARY_FILE...\n", argv[0]);
        return 2;
    }
    const int repeats = std::max(1, std::atoi(argv[2]));
    std::mt19937 rng(1);
    std::vector<uint8_t> pattern(1000);
    for (auto& c : pattern) c = static_cast<uint8_t>(rng());

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"text (corpus concatenated)", concatenated(argv[1])});
    std::vector<uint8_t> binary;
    for (int i = 3; i < argc && binary.size() < block; ++i) {
        const auto bytes = read_all(argv[i]);
        binary.insert(binary.end(), bytes.begin(), bytes.end());
    }
    if (binary.size() > block) binary.resize(block);
    cases.push_back({"binary (shared libraries)", binary});
    cases.push_back({"random 1000-byte pattern", filled(pattern)});
    cases.push_back({"period 2 (ab)", filled({'a', 'b'})});
    cases.push_back({"one byte repeated", filled({'x'})});

    Sorter* s = sorter_create();
    if (!s) return 1;
    std::printf("%-30s %10s %12s %12s\n", "block", "bytes", "vorb MB/s", "divbwt MB/s");
    for (const Case& c : cases) {
        const Rates r = measure(*s, c.bytes, repeats);
        std::printf("%-30s %10zu %12.2f %12.2f\n", c.name, std::min(c.bytes.size(), block), r.ours, r.divbwt);
        std::fflush(stdout);
    }
    sorter_destroy(s);
    return 0;
}
