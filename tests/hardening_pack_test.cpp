// Packing requests that cannot make a good archive are refused before the
// archive is created, and an existing archive of that name is left alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/cli_run.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string banner = "Vorb v0.30beta\tblock-sorting file archiver";

TEST(HardeningPack, MoreThan255NamesIsRefused) {
    ScratchDir dir;
    write_file(dir / "arch", std::string("older archive"));
    std::vector<std::string> args = {"e", "arch"};
    for (int i = 0; i < 256; i++) args.push_back("f" + std::to_string(i));  // none exists: all absent
    CliResult r = run_vorb(dir, args);
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.output, banner + "\nToo many files: an archive holds at most 255");
    EXPECT_EQ(read_file(dir / "arch"), Bytes({'o', 'l', 'd', 'e', 'r', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'}));
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"arch"});

    // 255 fit: the count byte holds it and every entry is one absent byte.
    args.pop_back();
    args.insert(args.begin(), "-f");  // the older file is no archive
    r = run_vorb(dir, args);
    EXPECT_EQ(r.status, 254) << r.output;  // every file missing
    const Bytes a = read_file(dir / "arch");
    ASSERT_EQ(a.size(), 10u + 255u);
    EXPECT_EQ(a[9], 255);
    EXPECT_EQ(Bytes(a.begin() + 10, a.end()), Bytes(255, 0xFF));
}

TEST(HardeningPack, NameLongerThan198CharactersIsRefused) {
    ScratchDir dir;
    const std::string longest(198, 'n');
    const std::string too_long(199, 'n');
    write_file(dir / longest, std::string("fits"));
    write_file(dir / too_long, std::string("does not fit"));
    CliResult r = run_vorb(dir, {"e", "arch", longest, too_long});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.output, banner + "\nFile name longer than 198 characters: " + too_long);
    EXPECT_FALSE(file_exists(dir / "arch"));
    EXPECT_EQ(list_dir(dir.path).size(), 2u);

    // 198 characters go in and come out as "_" and the name.
    r = run_vorb(dir, {"e", "arch", longest});
    ASSERT_EQ(r.status, 0) << r.output;
    fs::remove(dir / longest);
    r = run_vorb(dir, {"d", "arch"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read_file(dir / ("_" + longest)), Bytes({'f', 'i', 't', 's'}));
}

// The archive must never be one of its own inputs, whatever name leads to it:
// that would truncate the input before it is read.
TEST(HardeningPack, ArchiveThatIsOneOfTheInputsIsRefused) {
    const Bytes content = text_like(21, 2000);
    struct Case {
        const char* what;
        std::string archive;
        std::vector<std::string> members;
        std::string named;  // the member the message names
    };
    const Case cases[] = {
        {"the same name", "data", {"other", "data"}, "data"},
        {"the same file by another path", "data", {"./data"}, "./data"},
        {"a hard link to an input", "hard", {"other", "data"}, "data"},
        {"a symbolic link to an input", "soft", {"data"}, "data"},
        {"an input that is a link to the archive", "data", {"soft"}, "soft"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        write_file(dir / "data", content);
        write_file(dir / "other", std::string("other"));
        fs::create_hard_link(dir / "data", dir / "hard");
        fs::create_symlink("data", dir / "soft");
        std::vector<std::string> args = {"e", c.archive};
        args.insert(args.end(), c.members.begin(), c.members.end());
        const CliResult r = run_vorb(dir, args);
        EXPECT_EQ(r.status, 254);
        EXPECT_EQ(r.output, banner + "\nThe archive is one of the files to pack: " + c.named);
        EXPECT_EQ(read_file(dir / "data"), content);
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"data", "hard", "other", "soft"}));
        EXPECT_TRUE(fs::is_symlink(dir / "soft"));
    }
}

TEST(HardeningPack, DirectoryAmongTheMembersIsAnAbsentEntry) {
    ScratchDir dir;
    const Bytes content = text_like(22, 1500);
    write_file(dir / "a", content);
    fs::create_directory(dir / "sub");
    write_file(dir / "sub/inner", std::string("inner"));
    CliResult r = run_vorb(dir, {"e", "arch", "sub", "a", "."});
    ASSERT_EQ(r.status, 254) << r.output;
    EXPECT_TRUE(r.output.ends_with("\n.: not packed, Is a directory\n2 files were not packed")) << r.output;
    const Bytes arch = read_file(dir / "arch");
    EXPECT_EQ(arch[9], 3);
    EXPECT_EQ(arch[10], 0xFF);
    EXPECT_EQ(arch.back(), 0xFF);
    fs::remove(dir / "a");
    r = run_vorb(dir, {"d", "arch"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read_file(dir / "_a"), content);
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"_a", "arch", "sub"}));
}

}  // namespace
