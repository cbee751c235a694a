// The fuzz targets' checks without libFuzzer: every seed of fuzz/corpus/ goes
// through the same entry functions, and so do single-bit flips and every cut
// of the seed archives, so an ordinary test run covers what the fuzzers
// start from.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../fuzz/block_decode_target.h"
#include "../fuzz/recovery_target.h"
#include "../fuzz/round_trip_target.h"
#include "../fuzz/salvage_target.h"
#include "../fuzz/unpack_target.h"
#include "support/cli_run.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::vector<Bytes> seeds(const std::string& target) {
    std::vector<Bytes> out;
    for (const auto& e : fs::directory_iterator(fs::path(__FILE__).parent_path().parent_path() / "fuzz/corpus" / target))
        out.push_back(read_file(e.path().string()));
    return out;
}

TEST(FuzzSeeds, UnpackSeedsTheirFlipsAndCuts) {
    const std::vector<Bytes> archives = seeds("unpack");
    ASSERT_GE(archives.size(), 4u);
    for (const Bytes& a : archives) {
        // The seeds are intact archives: the target must find every member.
        vorb_archive_info info;
        ASSERT_EQ(vorb_header_parse(a.data(), a.size(), &info), VORB_OK);
        fuzz_unpack::unpack_input(a.data(), a.size());
        // Every bit of the headers, names and stream starts; past that a sample.
        for (size_t bit = 0; bit < a.size() * 8; bit += bit < 256 * 8 ? 1 : 7) {
            Bytes flipped = a;
            flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            fuzz_unpack::unpack_input(flipped.data(), flipped.size());
        }
        for (size_t cut = 0; cut < a.size(); cut++) fuzz_unpack::unpack_input(a.data(), cut);
    }
}

TEST(FuzzSeeds, SalvageSeedsTheirFlipsAndCuts) {
    const std::vector<Bytes> archives = seeds("salvage");
    ASSERT_GE(archives.size(), 6u);
    for (const Bytes& a : archives) {
        fuzz_salvage::salvage_input(a.data(), a.size());
        // A damaged header means blocks of the default size: fewer of those.
        for (size_t bit = 80; bit < a.size() * 8; bit += 29) {
            Bytes flipped = a;
            flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            fuzz_salvage::salvage_input(flipped.data(), flipped.size());
        }
        for (size_t cut = 10; cut < a.size(); cut += 13) fuzz_salvage::salvage_input(a.data(), cut);
    }
}

TEST(FuzzSeeds, BlockDecodeSeedsAndTheirFlips) {
    const std::vector<Bytes> streams = seeds("block_decode");
    ASSERT_GE(streams.size(), 3u);
    for (const Bytes& s : streams) {
        fuzz_block_decode::block_decode_input(s.data(), s.size());
        // A large block costs a sort of its own per flip: fewer of them.
        const size_t stride = fuzz_block_decode::block_size_of(s.data()) > 65536 ? 9 : 1;
        for (size_t bit = 16; bit < s.size() * 8; bit += bit < 64 * 8 ? stride : 5) {
            Bytes flipped = s;
            flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            fuzz_block_decode::block_decode_input(flipped.data(), flipped.size());
        }
    }
}

TEST(FuzzSeeds, RoundTripSeeds) {
    const std::vector<Bytes> inputs = seeds("round_trip");
    ASSERT_GE(inputs.size(), 4u);
    for (const Bytes& input : inputs) fuzz_round_trip::round_trip_input(input.data(), input.size());
    // Every layout byte over one input: each block size and member count.
    Bytes input = inputs.back();
    for (int layout = 0; layout < 256; layout++) {
        input[0] = static_cast<uint8_t>(layout);
        fuzz_round_trip::round_trip_input(input.data(), input.size());
    }
}

TEST(FuzzSeeds, RecoverySeedsEveryCutAndBitFlip) {
    const std::vector<Bytes> inputs = seeds("recovery");
    ASSERT_GE(inputs.size(), 5u);
    for (const Bytes& input : inputs) fuzz_recovery::recovery_input(input.data(), input.size());
    // The recorded sample cut at every length and with one bit of each byte flipped.
    Bytes edit = {1, 0, 0, 0, 255};
    Bytes flip = {1, 4, 0, 0, 1};  // the members read too
    for (int at = 0; at < 65536; at += 64) {
        edit[2] = flip[2] = static_cast<uint8_t>(at);
        edit[3] = flip[3] = static_cast<uint8_t>(at >> 8);
        fuzz_recovery::recovery_input(edit.data(), edit.size());
        fuzz_recovery::recovery_input(flip.data(), flip.size());
    }
}

}  // namespace
