// Hand-made archives that no packer writes: bad headers, damaged block
// streams and hostile member names, unpacked by the real program.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "dc/block_code.h"
#include "support/archive_bytes.h"
#include "support/cli_run.h"
#include "support/memory_stream.h"

namespace {

namespace fs = std::filesystem;
using Numbers = std::vector<TracedNumber>;

// A member stream of already transformed blocks (t, primary index).
Bytes coded_blocks(const std::vector<std::pair<std::string, int32_t>>& blocks) {
    NumberCoder enc;
    MemoryOut m;
    start_packing(enc, m);
    DistanceCoder dc;
    std::vector<int32_t> distance(64);
    dc.distance = distance.data();
    for (const auto& [t, primary] : blocks)
        code_block(dc, enc, reinterpret_cast<const uint8_t*>(t.data()), static_cast<int32_t>(t.size()), primary);
    code_block(dc, enc, nullptr, 0, 0);
    return memory_out_bytes(m);
}

// A member stream of one block made of the given numbers, then the end marker.
Bytes coded_numbers(const Numbers& block) {
    NumberCoder enc;
    MemoryOut m;
    start_packing(enc, m);
    for (const TracedNumber& t : block) encode_number(enc, t.value, t.symbol, t.kind);
    reset_models(enc.models);
    encode_number(enc, 0, 0, 0);
    rc_flush(enc.rc);
    return memory_out_bytes(m);
}

// One archive per check that an intact archive never trips. Damage in the
// second of three members: the first is unpacked, the run stops at the
// second with a message that names it, an older file of that name survives
// and the third is never reached. Damage in the header creates nothing.
TEST(HostileStream, EachCheckStopsTheRunAndKeepsWhatCameBefore) {
    const Bytes good = coded_blocks({{"nnbaaa", 2}});  // "banana"
    const auto middle = [&](const Bytes& bad, uint32_t block_size = 4194304) {
        return archive_of({{"good", good}, {"bad", bad}, {"after", empty_stream}}, block_size);
    };
    Bytes unended = archive_of({{"good", good}, {"unended", empty_stream}});
    unended.resize(unended.size() - empty_stream.size() - 1);  // no NUL after the name
    const std::string member = "\nDamaged archive: member bad: damaged data ";
    struct Case {
        const char* what;
        Bytes archive;
        std::string message;
        bool first_unpacked = true;
    };
    const Case cases[] = {
        {"block size 0", archive_of({{"good", good}}, 0),
         "\nDamaged archive: block size 0 is out of range (1 to 134217727)", false},
        {"block size 2^27", archive_of({{"good", good}}, 1u << 27),
         "\nDamaged archive: block size 134217728 is out of range (1 to 134217727)", false},
        {"name without its NUL", unended, "\nDamaged archive: it ends too early"},
        {"block longer than the stored block size", middle(coded_numbers({{17, 0, 0}}), 16),
         member + "(block longer than the block size)"},
        {"length decisions past 27 bits", middle(coded_numbers({{1u << 27, 0, 0}})), member + "(number too long)"},
        // Found by search: the code lands in the sliver of the interval that
        // the integer division leaves over, beyond every table slot.
        {"frequency search past the total", middle({0x60, 0x0e, 0xf9, 0xf6}), member + "(symbol out of range)"},
        {"value listed twice (the second delta wraps around)",
         middle(coded_numbers({{4, 0, 0}, {5, 0, 1}, {0, 5, 0}, {256, 0, 1}, {1, 5, 0}})), member + "(bad symbol set)"},
        {"first position outside the block", middle(coded_numbers({{4, 0, 0}, {5, 0, 1}, {4, 5, 0}, {0, 0, 1}})),
         member + "(bad symbol set)"},
        // Deeper in the list, not at its head: the runs would reach them.
        {"two values at the same first position",
         middle(coded_numbers({{4, 0, 0}, {5, 0, 1}, {0, 5, 0}, {1, 0, 1}, {2, 6, 0}, {1, 0, 1}, {2, 7, 0}, {0, 0, 1}})),
         member + "(bad symbol set)"},
        {"no value at the block's start",
         middle(coded_numbers({{4, 0, 0}, {5, 0, 1}, {1, 5, 0}, {1, 0, 1}, {3, 6, 0}, {0, 0, 1}})),
         member + "(bad run)"},
        {"run ending beyond the block",
         middle(coded_numbers(
             {{4, 0, 0}, {5, 0, 1}, {0, 5, 0}, {1, 0, 1}, {2, 6, 0}, {0, 0, 1}, {0, 5, 1}, {5, 6, 0}})),
         member + "(bad run)"},
        {"primary index equal to the length", middle(coded_blocks({{"nnbaaa", 6}})), member + "(bad primary index)"},
        // abc with primary 0 puts the rows of the first and the last position
        // on the same row: a walk that closes after one step.
        {"transform whose walk closes early", middle(coded_blocks({{"abc", 0}})), member + "(block does not invert)"},
        // bbaa with primary 0 links its rows in two cycles of two.
        {"transform of two cycles", middle(coded_blocks({{"bbaa", 0}})), member + "(block does not invert)"},
        // Odd length: the backward walk takes the middle byte alone.
        {"odd transform of two cycles", middle(coded_blocks({{"bbaac", 4}})), member + "(block does not invert)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        write_file(dir / "_bad", std::string("older"));
        write_file(dir / "arch", c.archive);
        const CliResult r = run_vorb(dir, {"d", "arch"});
        EXPECT_EQ(r.status, 254);
        EXPECT_TRUE(r.output.ends_with(c.message)) << r.output;
        if (c.first_unpacked) {
            EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"_bad", "_good", "arch"}));
            EXPECT_EQ(read_file(dir / "_good"), Bytes({'b', 'a', 'n', 'a', 'n', 'a'}));
        } else {
            EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"_bad", "arch"}));
        }
        EXPECT_EQ(read_file(dir / "_bad"), Bytes({'o', 'l', 'd', 'e', 'r'}));
    }
}

// Names that must not become files are decoded to nowhere, so the members
// after them still unpack and the run ends with status 254; names that stay
// inside are written, and an existing link is replaced, not written through.
TEST(HostileNames, RefusedSkippedAcceptedWrittenLinksReplaced) {
    const Bytes content = text_like(5, 3000);
    const Bytes stream = member_stream(content);
    const std::pair<std::string, std::string> refused[] = {
        {"a/../../x", "name leads out of the unpack directory"},
        {"a/b/../../../x", "name leads out of the unpack directory"},
        {"a/..", "name leads out of the unpack directory"},
        {std::string(199, 'n'), "name longer than 198 characters"},
        {std::string(5000, 'n'), "name longer than 198 characters"},
        {"taken", "can't create it: Is a directory"},
        {"link/x", "a folder in its name is a symbolic link"},
        {"file/x", "a folder in its name is not a folder"},
        {"a/b/", "name does not end in a file name"},
        {"fifo", "it is a FIFO that nobody reads"},
    };
    // "_.." is a directory here, not the parent; missing folders are made,
    // and a leading "/" or "./" stays inside.
    const std::string accepted[] = {std::string(198, 'x'), "../up", "d/./f", "to_file", "to_device",
                                    "new/sub//g", "/abs/h", "./i"};
    std::vector<HandEntry> entries;
    for (const auto& [name, reason] : refused) entries.push_back({name, stream});
    for (const std::string& name : accepted) entries.push_back({name, stream});
    ScratchDir dir;
    write_file(dir / "arch", archive_of(entries));
    for (const char* d : {"work/_a/b", "work/_taken", "work/_d", "work/_..", "outside"}) fs::create_directories(dir / d);
    write_file(dir / "outside/target", std::string("keep"));
    fs::create_symlink(dir / "outside/target", dir / "work/_to_file");
    fs::create_symlink("/dev/null", dir / "work/_to_device");
    fs::create_directory_symlink(dir / "outside", dir / "work/_link");
    write_file(dir / "work/_file", Bytes{});
    ASSERT_EQ(::mkfifo((dir / "work/_fifo").c_str(), 0600), 0);

    const CliResult r = run_vorb(dir, {"-C", "work", "d", "arch"});
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(r.output.ends_with("\n10 members were not unpacked")) << r.output;
    for (const auto& [name, reason] : refused) {
        const std::string shown = "_" + name.substr(0, 198);
        SCOPED_TRACE(shown);
        // The member's console line: name, progress characters, outcome.
        const size_t at = r.output.find("\n>" + shown + ": ");
        ASSERT_NE(at, std::string::npos) << r.output;
        const size_t end = r.output.find('\n', at + 1);
        EXPECT_TRUE(r.output.substr(at, end - at).ends_with("skipped, " + reason)) << r.output;
    }
    for (const std::string& name : {"_" + accepted[0], std::string("_../up"), std::string("_d/f"),
                                    std::string("_to_file"), std::string("_to_device"), std::string("_new/sub/g"),
                                    std::string("_/abs/h"), std::string("_./i")}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / ("work/" + name))));
        EXPECT_EQ(read_file(dir / ("work/" + name)), content);
    }
    // Nothing else was created anywhere, and nothing written through a link.
    std::vector<std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(dir.path)) all.push_back(e.path().lexically_relative(dir.path));
    std::sort(all.begin(), all.end());
    std::vector<std::string> want = {"arch", "outside", "outside/target", "work", "work/_" + accepted[0],
                                     "work/_..", "work/_../up", "work/_a", "work/_a/b", "work/_d", "work/_d/f",
                                     "work/_taken", "work/_to_device", "work/_to_file", "work/_link",
                                     "work/_file", "work/_fifo", "work/_new", "work/_new/sub", "work/_new/sub/g",
                                     "work/_", "work/_/abs", "work/_/abs/h", "work/_.", "work/_./i"};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(all, want);
    EXPECT_EQ(read_file(dir / "outside/target"), Bytes({'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

}  // namespace
