// Packing then unpacking through the real program gives back every byte.
// The golden archives pin the bytes written; these check the way back on
// the inputs that sit on boundaries (blocks past 16 MiB: the inverse tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/archive_bytes.h"
#include "support/cli_run.h"

namespace {

constexpr size_t block = 4194304;

TEST(RoundTrip, CorpusTinyFilesEveryByteAndSizesAroundTheBlock) {
    ScratchDir dir;
    std::vector<std::string> names;
    for (const std::string& f : corpus_files()) {
        names.push_back(f.substr(f.find('/') + 1));
        std::filesystem::copy_file(corpus_path(f), dir / names.back(), std::filesystem::copy_options::overwrite_existing);
    }
    Bytes all(768);  // every byte up, down and up again
    for (int i = 0; i < 768; i++) all[i] = static_cast<uint8_t>(i / 256 == 1 ? 255 - i % 256 : i % 256);
    const Bytes big = text_like(3, block + 78);
    const std::pair<const char*, Bytes> made[] = {
        {"empty", {}}, {"one", {0x00}}, {"one255", {0xFF}}, {"two", {0xFF, 0xFF}}, {"all", all},
        {"ff32", Bytes(32, 0xFF)},  // one run up to the block end, whose sentinel byte equals it
        {"block-1", Bytes(big.begin(), big.begin() + block - 1)},
        {"block", Bytes(big.begin(), big.begin() + block)},
        {"block+1", Bytes(big.begin() + 77, big.end())},
    };
    for (const auto& [name, bytes] : made) {
        write_file(dir / name, bytes);
        names.push_back(name);
    }
    std::vector<std::string> args = {"e", "arch"};
    args.insert(args.end(), names.begin(), names.end());
    const CliResult p = run_vorb(dir, args);
    const bool all_there =
        std::all_of(names.begin(), names.end(), [&](const std::string& n) { return file_exists(dir / n); });
    ASSERT_EQ(p.status, all_there ? 0 : 254) << p.output;  // a missing file fails the run, after the others
    ScratchDir out;
    std::filesystem::copy_file(dir / "arch", out / "arch");
    const CliResult u = run_vorb(out, {"d", "arch"});
    ASSERT_EQ(u.status, 0) << u.output;
    for (const std::string& n : names) EXPECT_TRUE(read_file(out / ("_" + n)) == read_file(dir / n)) << n;
}

}  // namespace
