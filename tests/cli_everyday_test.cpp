// Help, version, test, list, quiet, block size, target directory and threads,
// through the real program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>

#include "support/cli_run.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Everyday, HelpAndVersionGoToStandardOutputWithStatusZero) {
    ScratchDir dir;
    for (const char* h : {"-h", "--help"}) {
        const CliResult r = run_vorb(dir, {h});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.output.find("Usage: vorb"), std::string::npos);
        EXPECT_NE(r.output.find("Exit status"), std::string::npos);
    }
    const CliResult v = run_vorb(dir, {"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.output, "vorb 0.30beta\n");
    const CliResult bad = run_vorb(dir, {"-y", "e", "a"});
    EXPECT_EQ(bad.status, 255);
    EXPECT_NE(bad.output.find("Unknown option: -y"), std::string::npos);
    // Too few arguments keeps the plain usage text.
    const CliResult few = run_vorb(dir, {"-q", "e"});
    EXPECT_EQ(few.status, 255);
    EXPECT_NE(few.output.find("Call format:"), std::string::npos);
}

TEST(Everyday, QuietPrintsNothingOnSuccess) {
    ScratchDir dir;
    write_file(dir / "f", text_like(1, 300000));
    CliResult r = run_vorb(dir, {"-q", "e", "arch", "f"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "");
    r = run_vorb(dir, {"-q", "d", "arch"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(read_file(dir / "_f"), read_file(dir / "f"));
    r = run_vorb(dir, {"-q", "d", "nothere"});  // errors still show
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.output, "\nCan't open input");
}

TEST(Everyday, TestCommandChecksEveryMemberAndWritesNothing) {
    ScratchDir dir;
    write_file(dir / "a", text_like(2, 200000));
    write_file(dir / "b", Bytes{});
    ASSERT_EQ(run_vorb(dir, {"e", "arch", "a", "gone", "b"}).status, 0);
    CliResult r = run_vorb(dir, {"t", "arch"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(">_a: H\t200000 bytes OK"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(">_b: \t0 bytes OK"), std::string::npos) << r.output;
    EXPECT_FALSE(file_exists(dir / "_a"));

    // Cut short, flipped inside a member, or with bytes after the last entry.
    Bytes arch = read_file(dir / "arch");
    write_file(dir / "cut", Bytes(arch.begin(), arch.end() - 3));
    r = run_vorb(dir, {"t", "cut"});
    EXPECT_EQ(r.status, 254);
    EXPECT_NE(r.output.find("Damaged archive"), std::string::npos) << r.output;
    Bytes extra = arch;
    extra.push_back(0);
    write_file(dir / "extra", extra);
    r = run_vorb(dir, {"t", "extra"});
    EXPECT_EQ(r.status, 254);
    EXPECT_NE(r.output.find("bytes follow the last member"), std::string::npos) << r.output;
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"a", "arch", "b", "cut", "extra"}));
}

TEST(Everyday, ListShowsSizesOfEveryEntry) {
    ScratchDir dir;
    write_file(dir / "text", text_like(3, 5000000));
    write_file(dir / "empty", Bytes{});
    write_file(dir / std::string("we\x1b[1mird"), std::string("x"));
    ASSERT_EQ(run_vorb(dir, {"e", "arch", "text", "missing", "empty", "we\x1b[1mird"}).status, 0);
    const CliResult r = run_vorb(dir, {"-q", "l", "arch"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(" 5000000 "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("(absent entry)"), std::string::npos);
    EXPECT_NE(r.output.find("we?[1mird"), std::string::npos);  // no escape reaches the terminal
    EXPECT_EQ(r.output.find('\x1b'), std::string::npos);
    EXPECT_NE(r.output.find("3 of 4 entries present"), std::string::npos);
    // The packed sizes add up to the archive less its header, names and presence bytes.
    const size_t archive_size = read_file(dir / "arch").size();
    const size_t overhead = 10 + (1 + 5) + 1 + (1 + 6) + (1 + 10);
    EXPECT_NE(r.output.find(" " + std::to_string(archive_size - overhead) + " "), std::string::npos) << r.output;
}

TEST(Everyday, BlockSizesRoundTripAndDefaultIsByteIdentical) {
    ScratchDir dir;
    write_file(dir / "f", text_like(4, 9000000));
    ASSERT_EQ(run_vorb(dir, {"-q", "e", "plain", "f"}).status, 0);
    ASSERT_EQ(run_vorb(dir, {"-q", "-b4", "e", "four", "f"}).status, 0);
    EXPECT_TRUE(read_file(dir / "plain") == read_file(dir / "four"));
    for (const char* mib : {"1", "16"}) {
        SCOPED_TRACE(mib);
        ScratchDir out;
        ASSERT_EQ(run_vorb(dir, {"-q", "-b", mib, "e", out / "arch", "f"}).status, 0);
        const Bytes arch = read_file(out / "arch");
        const uint32_t stored = arch[5] | arch[6] << 8 | arch[7] << 16 | arch[8] << 24;
        EXPECT_EQ(stored, static_cast<uint32_t>(std::stoi(mib)) << 20);
        ASSERT_EQ(run_vorb(out, {"-q", "d", "arch"}).status, 0);
        EXPECT_TRUE(read_file(out / "_f") == read_file(dir / "f"));
    }
}

TEST(Everyday, LargestBlockSizeRoundTrips) {
    ScratchDir dir;
    write_file(dir / "f", text_like(5, 3000000));
    ASSERT_EQ(run_vorb(dir, {"-q", "-b127", "e", "arch", "f"}).status, 0);
    std::filesystem::rename(dir / "f", dir / "orig");
    ASSERT_EQ(run_vorb(dir, {"-q", "d", "arch"}).status, 0);
    EXPECT_TRUE(read_file(dir / "_f") == read_file(dir / "orig"));
}

TEST(Everyday, DirectoryOptionKeepsTheSafetyRules) {
    ScratchDir dir;
    std::filesystem::create_directories(dir / "src/sub");
    write_file(dir / "src/sub/x", std::string("hello"));
    ASSERT_EQ(run_vorb(dir, {"e", "arch", "src/sub/x"}).status, 0);
    std::filesystem::create_directories(dir / "out/_src/sub");
    CliResult r = run_vorb(dir, {"-C", "out", "d", "arch"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read_file(dir / "out/_src/sub/x"), read_file(dir / "src/sub/x"));
    r = run_vorb(dir, {"-C", "nothere", "d", "arch"});
    EXPECT_EQ(r.status, 254);
    EXPECT_NE(r.output.find("Not a directory: nothere"), std::string::npos);

    // A stored name that climbs out is refused inside DIR too.
    Bytes evil = {'!', 'v', 'o', 'r', 'b', 0, 0, 0x40, 0, 1, 0};
    for (char c : std::string("a/../../escaped")) evil.push_back(static_cast<uint8_t>(c));
    evil.insert(evil.end(), {0, 0, 0, 0, 0});
    write_file(dir / "evil", evil);
    std::filesystem::create_directories(dir / "out/_a");
    r = run_vorb(dir, {"-C", "out", "d", "evil"});
    EXPECT_EQ(r.status, 254);
    EXPECT_FALSE(file_exists(dir / "escaped"));
    EXPECT_FALSE(file_exists(dir / "out/escaped"));
}

TEST(Everyday, ThreadCountsGiveIdenticalArchivesAndOutputs) {
    ScratchDir dir;
    write_file(dir / "t", text_like(6, 9000000));
    write_file(dir / "r", random_bytes(6, 4194304 + 9));
    write_file(dir / "s", text_like(7, 100));
    const std::vector<std::string> files = {"t", "s", "r"};
    ASSERT_EQ(run_vorb(dir, {"-q", "-t2", "-i", "e", "indexed", "t", "s", "r"}).status, 0);
    Bytes first;
    for (const char* threads : {"-t1", "-t2", "-t3", "-t0"}) {
        SCOPED_TRACE(threads);
        std::vector<std::string> args = {"-q", threads, "e", std::string("a") + threads};
        args.insert(args.end(), files.begin(), files.end());
        ASSERT_EQ(run_vorb(dir, args).status, 0);
        const Bytes arch = read_file(dir / (std::string("a") + threads));
        if (first.empty())
            first = arch;
        else
            EXPECT_TRUE(arch == first);
        ScratchDir out;
        std::filesystem::copy_file(dir / (std::string("a") + threads), out / "arch");
        ASSERT_EQ(run_vorb(out, {"-q", threads, "d", "arch"}).status, 0);
        for (const std::string& f : files) EXPECT_TRUE(read_file(out / ("_" + f)) == read_file(dir / f)) << f;
        // The indexed archive decodes blocks of a member side by side.
        ScratchDir iout;
        std::filesystem::copy_file(dir / "indexed", iout / "arch");
        ASSERT_EQ(run_vorb(iout, {"-q", threads, "d", "arch"}).status, 0);
        for (const std::string& f : files) EXPECT_TRUE(read_file(iout / ("_" + f)) == read_file(dir / f)) << f;
    }
    // In front of its index an indexed archive is the plain one, byte for byte.
    const Bytes indexed = read_file(dir / "indexed");
    ASSERT_GT(indexed.size(), first.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), indexed.begin()));
}

TEST(Everyday, IndexedArchivesCheckRestoreAndSelect) {
    ScratchDir dir;
    write_file(dir / "a", text_like(9, 300000));
    write_file(dir / "b", Bytes{});
    ::chmod((dir / "a").c_str(), 06751);  // set-user-ID and sticky bits never come back
    const struct timespec when[2] = {{1000000000, 0}, {1000000000, 123456789}};
    ::utimensat(AT_FDCWD, (dir / "a").c_str(), when, 0);
    // a is stored twice; a name given to d matches both.
    ASSERT_EQ(run_vorb(dir, {"-q", "-i", "e", "arch", "a", "missing", "b", "a"}).status, 0);
    ASSERT_EQ(run_vorb(dir, {"-q", "e", "plain", "a", "missing", "b", "a"}).status, 0);

    CliResult r = run_vorb(dir, {"-q", "l", "arch", "a", "missing"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("  300000 "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("(absent: missing)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("2 of 4 entries present, block size 4194304, indexed"), std::string::npos) << r.output;
    r = run_vorb(dir, {"t", "arch"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(">_a: H\t300000 bytes OK, checksum OK"), std::string::npos) << r.output;

    ScratchDir out;
    std::filesystem::copy_file(dir / "arch", out / "arch");
    r = run_vorb(out, {"-q", "d", "arch", "nothere", "a", "b"});
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(r.output.ends_with("\nNo member named nothere")) << r.output;
    EXPECT_EQ(read_file(out / "_a"), read_file(dir / "a"));
    EXPECT_TRUE(file_exists(out / "_b"));
    struct stat st;
    ASSERT_EQ(::stat((out / "_a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);

    // A damaged index changes nothing d writes; a plain archive with bytes
    // after its last entry is unpacked and then refused.
    Bytes damaged = read_file(dir / "arch");
    damaged[damaged.size() - 50] ^= 4;
    Bytes extra = read_file(dir / "plain");
    extra.push_back(7);
    for (const auto& [arch, message] : {std::pair{damaged, "\nDamaged index (index checksum mismatch)"},
                                       std::pair{extra, "\nDamaged archive: bytes follow the last member"}}) {
        ScratchDir o;
        write_file(o / "arch", arch);
        for (const char* cmd : {"t", "d"}) {
            r = run_vorb(o, {"-q", cmd, "arch"});
            EXPECT_EQ(r.status, 254) << cmd;
            EXPECT_NE(r.output.find(message), std::string::npos) << cmd << r.output;
        }
        EXPECT_EQ(read_file(o / "_a"), read_file(dir / "a"));
        EXPECT_EQ(list_dir(o.path), (std::vector<std::string>{"_a", "_b", "arch"}));
    }
}

}  // namespace

namespace {

// Many small blocks through every thread count: the case the thread
// sanitizer run checks, kept small so it stays quick under it.
TEST(Threads, SmallBlocksThroughThePipelines) {
    ScratchDir dir;
    write_file(dir / "f", text_like(8, 2 * 1048576 + 17));
    write_file(dir / "g", random_bytes(8, 1048576 + 1));
    ASSERT_EQ(run_vorb(dir, {"-q", "-t2", "-b1", "-i", "e", "indexed", "f", "g"}).status, 0);
    Bytes first;
    for (const char* threads : {"-t1", "-t2", "-t4"}) {
        SCOPED_TRACE(threads);
        ScratchDir out;
        ASSERT_EQ(run_vorb(dir, {"-q", threads, "-b1", "e", out / "arch", "f", "g"}).status, 0);
        const Bytes arch = read_file(out / "arch");
        if (first.empty())
            first = arch;
        else
            EXPECT_TRUE(arch == first);
        ASSERT_EQ(run_vorb(out, {"-q", threads, "d", "arch"}).status, 0);
        EXPECT_TRUE(read_file(out / "_f") == read_file(dir / "f"));
        EXPECT_TRUE(read_file(out / "_g") == read_file(dir / "g"));
        // With an index the blocks of one member decode on the workers.
        std::filesystem::copy_file(dir / "indexed", out / "indexed");
        ASSERT_EQ(run_vorb(out, {"-q", threads, "d", "indexed"}).status, 0);
        EXPECT_TRUE(read_file(out / "_f") == read_file(dir / "f"));
        EXPECT_TRUE(read_file(out / "_g") == read_file(dir / "g"));
        // A damaged copy fails the same way on every thread count.
        Bytes bad = arch;
        bad.resize(bad.size() - 100);
        write_file(out / "bad", bad);
        const CliResult r = run_vorb(out, {"-q", threads, "d", "bad"});
        EXPECT_EQ(r.status, 254);
        EXPECT_NE(r.output.find("Damaged archive"), std::string::npos) << r.output;
    }
}

}  // namespace
