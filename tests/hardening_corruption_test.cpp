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

#include "archive/entry.h"
#include "archive/header.h"
#include "archive/member_decode.h"
#include "support/cli_run.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

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
        ScratchDir dir;
        Bytes binary;
        for (int i = 0; i < 120; i++) binary.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
        out.members = {{"m1", text_like(11, 150)}, {"m2", binary}, {"m3", text_like(12, 100)}};
        for (const Member& m : out.members) write_file(dir / m.name, m.content);
        if (run_vorb(dir, {"e", "arch", "m1", "absent", "m2", "m3"}).status != 254)  // "absent" is missing
            throw std::runtime_error("packing the sample failed");
        out.archive = read_file(dir / "arch");
        // Entries are back to back; each stream is what packing it alone gives.
        size_t at = 10;
        for (Member& m : out.members) {
            if (m.name == "m2") at++;  // the absent entry's single byte
            ScratchDir alone;
            write_file(alone / m.name, m.content);
            run_vorb(alone, {"e", "one", m.name});
            const Bytes one = read_file(alone / "one");
            m.stream_start = at + 1 + m.name.size() + 1;
            m.stream_end = m.stream_start + (one.size() - (10 + 1 + m.name.size() + 1));
            at = m.stream_end;
        }
        if (at != out.archive.size()) throw std::runtime_error("the sample's layout is not as expected");
        return out;
    }();
    return s;
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
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
        script[i % 2] += "(cd " + c + " && exec timeout 60 " + quote(VORB_BIN) + " d arch) </dev/null >" + c +
                         ".out 2>&1; echo $? >" + c + ".status\n";
    }
    write_file(root / "run0.sh", script[0]);
    write_file(root / "run1.sh", script[1]);
    const int raw = std::system(("cd " + quote(root.path) + " && { sh run0.sh & sh run1.sh; wait; }").c_str());
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
std::map<std::string, Bytes> outputs_of(const std::string& dir) {
    std::map<std::string, Bytes> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string rel = fs::relative(e.path(), dir).string();
        if (rel != "arch") files[rel] = e.is_regular_file() ? read_file(e.path().string()) : Bytes{};
    }
    return files;
}

TEST(HardeningCorruption, TruncatedAtEveryOffset) {
    const Sample& s = sample();
    std::vector<Bytes> archives;
    for (size_t cut = 0; cut < s.archive.size(); cut++)
        archives.emplace_back(s.archive.begin(), s.archive.begin() + static_cast<long>(cut));
    ScratchDir root;
    const std::vector<CliResult> results = unpack_each(root, archives);

    for (size_t cut = 0; cut < s.archive.size(); cut++) {
        SCOPED_TRACE("archive cut to " + std::to_string(cut) + " bytes");
        const CliResult& r = results[cut];
        EXPECT_EQ(r.status, 254);
        std::string message = "\nDamaged archive: it ends too early";
        std::map<std::string, Bytes> want;
        if (cut < 5) message = "\nInvalid signature: arch: not an archive";
        for (const Member& m : s.members) {
            if (m.stream_end <= cut) want["_" + m.name] = m.content;
            if (cut >= m.stream_start && cut < m.stream_end)
                message = "\nDamaged archive: member " + m.name + ": archive is truncated";
        }
        EXPECT_TRUE(r.output.ends_with(message)) << r.output;
        EXPECT_TRUE(outputs_of(root / ("c" + std::to_string(cut))) == want);
        if (HasFailure()) break;  // one cut's report is enough to go on
    }
}

struct Expected {
    bool ok = true;
    std::map<std::string, Bytes> files;
};

// What unpacking an archive must leave, worked out with the archive reader
// in memory: every member that decodes and whose name can become a file in
// an otherwise empty directory, up to the first member that fails.
Expected expected_unpack(const Bytes& archive) {
    Expected x;
    ByteIn in;
    byte_in_from_memory(in, archive.data(), archive.size());
    ArchiveHeader h;
    MemberDecoder dec;
    if (read_header(in, h) != Status::ok || member_decoder_init(dec, in, h.block_size) != Status::ok) return {false, {}};
    for (int member = 0; member < h.member_count; member++) {
        ArchiveEntry e;
        if (read_entry(in, e) != Status::ok) return {false, x.files};
        if (!e.present) continue;
        Bytes bytes;
        uint8_t buf[256];
        ByteOut out;
        out.buf = buf;
        out.cap = sizeof buf;
        out.ctx = &bytes;
        out.drain = [](void* ctx, const uint8_t* d, size_t n) {
            static_cast<Bytes*>(ctx)->insert(static_cast<Bytes*>(ctx)->end(), d, d + n);
            return true;
        };
        MemberStats stats;
        if (decode_member(dec, out, ProgressSink{}, true, stats) != Status::ok) return {false, x.files};
        flush_out(out);
        // No directories exist beside the archive, so a name with a '/' can
        // never be created; too long and climbing names are refused.
        if (e.name_read != Status::ok || e.name.find('/') != std::string::npos) {
            x.ok = false;
            continue;
        }
        x.files["_" + e.name] = bytes;
    }
    // Bytes after the last counted entry fail the run once the members are out.
    if (get_byte(in) >= 0) x.ok = false;
    return x;
}

TEST(HardeningCorruption, SingleBitFlips) {
    const Sample& s = sample();
    // Every bit of the header, the first entry and the start of the second;
    // past that every eleventh bit.
    std::vector<size_t> bits;
    for (size_t bit = 0; bit < s.archive.size() * 8; bit += bit < 150 * 8 ? 1 : 11) bits.push_back(bit);
    std::vector<Bytes> archives;
    for (const size_t bit : bits) {
        archives.push_back(s.archive);
        archives.back()[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }
    ScratchDir root;
    const auto start = std::chrono::steady_clock::now();
    const std::vector<CliResult> results = unpack_each(root, archives);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds / static_cast<double>(bits.size()), 0.5);  // no case spins

    int damaged = 0;
    for (size_t i = 0; i < bits.size(); i++) {
        SCOPED_TRACE("bit " + std::to_string(bits[i] % 8) + " of byte " + std::to_string(bits[i] / 8));
        const CliResult& r = results[i];
        const Expected want = expected_unpack(archives[i]);
        EXPECT_EQ(r.status, want.ok ? 0 : 254) << r.output;
        EXPECT_TRUE(outputs_of(root / ("c" + std::to_string(i))) == want.files) << r.output;
        damaged += r.status != 0;
        if (HasFailure()) break;
    }
    // Without a checksum some flips decode to other bytes, but the stream's
    // own checks catch nearly all (over 95% of these); far fewer would mean
    // a check has gone missing.
    EXPECT_GT(damaged, static_cast<int>(bits.size()) * 3 / 4);
}

}  // namespace
