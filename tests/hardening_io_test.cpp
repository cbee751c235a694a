// Failed reads, writes and allocations are reported with status 254 and
// leave every existing file as it was and no partial file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "support/cli_run.h"

#if defined(__SANITIZE_ADDRESS__)
#define VORB_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORB_TEST_ASAN 1
#endif
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string banner = "Vorb v0.30beta\tblock-sorting file archiver";

// run_vorb with shell limits set first. The limits hold for the program only;
// an ignored SIGXFSZ is inherited, so a write past the file size limit fails
// with EFBIG instead of killing the process.
CliResult run_limited(const ScratchDir& dir, const std::string& limits, const std::vector<std::string>& args) {
    return run_vorb_after(dir, "trap '' XFSZ && " + limits, args);
}

const Bytes older = {'o', 'l', 'd', 'e', 'r'};

TEST(HardeningIo, FullDeviceAsTheArchive) {
    if (!fs::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full";
    ScratchDir dir;
    write_file(dir / "m", text_like(31, 200000));
    const CliResult r = run_vorb(dir, {"e", "/dev/full", "m"});
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(r.output.ends_with("\nWrite error on /dev/full: No space left on device")) << r.output;
    // Written to directly: a device is never replaced by a file.
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"m"});
    for (const std::string& name : list_dir("/dev")) EXPECT_FALSE(name.starts_with(".vorb")) << name;
}

TEST(HardeningIo, ArchiveWriteFailureKeepsTheOlderArchive) {
    ScratchDir dir;
    write_file(dir / "arch", older);
    write_file(dir / "small", std::string("fits"));
    write_file(dir / "big", random_bytes(32, 400000));
    // 100 blocks of 512 bytes: the first member fits, the second does not.
    const CliResult r = run_limited(dir, "ulimit -f 100", {"-f", "e", "arch", "small", "big"});
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(r.output.ends_with("\nWrite error on arch: File too large")) << r.output;
    EXPECT_EQ(read_file(dir / "arch"), older);
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"arch", "big", "small"}));
}

TEST(HardeningIo, MemberWriteFailureKeepsTheOlderFile) {
    ScratchDir dir;
    const Bytes first = text_like(33, 3000);
    write_file(dir / "first", first);
    write_file(dir / "big", random_bytes(34, 400000));
    write_file(dir / "last", std::string("last"));
    ASSERT_EQ(run_vorb(dir, {"e", "arch", "first", "big", "last"}).status, 0);
    fs::remove(dir / "first");
    fs::remove(dir / "last");
    write_file(dir / "_big", older);
    const CliResult r = run_limited(dir, "ulimit -f 100", {"d", "arch"});
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(r.output.ends_with("\nWrite error on _big: File too large")) << r.output;
    EXPECT_EQ(read_file(dir / "_first"), first);
    EXPECT_EQ(read_file(dir / "_big"), older);
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"_big", "_first", "arch", "big"}));
}

TEST(HardeningIo, ReadErrorInAMemberIsNoEndOfFile) {
    // Reading /proc/self/mem from offset 0 fails with EIO: a file that opens
    // and then cannot be read.
    if (!fs::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc";
    ScratchDir dir;
    write_file(dir / "arch", older);
    write_file(dir / "before", text_like(35, 5000));
    const CliResult r = run_vorb(dir, {"-f", "e", "arch", "before", "/proc/self/mem"});
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(r.output.ends_with("\nRead error in /proc/self/mem: Input/output error")) << r.output;
    EXPECT_EQ(read_file(dir / "arch"), older);
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"arch", "before"}));
}

TEST(HardeningIo, BlockSizeThatCannotBeAllocated) {
#ifdef VORB_TEST_ASAN
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
    ScratchDir dir;
    // The largest block size the header allows, with one empty member.
    Bytes arch = {'!', 'v', 'o', 'r', 'b', 0xFF, 0xFF, 0xFF, 0x07, 1, 0x00, 'e', 0, 0, 0, 0, 0};
    write_file(dir / "arch", arch);
    const std::string limit = "ulimit -v 400000";  // KiB: far below the ~1.2 GiB the buffers take
    CliResult r = run_limited(dir, limit, {"d", "arch"});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.output, banner + "\nNot enough memory for the archive's block size of 134217727");
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"arch"});

    // Packing at the largest block size, likewise: no archive, no temporary.
    write_file(dir / "m", std::string("member"));
    r = run_limited(dir, limit, {"-b", "127", "e", "new", "m"});
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(r.output.ends_with("\nNot enough memory for the block size")) << r.output;
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"arch", "m"}));
}

}  // namespace
