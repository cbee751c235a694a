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
