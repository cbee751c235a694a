// Packing then unpacking through the real program gives back every byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/cli_run.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t block = 4194304;

// Packs the named files of dir into "arch", unpacks it into a fresh directory
// and compares every member.
void pack_unpack(const ScratchDir& dir, const std::vector<std::string>& names) {
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
    for (const std::string& n : names) {
        SCOPED_TRACE(n);
        if (!file_exists(dir / n)) {
            EXPECT_FALSE(file_exists(out / ("_" + n)));
            continue;
        }
        const Bytes got = read_file(out / ("_" + n));
        const Bytes want = read_file(dir / n);
        ASSERT_EQ(got.size(), want.size());
        EXPECT_TRUE(got == want);
    }
}

TEST(RoundTrip, EveryCorpusFileInOneArchive) {
    ScratchDir dir;
    std::vector<std::string> names;
    for (const std::string& f : corpus_files()) {
        const std::string flat = f.substr(f.find('/') + 1);
        std::filesystem::copy_file(corpus_path(f), dir / flat, std::filesystem::copy_options::overwrite_existing);
        names.push_back(flat);
    }
    pack_unpack(dir, names);
}

TEST(RoundTrip, TinyFilesAndEveryByteValue) {
    ScratchDir dir;
    write_file(dir / "empty", Bytes{});
    write_file(dir / "one", Bytes{0x00});
    write_file(dir / "one255", Bytes{0xFF});
    write_file(dir / "two", Bytes{0xFF, 0xFF});
    Bytes all;
    for (int rep = 0; rep < 3; rep++)
        for (int i = 0; i < 256; i++) all.push_back(static_cast<uint8_t>(rep == 1 ? 255 - i : i));
    write_file(dir / "all", all);
    write_file(dir / "zeros", Bytes(100000, 0));
    write_file(dir / "runs", [] {
        Bytes b;
        for (int i = 0; i < 3000; i++) b.insert(b.end(), static_cast<size_t>(i % 97 + 1), static_cast<uint8_t>(i * 7));
        return b;
    }());
    pack_unpack(dir, {"empty", "one", "missing", "one255", "two", "all", "zeros", "runs"});
}

TEST(RoundTrip, SizesAroundTheBlockSize) {
    ScratchDir dir;
    const Bytes big = text_like(3, 3 * block + 1);
    write_file(dir / "m1", Bytes(big.begin(), big.begin() + block - 1));
    write_file(dir / "m0", Bytes(big.begin(), big.begin() + block));
    write_file(dir / "p1", Bytes(big.begin() + 77, big.begin() + 77 + block + 1));
    write_file(dir / "three", big);
    pack_unpack(dir, {"m1", "m0", "p1", "three"});
}

TEST(RoundTrip, RepetitiveAndRandomData) {
    ScratchDir dir;
    write_file(dir / "random", random_bytes(1, 1500000));
    write_file(dir / "random4", random_bytes(2, 300000, 4));
    Bytes periodic;
    const Bytes unit = random_bytes(3, 1000);
    while (periodic.size() < 2000000) periodic.insert(periodic.end(), unit.begin(), unit.end());
    write_file(dir / "periodic", periodic);
    Bytes abab;
    for (int i = 0; i < 1000000; i++) abab.push_back(i % 2 ? 'b' : 'a');
    abab[500000] = 'c';
    write_file(dir / "abab", abab);
    write_file(dir / "log", [] {
        std::string s;
        for (int i = 0; s.size() < 1500000; i++)
            s += "2026-12-07 00:00:" + std::to_string(i % 60) + " host svc[" + std::to_string(1000 + i % 7) +
                 "]: request ok id=" + std::to_string(i * 7919 % 100000) + "\n";
        return Bytes(s.begin(), s.end());
    }());
    pack_unpack(dir, {"random", "random4", "periodic", "abab", "log"});
}

TEST(RoundTrip, StoredNameWithDirectoryPart) {
    ScratchDir dir;
    std::filesystem::create_directory(dir / "d");
    write_file(dir / "d/x.txt", std::string("inside a directory\n"));
    ASSERT_EQ(run_vorb(dir, {"e", "arch", "d/x.txt"}).status, 0);
    ScratchDir out;
    std::filesystem::copy_file(dir / "arch", out / "arch");
    std::filesystem::create_directory(out / "_d");
    const CliResult u = run_vorb(out, {"d", "arch"});
    ASSERT_EQ(u.status, 0) << u.output;
    EXPECT_EQ(read_file(out / "_d/x.txt"), read_file(dir / "d/x.txt"));
}

TEST(RoundTrip, PackingTwiceGivesIdenticalArchives) {
    ScratchDir dir;
    write_file(dir / "t", text_like(9, 5000000));
    write_file(dir / "r", random_bytes(9, 70000));
    ASSERT_EQ(run_vorb(dir, {"e", "a1", "t", "r"}).status, 0);
    ASSERT_EQ(run_vorb(dir, {"e", "a2", "t", "r"}).status, 0);
    EXPECT_TRUE(read_file(dir / "a1") == read_file(dir / "a2"));
}

}  // namespace
