// Options before the command letter.
#include <gtest/gtest.h>

#include <vector>

#include "cli/options.h"

namespace {

Options parse(std::vector<const char*> args) {
    args.insert(args.begin(), "vorb");
    return parse_options(static_cast<int>(args.size()), args.data());
}

TEST(Options, EachOptionAloneAndCombined) {
    Options o = parse({"e", "arch", "f"});
    EXPECT_EQ(o.first_arg, 1);
    EXPECT_EQ(o.threads, 0);
    EXPECT_EQ(o.block_mib, 4u);
    EXPECT_FALSE(o.quiet);
    EXPECT_TRUE(o.error.empty());

    o = parse({"-t4", "-b", "16", "-q", "-C", "out", "d", "arch"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_EQ(o.threads, 4);
    EXPECT_EQ(o.block_mib, 16u);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.directory, "out");
    EXPECT_EQ(o.first_arg, 7);

    o = parse({"--threads=2", "--block-size", "1", "--quiet", "--directory=x y", "t", "a"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_EQ(o.threads, 2);
    EXPECT_EQ(o.block_mib, 1u);
    EXPECT_EQ(o.directory, "x y");
    EXPECT_EQ(o.first_arg, 6);

    EXPECT_TRUE(parse({"-h"}).help);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"-V"}).version);
    EXPECT_TRUE(parse({"--version"}).version);
    EXPECT_EQ(parse({"-b127", "e", "a"}).block_mib, 127u);
    EXPECT_EQ(parse({"-t", "0", "e", "a"}).threads, 0);

    // Short options run together; a value option takes the rest or the next word.
    o = parse({"-qt1", "-fc", "-qC", "dir", "--force", "--stdout", "d", "a"});
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_TRUE(o.quiet && o.force && o.to_stdout);
    EXPECT_EQ(o.threads, 1);
    EXPECT_EQ(o.directory, "dir");
    EXPECT_EQ(o.first_arg, 7);

    const struct {
        const char* arg;
        uint64_t bytes;
    } sizes[] = {{"--memory=1000", 1000}, {"--memory=64M", 64u << 20}, {"--memory=3GiB", 3ull << 30},
                 {"--memory=512k", 512u << 10}, {"--memory=18446744073709551615", UINT64_MAX}};
    for (const auto& m : sizes) {
        o = parse({m.arg, "d", "a"});
        EXPECT_TRUE(o.error.empty()) << m.arg << o.error;
        EXPECT_EQ(o.memory, m.bytes) << m.arg;
    }
}

TEST(Options, BadValuesAndUnknownOptions) {
    for (const std::vector<const char*>& args : std::vector<std::vector<const char*>>{
             {"-x", "e", "a"},
             {"--frobnicate", "e", "a"},
             {"-b0", "e", "a"},
             {"-b128", "e", "a"},
             {"-b", "4M", "e", "a"},
             {"-t", "-1", "e", "a"},
             {"-t257", "e", "a"},
             {"--threads=", "e", "a"},
             {"-t"},
             {"-C", ""},
             {"-b", "99999999999999", "e", "a"},
             {"-qx", "e", "a"},
             {"-qt", "e", "a"},  // "e" is no thread count
             {"--quiet=1", "e", "a"},
             {"--memory=0", "d", "a"},
             {"--memory=12T", "d", "a"},
             {"--memory=M", "d", "a"},
             {"--memory=17179869184G", "d", "a"},
             {"--memory=18446744073709551616", "d", "a"},
             {"--memory"},
         }) {
        const Options o = parse(args);
        EXPECT_FALSE(o.error.empty()) << args[0];
        EXPECT_EQ(o.error[0], '\n');
    }
}

TEST(Options, NothingAfterTheCommandLetterIsAnOption) {
    // Member names that look like options are members.
    Options o = parse({"e", "arch", "-q", "-t2"});
    EXPECT_EQ(o.first_arg, 1);
    EXPECT_FALSE(o.quiet);
    EXPECT_EQ(o.threads, 0);
    // "--" ends the options, so a command word may start with '-'.
    o = parse({"-q", "--", "-e", "arch"});
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.first_arg, 3);
    // A lone "-" is not an option either.
    EXPECT_EQ(parse({"-", "arch"}).first_arg, 1);
}

TEST(Options, ThreadCountResolvesToCores) {
    EXPECT_GE(resolve_threads(0), 1);
    EXPECT_EQ(resolve_threads(3), 3);
}

}  // namespace
