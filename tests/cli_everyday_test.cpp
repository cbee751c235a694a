// Help, version, test, list, quiet, block size, target directory and threads,
// through the real program.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    EXPECT_EQ(r.output, "\nCan't open input: nothere: No such file or directory");
}

TEST(Everyday, TestCommandChecksEveryMemberAndWritesNothing) {
    ScratchDir dir;
    write_file(dir / "a", text_like(2, 200000));
    write_file(dir / "b", Bytes{});
    ASSERT_EQ(run_vorb(dir, {"e", "arch", "a", "gone", "b"}).status, 254);
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
    ASSERT_EQ(run_vorb(dir, {"e", "arch", "text", "missing", "empty", "we\x1b[1mird"}).status, 254);
    const CliResult r = run_vorb(dir, {"-q", "l", "arch"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(r.output.starts_with("    unpacked")) << r.output;  // no empty line first
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
    std::filesystem::create_directory(dir / "out");  // the member's folders are made inside it
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
    // a is stored twice; a name given to d matches both. The missing file
    // fails the pack (254) but its entry stays, absent, with its name.
    ASSERT_EQ(run_vorb(dir, {"-q", "-i", "e", "arch", "a", "missing", "b", "a"}).status, 254);
    ASSERT_EQ(run_vorb(dir, {"-q", "e", "plain", "a", "missing", "b", "a"}).status, 254);

    CliResult r = run_vorb(dir, {"-q", "l", "arch", "a", "missing"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("  300000 "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("(absent: missing)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("2 of 4 entries present, block size 4194304, indexed"), std::string::npos) << r.output;
    r = run_vorb(dir, {"t", "arch"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(">_a: H\t300000 bytes OK, checksum OK"), std::string::npos) << r.output;
    // Through a pipe the index cannot be reached first: it is recognised and skipped.
    EXPECT_EQ(run_script(dir, "cat arch | vorb -q t -").status, 0);
    EXPECT_EQ(run_script(dir, "(cat arch; echo x) | vorb -q t -").status, 254);

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

// "-" is standard output for e and standard input for d, t and l; -c sends
// the members' bytes to standard output. The console text then goes to
// standard error, so the bytes stay clean.
TEST(Everyday, PipesCarryArchivesAndMembers) {
    ScratchDir dir;
    write_file(dir / "f", text_like(9, 300000));
    write_file(dir / "g", random_bytes(9, 5000));
    ASSERT_EQ(run_vorb(dir, {"-q", "e", "ref", "f", "g"}).status, 0);
    CliResult r = run_script(dir, "vorb e - f g 2>console | cat > piped");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(read_file(dir / "piped") == read_file(dir / "ref"));
    const auto console = [&] {
        const Bytes b = read_file(dir / "console");
        return std::string(b.begin(), b.end());
    };
    EXPECT_NE(console().find(">f: "), std::string::npos) << console();

    r = run_script(dir, "cat ref | vorb -c d - 2>console | cat > both");
    EXPECT_EQ(r.status, 0);
    Bytes want = read_file(dir / "f");
    const Bytes g = read_file(dir / "g");
    want.insert(want.end(), g.begin(), g.end());
    EXPECT_TRUE(read_file(dir / "both") == want);
    EXPECT_NE(console().find(">_g: "), std::string::npos) << console();

    r = run_script(dir, "vorb -q t - < ref && vorb -q l - < ref");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("2 of 2 entries present"), std::string::npos) << r.output;
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"both", "console", "f", "g", "piped", "ref"}));
}

// After a fatal error the program waits for a key only on a terminal: a
// caller's pipe is never read. A terminal never gets an archive's bytes.
TEST(Everyday, StandardInputIsTheCallersUnlessATerminal) {
    ScratchDir dir;
    write_file(dir / "f", std::string("data"));
    CliResult r = run_script(dir, "printf 'one\\ntwo\\n' | { vorb -q t nothere; echo \" $?\"; cat; }");
    EXPECT_EQ(r.output, "\nCan't open input: nothere: No such file or directory 254\none\ntwo\n");
    if (::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) for a terminal";
    const std::string on_terminal = "script -qec " + shell_quote(shell_quote(VORB_BIN));
    r = run_script(dir, on_terminal + "' -q e - f' /dev/null; echo \" $?\"; " + on_terminal + "' -q t -' /dev/null");
    EXPECT_NE(r.output.find("Won't write an archive to a terminal (use -f to force it) 255"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Won't read an archive from a terminal"), std::string::npos) << r.output;
}

// Ctrl-C, kill or a closed terminal in the middle of a large file: no
// temporary is left behind and the run ends by that signal.
TEST(Everyday, SignalRemovesTemporaries) {
    ScratchDir dir;
    write_file(dir / "big", random_bytes(10, 24 << 20));
    write_file(dir / "text", text_like(10, 8 << 20));
    ASSERT_EQ(run_vorb(dir, {"-q", "-t2", "-b1", "e", "text.vorb", "text"}).status, 0);
    std::filesystem::remove(dir / "text");
    const struct {
        int sig;
        std::vector<std::string> args;
    } cases[] = {{SIGINT, {"-t1", "e", "big.vorb", "big"}},
                 {SIGTERM, {"-t1", "d", "text.vorb"}},
                 {SIGHUP, {"-t2", "e", "big.vorb", "big"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sig);
        std::vector<char*> argv = {const_cast<char*>(VORB_BIN)};
        for (const std::string& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null_fd = ::open("/dev/null", O_RDWR);
            for (int fd = 0; fd < 3; fd++) ::dup2(null_fd, fd);
            for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, SIG_DFL);
            if (::chdir(dir.path.c_str()) == 0) ::execv(VORB_BIN, argv.data());
            ::_exit(127);
        }
        ASSERT_GT(pid, 0);
        const auto has_temporary = [&] {
            for (const std::string& name : list_dir(dir.path))
                if (name.starts_with(".vorb")) return true;
            return false;
        };
        for (int wait_ms = 0; wait_ms < 10000 && !has_temporary(); wait_ms += 5) ::usleep(5000);
        ASSERT_TRUE(has_temporary());
        ::usleep(30000);  // inside the file, well before its end
        ::kill(pid, c.sig);
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == c.sig) << raw;
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"big", "text.vorb"}));
    }
}

// A folder the user may not write to: nothing is written, each failure
// names the file and the reason.
TEST(Everyday, ReadOnlyFolder) {
    ScratchDir dir;
    write_file(dir / "f", std::string("data"));
    ASSERT_EQ(run_vorb(dir, {"-q", "e", "arch", "f"}).status, 0);
    std::filesystem::create_directory(dir / "ro");
    namespace fs = std::filesystem;
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(dir.path, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    // root writes anywhere: run as nobody then.
    std::string as_user = "";
    if (::geteuid() == 0) {
        if (::system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "root without setpriv(1)";
        as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    const CliResult r = run_script(
        dir, as_user + shell_quote(VORB_BIN) + " -q -C ro d arch; echo \" $?\"; " + as_user +
                 shell_quote(VORB_BIN) + " -q e ro/arch f; echo \" $?\"");
    EXPECT_EQ(r.output,
              "\n_f: skipped, can't create it: Permission denied\n1 member was not unpacked 254\n"
              "\nCan't open output: ro/arch: Permission denied 254\n");
    EXPECT_TRUE(list_dir(dir / "ro").empty());
}

// Unpacking keeps fewer blocks in flight to stay within the memory limit,
// and refuses an archive when even one block does not fit.
TEST(Everyday, MemoryLimit) {
    ScratchDir dir;
    write_file(dir / "f", text_like(11, 5 << 20));
    ASSERT_EQ(run_vorb(dir, {"-q", "-b2", "e", "arch", "f"}).status, 0);
    CliResult r = run_vorb(dir, {"-q", "--memory=10M", "d", "arch"});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.output.rfind("\nNot enough memory allowed: the archive's blocks of 2097152 bytes take ", 0), 0u)
        << r.output;
    EXPECT_TRUE(r.output.ends_with(" MiB to unpack, over the limit of 10 MiB (--memory)")) << r.output;
    EXPECT_FALSE(file_exists(dir / "_f"));
    // Room for one block of the five four threads would keep: the same bytes, within the limit.
    if (!file_exists("/usr/bin/time")) GTEST_SKIP() << "no /usr/bin/time to measure the peak";
    // Peaks in KiB: four threads keep three blocks of 18 MiB in flight here
    // without a limit, one within it.
    const std::string timed = "/usr/bin/time -f %M " + shell_quote(VORB_BIN) + " -q -t4 ";
    r = run_script(dir, timed + "d arch 2>&1 && " + timed + "--memory=30M d arch 2>&1");
    EXPECT_TRUE(read_file(dir / "_f") == read_file(dir / "f"));
    const size_t newline = r.output.find('\n');
    ASSERT_NE(newline, std::string::npos) << r.output;
    EXPECT_LT(std::stol(r.output.substr(newline)) + (18 << 10), std::stol(r.output)) << r.output;
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
    for (const char* threads : {"-t1", "-t2", "-t3", "-t4"}) {
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
