// The program as a user runs it: archive bytes, member lines, exit statuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

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

    // Packing nothing over an existing file is a slip of the keyboard: refused.
    const CliResult again = run_vorb(dir, {"extract", "arch"});
    EXPECT_EQ(again.status, 255);
    EXPECT_EQ(again.output,
              banner + "\nWon't replace arch: it exists and no files to pack were given (use -f to replace it)");
    EXPECT_EQ(read_file(dir / "arch"), want);
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
    EXPECT_EQ(r.status, 254);
    Bytes want = header;
    want.insert(want.end(), {0x03, 0xFF, 0x00, 'b', 0x00, 0, 0, 0, 0, 0xFF});
    EXPECT_EQ(read_file(dir / "arch"), want);
    // Each missing file is named with the reason, and the run fails at the end.
    EXPECT_EQ(without_times(r.output), banner + "\nnothere: not packed, No such file or directory\n>b: \tNms"
                                                "\nalsonot: not packed, No such file or directory"
                                                "\n2 files were not packed");
}

TEST(Cli, DirectoryMemberIsStoredAsAbsent) {
    ScratchDir dir;
    std::filesystem::create_directory(dir / "sub");
    const CliResult r = run_vorb(dir, {"e", "arch", "sub"});
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(r.output.ends_with("\nsub: not packed, Is a directory\n1 file was not packed")) << r.output;
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
    // Any other letter is a usage error that touches nothing.
    write_file(dir / "f", std::string("data"));
    for (const char* command : {"x", "c", "-"}) {
        const CliResult x = run_vorb(dir, {"--", command, "arch", "f"});
        EXPECT_EQ(x.status, 255);
        EXPECT_EQ(x.output, banner + "\nUnknown command: " + command +
                                "\nCall format:\nvorb [e|d] <arch> [<file1> ...]\nDefault block size = 4Mb");
        EXPECT_FALSE(file_exists(dir / "arch"));
    }
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
    EXPECT_EQ(r.output, banner + "\nCan't open input: nothere: No such file or directory");

    for (const Bytes& bad : {Bytes{}, Bytes{'!', 'v', 'o', 'r'}, Bytes{'!', 'v', 'o', 'r', 'c', 0, 0, 0x40, 0, 0}}) {
        write_file(dir / "bad", bad);
        r = run_vorb(dir, {"d", "bad"});
        EXPECT_EQ(r.status, 254);
        EXPECT_EQ(r.output, banner + "\nInvalid signature: bad: not an archive");
    }
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"bad"});

    r = run_vorb(dir, {"e", "no/such/dir/arch"});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.output, banner + "\nCan't open output: no/such/dir/arch: No such file or directory");
}

// Replacing a file keeps what the user set and never costs a file that is
// not an archive; special files in the way are written to or refused.
TEST(Cli, ReplacingAFile) {
    namespace fs = std::filesystem;
    ScratchDir dir;
    write_file(dir / "f", std::string("data"));
    write_file(dir / "notes.txt", std::string("my notes"));
    // The archive name forgotten: the first file would become the archive.
    CliResult r = run_vorb(dir, {"e", "notes.txt", "f"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(r.output.ends_with("\nWon't replace notes.txt: it exists and is not an archive (use -f to replace it)"));
    EXPECT_EQ(read_file(dir / "notes.txt"), Bytes({'m', 'y', ' ', 'n', 'o', 't', 'e', 's'}));

    // A private file stays private, whether replaced by force or as an archive;
    // as root, it keeps its owner and group too.
    fs::permissions(dir / "notes.txt", fs::perms::owner_read | fs::perms::owner_write);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((dir / "notes.txt").c_str(), 65534, 65534), 0);
    }
    for (const char* force : {"-f", "-q"}) {
        ASSERT_EQ(run_vorb(dir, {force, "e", "notes.txt", "f"}).status, 0);
        EXPECT_EQ(fs::status(dir / "notes.txt").permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        struct stat st;
        ASSERT_EQ(::stat((dir / "notes.txt").c_str(), &st), 0);
        EXPECT_TRUE(!root || (st.st_uid == 65534 && st.st_gid == 65534));
    }
    // A temporary name fits wherever the name does.
    const std::string longest(245, 'a');
    EXPECT_EQ(run_vorb(dir, {"e", longest, "f"}).status, 0);
    // A link that points nowhere yet: the file is made where it points.
    fs::create_directory(dir / "sub");
    fs::create_symlink("sub/new", dir / "link");
    EXPECT_EQ(run_vorb(dir, {"e", "link", "f"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(read_file(dir / "sub/new"), read_file(dir / "notes.txt"));
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{longest, "f", "link", "notes.txt", "sub"}));
}

}  // namespace
