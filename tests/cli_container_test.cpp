// The program as a user runs it: archive bytes, member lines, exit statuses.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/cli_run.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::string banner = "Vorb v0.30beta\tblock-sorting file archiver";
const Bytes header = {'!', 'v', 'o', 'r', 'b', 0x00, 0x00, 0x40, 0x00};

// Masks the millisecond counts so transcripts compare exactly.
std::string without_times(std::string s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (isdigit(static_cast<unsigned char>(s[i]))) {
            size_t j = i;
            while (j < s.size() && isdigit(static_cast<unsigned char>(s[j]))) j++;
            if (s.compare(j, 2, "ms") == 0) {
                out += "N";
                i = j - 1;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

TEST(Cli, NoMembersGivesTheTenByteArchive) {
    ScratchDir dir;
    const CliResult r = run_vorb(dir, {"e", "arch"});
    EXPECT_EQ(r.status, 0);
    Bytes want = header;
    want.push_back(0);
    EXPECT_EQ(read_file(dir / "arch"), want);
    EXPECT_EQ(without_times(r.output), banner + "\nTotal time: Nms");

    const CliResult d = run_vorb(dir, {"d", "arch"});
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(without_times(d.output), banner + "\nTotal time: Nms");
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"arch"});
}

TEST(Cli, OneEmptyFileGivesTheSeventeenByteArchive) {
    ScratchDir dir;
    write_file(dir / "a", Bytes{});
    const CliResult r = run_vorb(dir, {"e", "arch", "a"});
    EXPECT_EQ(r.status, 0);
    Bytes want = header;
    want.insert(want.end(), {0x01, 0x00, 'a', 0x00, 0, 0, 0, 0});
    EXPECT_EQ(read_file(dir / "arch"), want);
    EXPECT_EQ(without_times(r.output), banner + "\n>a: \tNms\nTotal time: Nms");
}

TEST(Cli, MissingMemberIsOneAbsentByteAndStillCounts) {
    ScratchDir dir;
    write_file(dir / "b", Bytes{});
    const CliResult r = run_vorb(dir, {"e", "arch", "nothere", "b", "alsonot"});
    EXPECT_EQ(r.status, 0);
    Bytes want = header;
    want.insert(want.end(), {0x03, 0xFF, 0x00, 'b', 0x00, 0, 0, 0, 0, 0xFF});
    EXPECT_EQ(read_file(dir / "arch"), want);
    EXPECT_EQ(without_times(r.output), banner + "\n>b: \tNms\nTotal time: Nms");  // no line for absent ones
}

TEST(Cli, DirectoryMemberIsStoredAsAbsent) {
    ScratchDir dir;
    std::filesystem::create_directory(dir / "sub");
    const CliResult r = run_vorb(dir, {"e", "arch", "sub"});
    EXPECT_EQ(r.status, 0);
    Bytes want = header;
    want.insert(want.end(), {0x01, 0xFF});
    EXPECT_EQ(read_file(dir / "arch"), want);
}

TEST(Cli, UsageAndCommandLetters) {
    ScratchDir dir;
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"e"}}) {
        const CliResult r = run_vorb(dir, args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.output, banner + "\nCall format:\nvorb [e|d] <arch> [<file1> ...]\nDefault block size = 4Mb");
    }
    // Any other letter does nothing and succeeds.
    write_file(dir / "f", std::string("data"));
    const CliResult x = run_vorb(dir, {"x", "arch", "f"});
    EXPECT_EQ(x.status, 0);
    EXPECT_EQ(without_times(x.output), banner + "\nTotal time: Nms");
    EXPECT_FALSE(file_exists(dir / "arch"));
    // Only the first character counts.
    EXPECT_EQ(run_vorb(dir, {"extract", "arch", "f"}).status, 0);
    EXPECT_TRUE(file_exists(dir / "arch"));
    EXPECT_EQ(run_vorb(dir, {"dump", "arch"}).status, 0);
    EXPECT_EQ(read_file(dir / "_f"), read_file(dir / "f"));
}

TEST(Cli, UnpackCreatesEmptyAndSkipsAbsentMembers) {
    ScratchDir dir;
    Bytes arch = header;
    // Three entries: an empty member "e1", an absent one, an empty member "e2"
    // whose presence byte is 0x01 (anything but 0xFF is present).
    arch.insert(arch.end(), {0x03, 0x00, 'e', '1', 0x00, 0, 0, 0, 0, 0xFF, 0x01, 'e', '2', 0x00, 0, 0, 0, 0});
    write_file(dir / "arch", arch);
    const CliResult r = run_vorb(dir, {"d", "arch"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_times(r.output), banner + "\n>_e1: \tNms\n>_e2: \tNms\nTotal time: Nms");
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"_e1", "_e2", "arch"}));
    EXPECT_TRUE(read_file(dir / "_e1").empty());
    EXPECT_TRUE(read_file(dir / "_e2").empty());
}

TEST(Cli, ArchivesThatCannotBeOpenedOrAreNotArchives) {
    ScratchDir dir;
    CliResult r = run_vorb(dir, {"d", "nothere"});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.output, banner + "\nCan't open input");

    for (const Bytes& bad : {Bytes{}, Bytes{'!', 'v', 'o', 'r'}, Bytes{'!', 'v', 'o', 'r', 'c', 0, 0, 0x40, 0, 0}}) {
        write_file(dir / "bad", bad);
        r = run_vorb(dir, {"d", "bad"});
        EXPECT_EQ(r.status, 254);
        EXPECT_EQ(r.output, banner + "\nInvalid signature");
    }
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"bad"});

    r = run_vorb(dir, {"e", "no/such/dir/arch"});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.output, banner + "\nCan't open output");
}

}  // namespace
