// A small archive of three members cut at every byte and with single bits
// flipped, unpacked by the real program: never a crash or a hang, never a
// partial file, and the members before the damage come out whole.
#include <gtest/gtest.h>

#include <chrono>
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

struct Member {
    std::string name;
    Bytes content;
    size_t stream_start = 0;  // offset of its block stream
    size_t stream_end = 0;
};

struct Sample {
    Bytes archive;
    std::vector<Member> members;  // present members in archive order
};

// m1, an absent entry, m2, m3; about a hundred bytes each, one block each.
const Sample& sample() {
    static const Sample s = [] {
        Sample out;
        Bytes binary;
        for (int i = 0; i < 120; i++) binary.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
        out.members = {{"m1", text_like(11, 150)}, {"m2", binary}, {"m3", text_like(12, 100)}};
        std::vector<HandEntry> entries;
        size_t at = 10;
        for (Member& m : out.members) {
            if (m.name == "m2") {
                entries.push_back({"absent", {}, false});
                at++;
            }
            entries.push_back({m.name, member_stream(m.content)});
            m.stream_start = at + 1 + m.name.size() + 1;
            m.stream_end = m.stream_start + entries.back().stream.size();
            at = m.stream_end;
        }
        out.archive = archive_of(entries);
        return out;
    }();
    return s;
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
        const Bytes status = read_file(root / (c + ".status"));
        const Bytes out = read_file(root / (c + ".out"));
        results.push_back({std::stoi(std::string(status.begin(), status.end())), std::string(out.begin(), out.end())});
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
    bool ok = true;
    Files files;
};

// What unpacking an archive must leave, worked out with the library's reader
// in memory: every member that decodes and whose name can become a file in
// an otherwise empty directory, up to the first member that fails.
Expected expected_unpack(const Bytes& archive) {
    Expected x;
    MemoryReader src{archive.data(), archive.size()};
    const vorb_source source = memory_source(src);
    vorb_reader* r = vorb_reader_open(&source, nullptr, nullptr);
    if (!r) return {false, {}};
    vorb_entry e;
    vorb_status st;
    while ((st = vorb_reader_next(r, &e)) == VORB_OK) {
        if (!e.present) continue;
        VectorWriter w;
        st = vorb_reader_unpack(r, vector_write, &w, nullptr, nullptr, nullptr);
        if (st != VORB_OK) break;
        // No directories exist beside the archive, so a name with a '/' can
        // never be created; too long and climbing names are refused.
        const std::string name = e.name;
        if (e.name_too_long || name.find('/') != std::string::npos)
            x.ok = false;
        else
            x.files["_" + name] = w.bytes;
    }
    if (st != VORB_END) x.ok = false;
    vorb_reader_free(r);
    return x;
}

// One batch: the archive cut at every offset, then single bits flipped in
// every bit of the header, the first entry and the start of the second, and
// past that every eleventh bit.
TEST(HardeningCorruption, CutAtEveryOffsetAndSingleBitFlips) {
    const Sample& s = sample();
    std::vector<Bytes> archives;
    for (size_t cut = 0; cut < s.archive.size(); cut++)
        archives.emplace_back(s.archive.begin(), s.archive.begin() + static_cast<long>(cut));
    std::vector<size_t> bits;
    for (size_t bit = 0; bit < s.archive.size() * 8; bit += bit < 150 * 8 ? 1 : 11) {
        bits.push_back(bit);
        archives.push_back(s.archive);
        archives.back()[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }
    ScratchDir root;
    const auto start = std::chrono::steady_clock::now();
    const std::vector<CliResult> results = unpack_each(root, archives);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds / static_cast<double>(archives.size()), 0.5);  // no case spins

    for (size_t cut = 0; cut < s.archive.size(); cut++) {
        SCOPED_TRACE("archive cut to " + std::to_string(cut) + " bytes");
        const CliResult& r = results[cut];
        EXPECT_EQ(r.status, 254);
        // Cuts in the header, a presence byte or a name end too early.
        std::string message = cut < 5 ? "\nInvalid signature" : "\nDamaged archive: it ends too early";
        Files want;
        for (const Member& m : s.members) {
            if (m.stream_end <= cut) want["_" + m.name] = m.content;
            if (cut >= m.stream_start && cut < m.stream_end)
                message = "\nDamaged archive: member _" + m.name + ": archive is truncated";
        }
        EXPECT_TRUE(r.output.ends_with(message)) << r.output;
        EXPECT_TRUE(outputs_of(root / ("c" + std::to_string(cut))) == want);
        if (HasFailure()) return;  // one case's report is enough to go on
    }
    int damaged = 0;
    for (size_t i = s.archive.size(); i < archives.size(); i++) {
        const size_t bit = bits[i - s.archive.size()];
        SCOPED_TRACE("bit " + std::to_string(bit % 8) + " of byte " + std::to_string(bit / 8));
        const CliResult& r = results[i];
        const Expected want = expected_unpack(archives[i]);
        EXPECT_EQ(r.status, want.ok ? 0 : 254) << r.output;
        EXPECT_TRUE(outputs_of(root / ("c" + std::to_string(i))) == want.files) << r.output;
        damaged += r.status != 0;
        if (HasFailure()) return;
    }
    // Without a checksum some flips decode to other bytes, but the stream's
    // own checks catch nearly all (over 95% of these); far fewer would mean
    // a check has gone missing.
    EXPECT_GT(damaged, static_cast<int>(bits.size()) * 3 / 4);
}

}  // namespace
