// Hand-made archives that no packer writes: bad headers, damaged block
// streams and hostile member names, unpacked by the real program.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "dc/block_code.h"
#include "support/cli_run.h"
#include "support/memory_stream.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Numbers = std::vector<TracedNumber>;

const std::string banner = "Vorb v0.30beta\tblock-sorting file archiver";
const Bytes empty_stream = {0, 0, 0, 0};  // the end marker and the coder's flush

struct Entry {
    std::string name;
    Bytes stream;
    bool present = true;
};

Bytes archive_of(const std::vector<Entry>& entries, uint32_t block_size = 4194304) {
    Bytes a = {'!', 'v', 'o', 'r', 'b'};
    for (int shift = 0; shift < 32; shift += 8) a.push_back(static_cast<uint8_t>(block_size >> shift));
    a.push_back(static_cast<uint8_t>(entries.size()));
    for (const Entry& e : entries) {
        if (!e.present) {
            a.push_back(0xFF);
            continue;
        }
        a.push_back(0x00);
        a.insert(a.end(), e.name.begin(), e.name.end());
        a.push_back(0);
        a.insert(a.end(), e.stream.begin(), e.stream.end());
    }
    return a;
}

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

// The stream the real packer writes for content (its only member).
Bytes packed_stream(const Bytes& content) {
    ScratchDir dir;
    write_file(dir / "m", content);
    EXPECT_EQ(run_vorb(dir, {"e", "arch", "m"}).status, 0);
    const Bytes arch = read_file(dir / "arch");
    return Bytes(arch.begin() + 13, arch.end());  // header, count, presence byte, "m" and its NUL
}

bool has_temp_file(const std::string& dir) {
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().filename().string().starts_with(".vorb")) return true;
    return false;
}

// The console line of a member: its name, progress characters and outcome.
std::string member_line(const std::string& output, const std::string& shown) {
    const std::string head = "\n>" + shown + ": ";
    const size_t at = output.find(head);
    if (at == std::string::npos) return {};
    const size_t end = output.find('\n', at + head.size());
    return output.substr(at + 1, end == std::string::npos ? end : end - at - 1);
}

CliResult unpack(const ScratchDir& dir, const Bytes& archive) {
    write_file(dir / "arch", archive);
    return run_vorb(dir, {"d", "arch"});
}

TEST(HardeningHeader, BlockSizeOutOfRangeStopsBeforeAnyFileIsCreated) {
    for (const uint32_t size : {0u, 1u << 27, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        ScratchDir dir;
        const CliResult r = unpack(dir, archive_of({{"e", empty_stream}}, size));
        EXPECT_EQ(r.status, 254);
        EXPECT_EQ(r.output, banner + "\nDamaged archive: block size " + std::to_string(size) +
                                " is out of range (1 to 134217727)");
        EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"arch"});
    }
    // Both ends of the range are usable.
    for (const uint32_t size : {1u, (1u << 27) - 1}) {
        SCOPED_TRACE(size);
        ScratchDir dir;
        const CliResult r = unpack(dir, archive_of({{"e", empty_stream}}, size));
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"_e", "arch"}));
    }
}

TEST(HardeningHeader, ArchiveEndingInTheHeaderOrEntryTableIsTruncated) {
    const Bytes whole = archive_of({{"a", empty_stream}, {"b", empty_stream}});
    const std::string truncated = "\nDamaged archive: it ends too early";
    struct Case {
        const char* what;
        size_t keep;
        std::vector<std::string> files;  // besides arch
    };
    const Case cases[] = {
        {"inside the block size", 7, {}},
        {"before the member count", 9, {}},
        {"before the first presence byte", 10, {}},
        {"inside the first name", 12, {}},
        {"before the second presence byte", 17, {"_a"}},
        {"before the second name's NUL", 19, {"_a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const CliResult r = unpack(dir, Bytes(whole.begin(), whole.begin() + static_cast<long>(c.keep)));
        EXPECT_EQ(r.status, 254);
        EXPECT_TRUE(r.output.ends_with(truncated)) << r.output;
        std::vector<std::string> want = c.files;
        want.push_back("arch");
        EXPECT_EQ(list_dir(dir.path), want);
    }
}

// Each kind of stream that no packer can write, as the second of three
// members: the first is unpacked, the run stops at the second with a message
// that names it, an older file of that name survives and the third is never
// reached.
TEST(HardeningStream, DamagedMemberStopsTheRunAndKeepsWhatCameBefore) {
    const Bytes good = coded_blocks({{"nnbaaa", 2}});  // "banana"
    struct Case {
        const char* what;
        Bytes stream;
        const char* message;
        uint32_t block_size = 4194304;
    };
    const Case cases[] = {
        {"block longer than the stored block size", coded_numbers({{17, 0, 0}}),
         "damaged data (block longer than the block size)", 16},
        {"length decisions past 27 bits", coded_numbers({{1u << 27, 0, 0}}), "damaged data (number too long)"},
        // Found by search: the code lands in the sliver of the interval that
        // the integer division leaves over, beyond every table slot.
        {"frequency search past the total", {0x60, 0x0e, 0xf9, 0xf6}, "damaged data (symbol out of range)"},
        {"first position outside the block", coded_numbers({{4, 0, 0}, {5, 0, 1}, {4, 5, 0}, {0, 0, 1}}),
         "damaged data (bad symbol set)"},
        {"run ending at the current position",
         coded_numbers({{4, 0, 0}, {5, 0, 1}, {0, 5, 0}, {1, 0, 1}, {0, 6, 0}, {0, 0, 1}}), "damaged data (bad run)"},
        {"run ending beyond the block",
         coded_numbers({{4, 0, 0}, {5, 0, 1}, {0, 5, 0}, {1, 0, 1}, {2, 6, 0}, {0, 0, 1}, {0, 5, 1}, {5, 6, 0}}),
         "damaged data (bad run)"},
        {"primary index equal to the length", coded_blocks({{"nnbaaa", 6}}), "damaged data (bad primary index)"},
        // t = abc with primary 0 puts the rows of the first and the last
        // position on the same row: a walk that closes after one step.
        {"transform whose walk closes early", coded_blocks({{"abc", 0}}), "damaged data (block does not invert)"},
        // bbaa with primary 0 links its rows in two cycles of two.
        {"transform of two cycles", coded_blocks({{"bbaa", 0}}), "damaged data (block does not invert)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        write_file(dir / "_bad", std::string("older file"));
        const CliResult r =
            unpack(dir, archive_of({{"good", good}, {"bad", c.stream}, {"after", empty_stream}}, c.block_size));
        EXPECT_EQ(r.status, 254);
        EXPECT_TRUE(r.output.ends_with(std::string("\nDamaged archive: member bad: ") + c.message)) << r.output;
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"_bad", "_good", "arch"}));
        EXPECT_EQ(read_file(dir / "_good"), Bytes({'b', 'a', 'n', 'a', 'n', 'a'}));
        EXPECT_EQ(read_file(dir / "_bad"), Bytes({'o', 'l', 'd', 'e', 'r', ' ', 'f', 'i', 'l', 'e'}));
    }
}

TEST(HardeningStream, StreamCutShortIsTruncatedAndLeavesNoOutput) {
    const Bytes content = text_like(3, 5000);
    const Bytes whole = packed_stream(content);
    for (const size_t cut : {size_t{1}, size_t{4}, whole.size() / 2}) {
        SCOPED_TRACE(cut);
        ScratchDir dir;
        write_file(dir / "_m", std::string("older"));
        const Bytes cut_stream(whole.begin(), whole.end() - static_cast<long>(cut));
        const CliResult r = unpack(dir, archive_of({{"first", whole}, {"m", cut_stream}}));
        EXPECT_EQ(r.status, 254);
        EXPECT_TRUE(r.output.ends_with("\nDamaged archive: member m: archive is truncated")) << r.output;
        EXPECT_EQ(read_file(dir / "_first"), content);
        EXPECT_EQ(read_file(dir / "_m"), Bytes({'o', 'l', 'd', 'e', 'r'}));
        EXPECT_FALSE(has_temp_file(dir.path));
    }
}

// Names that must not become files are decoded to nowhere, so the members
// after them still unpack; the run ends with status 254 all the same.
TEST(HardeningNames, RefusedNamesAreSkippedAndTheRestUnpacks) {
    const Bytes content = text_like(5, 3000);
    const Bytes stream = packed_stream(content);
    struct Case {
        const char* what;
        std::string name;
        std::string reason;
    };
    const Case cases[] = {
        {"climbing out", "a/../../x", "name leads out of the unpack directory"},
        {"climbing from the second component", "a/b/../../../x", "name leads out of the unpack directory"},
        {"parent as last component", "a/..", "name leads out of the unpack directory"},
        {"one character too long", std::string(199, 'n'), "name longer than 198 characters"},
        {"much too long", std::string(5000, 'n'), "name longer than 198 characters"},
        {"name of an existing directory", "taken", "can't create it: Is a directory"},
        {"folder through a link that leads out", "link/x", "a folder in its name is a symbolic link"},
        {"folder that is a file", "file/x", "a folder in its name is not a folder"},
        {"no file name after the last slash", "a/b/", "name does not end in a file name"},
        {"a FIFO that nobody reads", "fifo", "it is a FIFO that nobody reads"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        fs::create_directories(dir / "work/_a/b");
        fs::create_directory(dir / "work/_taken");
        fs::create_directory(dir / "outside");
        fs::create_directory_symlink(dir / "outside", dir / "work/_link");
        write_file(dir / "work/_file", Bytes{});
        ASSERT_EQ(::mkfifo((dir / "work/_fifo").c_str(), 0600), 0);
        write_file(dir / "arch", archive_of({{c.name, stream}, {"next", stream}}));
        const CliResult r = run_vorb(dir, {"-C", "work", "d", "arch"});
        EXPECT_EQ(r.status, 254);
        const std::string shown = "_" + c.name.substr(0, 198);
        EXPECT_TRUE(member_line(r.output, shown).ends_with("skipped, " + c.reason)) << r.output;
        EXPECT_TRUE(r.output.ends_with("\n1 member was not unpacked")) << r.output;
        EXPECT_EQ(read_file(dir / "work/_next"), content);
        // Nothing was created anywhere but the one member.
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"arch", "outside", "work"}));
        EXPECT_EQ(list_dir(dir / "work"),
                  (std::vector<std::string>{"_a", "_fifo", "_file", "_link", "_next", "_taken"}));
        EXPECT_TRUE(list_dir(dir / "outside").empty());
        EXPECT_TRUE(read_file(dir / "work/_file").empty());
        EXPECT_EQ(list_dir(dir / "work/_a"), std::vector<std::string>{"b"});
        EXPECT_TRUE(list_dir(dir / "work/_a/b").empty());
        EXPECT_TRUE(list_dir(dir / "work/_taken").empty());
    }
}

TEST(HardeningNames, LongestNameAndPathsThatStayInsideAreAccepted) {
    const Bytes content = text_like(6, 700);
    const Bytes stream = packed_stream(content);
    ScratchDir dir;
    fs::create_directories(dir / "_d/..");  // "_d/.." is "." again: no way out
    fs::create_directory(dir / "_..");
    const std::string longest(198, 'x');
    // Missing folders are made; a leading "/" or "./" and empty or "."
    // components stay inside the unpack folder.
    const CliResult r = unpack(dir, archive_of({{longest, stream}, {"../up", stream}, {"d/./f", stream},
                                                {"new/sub//g", stream}, {"/abs/h", stream}, {"./i", stream}}));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read_file(dir / ("_" + longest)), content);
    EXPECT_EQ(read_file(dir / "_../up"), content);  // "_.." is a directory here, not the parent
    EXPECT_EQ(read_file(dir / "_d/f"), content);
    EXPECT_EQ(read_file(dir / "_new/sub/g"), content);
    EXPECT_EQ(read_file(dir / "_/abs/h"), content);
    EXPECT_EQ(read_file(dir / "_./i"), content);
}

TEST(HardeningNames, NameNotEndedBeforeTheArchiveEndsCreatesNothing) {
    ScratchDir dir;
    Bytes a = archive_of({{"first", empty_stream}});
    a[9] = 2;
    a.push_back(0x00);
    for (const char ch : std::string("unended")) a.push_back(static_cast<uint8_t>(ch));
    const CliResult r = unpack(dir, a);
    EXPECT_EQ(r.status, 254);
    EXPECT_TRUE(r.output.ends_with("\nDamaged archive: it ends too early")) << r.output;
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"_first", "arch"}));
}

TEST(HardeningNames, ExistingLinkIsReplacedNotWrittenThrough) {
    const Bytes content = text_like(7, 900);
    const Bytes stream = packed_stream(content);
    ScratchDir dir;
    fs::create_directory(dir / "outside");
    write_file(dir / "outside/target", std::string("keep"));
    fs::create_symlink(dir / "outside/target", dir / "_to_file");
    fs::create_symlink("/dev/null", dir / "_to_device");
    const CliResult r = unpack(dir, archive_of({{"to_file", stream}, {"to_device", stream}}));
    EXPECT_EQ(r.status, 0) << r.output;
    for (const char* name : {"_to_file", "_to_device"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / name)));
        EXPECT_EQ(read_file(dir / name), content);
    }
    EXPECT_EQ(read_file(dir / "outside/target"), Bytes({'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

}  // namespace
