// Golden archives: the exact bytes the program writes for a fixed set of
// inputs. Encoder and decoder can drift together and still round-trip; a
// pinned hash catches any change to a byte of output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "support/cli_run.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Made afresh in each scratch folder; deterministic.
Bytes input(const std::string& name) {
    Bytes v;
    if (name == "text") return read_corpus_file("calgary/paper1");
    if (name == "binary") return read_corpus_file("calgary/obj1");
    if (name == "random") return random_bytes(13, 30000);
    if (name == "mixed") return text_like(21, 2621440 + 777);  // 2.5 MiB and a bit: three 1 MiB blocks
    if (name == "big") return text_like(22, (4 << 20) + 5000);  // just past one default block
    if (name == "runs") {  // runs of every length from 1 to 300, then a long one
        for (unsigned k = 0; v.size() < 90000; ++k) v.insert(v.end(), k * k % 300 + 1, static_cast<uint8_t>(k * 37));
        v.insert(v.end(), 70000, 0);
    }
    if (name == "period2")
        for (size_t i = 0; i < 200000; ++i) v.push_back("ab"[i % 2]);
    return v;  // and "empty"
}

struct Golden {
    const char* case_name;
    std::vector<std::string> options;
    std::vector<std::string> members;  // "absent" is never made: an absent entry
    const char* sha256;
};

const Golden kGolden[] = {
    {"text", {}, {"text"}, "5b736583f7066656b5c375a32f7ce59d31e6ad237294c7b9c791d090e114dfc8"},
    {"binary", {}, {"binary"}, "a1e908d22195a658897856cdf9e442fd2bbf9583a82008883fc7591c7df8d070"},
    {"random", {}, {"random"}, "061fd65d62cd3b6ee5b3a6af2b51fcb39b2860c0a4aff80b9c6ba6efaf92c847"},
    {"runs", {}, {"runs"}, "bf53320e9a197ae6e6af522a46888bfde17e946ade6c22f4efb65b9900e4f05b"},
    {"period2", {}, {"period2"}, "f703c2505888109b0e7931c6d71d0ccf9f3adb397477c83301c7e129413b9461"},
    {"empty", {}, {"empty"}, "596ad11e3c1c6f626a761e528f073b100160b539aa46b4f648bd5f5bc564af24"},
    {"members", {}, {"text", "absent", "empty", "binary", "runs"}, "be4c728a99a6f5f8e85b405076bbc538e9cc5a3fd73b27ed23c84a4b7f23848d"},
    {"small_b1", {"-b1"}, {"text"}, "493a2d7281f56ce9d69469df493abe72109d08436bdc3bf08632c218d98e9841"},
    {"crossing_b1", {"-b1"}, {"mixed"}, "44407a481e0eb1e45591d3060043d6369e2183dfcccd601ad5baba1b2d417ec9"},
    {"crossing_default", {}, {"big"}, "0995224ea62a9f9925661b8e1dce0a51a55d42a680990e6c91a98cb31cabbf9c"},
};

std::string sha256_of(const ScratchDir& dir, const std::string& name) {
    const std::string cmd = "sha256sum " + shell_quote(dir / name);
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    char hex[65] = {};
    const size_t got = std::fread(hex, 1, 64, p);
    ::pclose(p);
    return std::string(hex, got);
}

TEST(Golden, ArchivesAreByteExactAndUnpackToTheirInputs) {
    for (const Golden& g : kGolden) {
        SCOPED_TRACE(g.case_name);
        ScratchDir dir;
        std::vector<std::string> args = g.options;
        args.insert(args.end(), {"-q", "e", "arch"});
        for (const std::string& m : g.members) {
            args.push_back(m);
            if (m != "absent") write_file(dir / m, input(m));
        }
        const CliResult packed = run_vorb(dir, args);
        // The status of a pack with an absent entry belongs to the command-line tests.
        if (std::find(g.members.begin(), g.members.end(), "absent") == g.members.end()) {
            EXPECT_EQ(packed.status, 0) << packed.output;
        }
        EXPECT_EQ(sha256_of(dir, "arch"), g.sha256);

        const CliResult unpacked = run_vorb(dir, {"-q", "d", "arch"});
        EXPECT_EQ(unpacked.status, 0) << unpacked.output;
        for (const std::string& m : g.members) {
            const std::string out = dir / ("_" + m);
            EXPECT_TRUE(m == "absent" ? !file_exists(out) : file_exists(out) && read_file(out) == read_file(dir / m)) << m;
        }
    }
}

// Indexed archives, modes and times fixed: version 1 as the previous build wrote it (tests/data), and
// version 2, the same bytes in front of the index. Pinned: each archive's hash, and the hash of what
// t, l and d say (no times) and of the unpacked files' modes and times (each compared with its input).
TEST(Golden, IndexedArchivesOfBothVersions) {
    const std::string v1 = shell_quote((std::filesystem::path(__FILE__).parent_path() / "data/index_v1.vorb").string());
    const std::string inputs =
        "yes 'the index of an archive, version one' | head -c 1300000 >words; : >empty; head -c 3000 " +
        shell_quote(corpus_path("calgary/paper1")) + " >notes; chmod 640 words; chmod 600 empty; chmod 755 notes;"
        " touch -d @1000000000.123456789 words; touch -d @1200000000 empty; touch -d @1300000000.5 notes; ";
    const std::string checks =
        "sha256sum arch | cut -c1-64; { vorb t arch | sed 's/[0-9]*ms/Nms/g'; vorb -q l arch; mkdir o; cd o; vorb -q d"
        " ../arch && for f in words empty notes; do cmp ../$f _$f && stat -c '%n %a %.9Y' _$f; done; } | sha256sum";
    const std::pair<std::string, std::string> cases[] = {
        {"cp " + v1 + " arch; ", "dd6541ab662405ad7b9b2cf6b5632eaf1ab802ad2e34585f4f1eefcc763ee771\n"
                                 "1f4c263a94d7eab9504a462babe701215fa7c0dae0c9ceed6b1aadfbb74eb4a1  -\n"},
        {"vorb -q -b1 -i e arch words missing empty notes >/dev/null; cmp -n 1972 arch " + v1 + " || exit; ",
         "a2a871709642e6ea889d776c5bc84e988eb4b38c4739094753af7edc3050cc6e\n"
         "341e582b51026097553be8254abf68fc708848a97f17db5ff84cd7d07517aaa6  -\n"},
    };
    for (const auto& [make, hashes] : cases) {
        ScratchDir dir;
        EXPECT_EQ(run_script(dir, inputs + make + checks).output, hashes);
    }
}

}  // namespace
