// A small archive of three members cut at every byte and with single bits
// flipped, unpacked by the real program: never a crash or a hang, never a
// partial file, and the members before the damage come out whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "../fuzz/memory_io.h"
#include "support/archive_bytes.h"
#include "support/cli_run.h"

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, Bytes>;

// m1, an absent entry, m2, m3; about a hundred bytes each, one block each.
const Bytes& sample() {
    static const Bytes archive = [] {
        Bytes binary;
        for (int i = 0; i < 120; i++) binary.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
        return archive_of({{"m1", member_stream(text_like(11, 150))},
                           {"absent", {}, false},
                           {"m2", member_stream(binary)},
                           {"m3", member_stream(text_like(12, 100))}});
    }();
    return archive;
}

// Unpacks each archive in its own directory under root, from two shells
// that take every other case, so a case costs no more than one start of the
// program. Returns status and output per case; a process killed by a signal
// shows as 128 + the signal.
std::vector<CliResult> unpack_each(const ScratchDir& root, const std::vector<Bytes>& archives) {
    std::string script[2];
    for (size_t i = 0; i < archives.size(); i++) {
        const std::string c = "c" + std::to_string(i);
        fs::create_directory(root / c);
        write_file(root / (c + "/arch"), archives[i]);
        // timeout turns a hang into status 124, which no case expects.
        script[i % 2] += "(cd " + c + " && exec timeout 60 " + shell_quote(VORB_BIN) + " d arch) </dev/null >" + c +
                         ".out 2>&1; echo $? >" + c + ".status\n";
    }
    write_file(root / "run0.sh", script[0]);
    write_file(root / "run1.sh", script[1]);
    const int raw = std::system(("cd " + shell_quote(root.path) + " && { sh run0.sh & sh run1.sh; wait; }").c_str());
    if (raw == -1 || !WIFEXITED(raw)) throw std::runtime_error("the batch did not run");
    std::vector<CliResult> results;
    for (size_t i = 0; i < archives.size(); i++) {
        const std::string c = "c" + std::to_string(i);
        const Bytes status = read_file(root / (c + ".status")), out = read_file(root / (c + ".out"));
        // No status means the case never ran (a failed fork): 1000, which no case expects.
        results.push_back({status.empty() ? 1000 : std::stoi(std::string(status.begin(), status.end())),
                           std::string(out.begin(), out.end())});
    }
    return results;
}

// Every file a case left beside its archive, with its bytes.
Files outputs_of(const std::string& dir) {
    Files files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string rel = fs::relative(e.path(), dir).string();
        if (rel != "arch") files[rel] = e.is_regular_file() ? read_file(e.path().string()) : Bytes{};
    }
    return files;
}

struct Expected {
    vorb_status status = VORB_OK;  // the first failure
    std::string failed;            // the member it came in, if any
    bool refused = false;          // a name that cannot become a file
    Files files;
};

// What unpacking an archive must leave, worked out with the library's reader
// in memory: every member that decodes and whose name can become a file in
// an otherwise empty directory, up to the first member that fails.
Expected expected_unpack(const Bytes& archive) {
    Expected x;
    MemoryReader src{archive.data(), archive.size()};
    const vorb_source source = memory_source(src);
    vorb_reader* r = vorb_reader_open(&source, nullptr, &x.status);
    vorb_entry e;
    while (r && (x.status = vorb_reader_next(r, &e)) == VORB_OK) {
        if (!e.present) continue;
        VectorWriter w;
        x.status = vorb_reader_unpack(r, vector_write, &w, nullptr, nullptr, nullptr);
        const std::string name = e.name;
        if (x.status != VORB_OK) {
            x.failed = name;
            break;
        }
        // No directories exist beside the archive, so a name with a '/' can
        // never be created; too long names are refused.
        if (e.name_too_long || name.find('/') != std::string::npos)
            x.refused = true;
        else
            x.files["_" + name] = w.bytes;
    }
    if (x.status == VORB_END) x.status = vorb_reader_finish(r);  // bytes after the last entry fail too
    vorb_reader_free(r);
    return x;
}

// One batch: the archive cut at every offset, then single bits flipped in
// every bit of the header, the first entry and the start of the second, and
// past that every eleventh bit. Status and files must match the reader's.
TEST(DamagedArchive, CutAtEveryOffsetAndSingleBitFlips) {
    const Bytes& s = sample();
    std::vector<Bytes> archives;
    for (size_t cut = 0; cut < s.size(); cut++) archives.emplace_back(s.begin(), s.begin() + static_cast<long>(cut));
    std::vector<size_t> bits;
    for (size_t bit = 0; bit < s.size() * 8; bit += bit < 150 * 8 ? 1 : 11) {
        bits.push_back(bit);
        archives.push_back(s);
        archives.back()[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }
    ScratchDir root;
    const std::vector<CliResult> results = unpack_each(root, archives);

    int damaged = 0;
    for (size_t i = 0; i < archives.size(); i++) {
        const bool cut = i < s.size();
        SCOPED_TRACE(cut ? "cut to " + std::to_string(i) + " bytes" : "bit " + std::to_string(bits[i - s.size()]) + " flipped");
        const CliResult& r = results[i];
        const Expected want = expected_unpack(archives[i]);
        EXPECT_EQ(r.status, want.status == VORB_OK && !want.refused ? 0 : 254) << r.output;
        EXPECT_TRUE(outputs_of(root / ("c" + std::to_string(i))) == want.files) << r.output;
        if (cut) {
            // Cuts in the header, a presence byte or a name end too early.
            EXPECT_EQ(want.status, i < 5 ? VORB_ERR_SIGNATURE : VORB_ERR_TRUNCATED);
            const std::string message = i < 5                ? "\nInvalid signature: arch: not an archive"
                                        : want.failed.empty() ? "\nDamaged archive: it ends too early"
                                                              : "\nDamaged archive: member " + want.failed +
                                                                    ": archive is truncated";
            EXPECT_TRUE(r.output.ends_with(message)) << r.output;
        }
        damaged += !cut && r.status != 0;
        if (HasFailure()) return;  // one case's report is enough to go on
    }
    // Without a checksum some flips decode to other bytes, but the stream's
    // own checks catch nearly all (over 95% of these); far fewer would mean
    // a check has gone missing.
    EXPECT_GT(damaged, static_cast<int>(bits.size()) * 3 / 4);
}

}  // namespace
