// Where the time goes: each stage of packing and unpacking timed alone over
// every 4 MiB block of each file, in MB/s of original bytes.
//
// usage: stage_profile REPEATS FILE...
// Stages: the forward sort; distance coding with the models and the range
// coder (one member stream, as a single thread packs it); the same split as
// several threads pack it: distance coding and the models recording each
// block's steps (the sorting worker's share), then the ordered pass that
// replays them on the range coder (a ceiling for any number of threads);
// number decoding (the mirror: range decoder, models and distance decoder);
// the inverse walk. "recorded" is the share of blocks' steps that fit in
// their block's free buffer; the rest is coded in the ordered pass.
// Each stage's time is the CPU time of this thread (so that other programs
// on a shared machine weigh less), the best of REPEATS passes over the whole
// file; every pass checks that the bytes come back.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "coder/byte_stream.h"
#include "coder/model.h"
#include "dc/block_code.h"
#include "inverse/invert_block.h"
#include "sort/forward.h"

namespace {

constexpr int32_t block_size = 4 << 20;
constexpr size_t front_guard = 4004;  // zero bytes the sort may read in front of a block

struct Clock {
    static double now() {
        timespec ts;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
    }
};

double seconds_since(double t0) { return Clock::now() - t0; }

bool append(void* ctx, const uint8_t* data, size_t len) {
    auto* v = static_cast<std::vector<uint8_t>*>(ctx);
    v->insert(v->end(), data, data + len);
    return true;
}

struct Block {
    std::vector<uint8_t> t;  // transformed
    int32_t primary;
};

struct Times {
    double sort = 1e30, code = 1e30, record = 1e30, replay = 1e30, decode = 1e30, invert = 1e30;
    double recorded = 0;  // share of the numbers' steps recorded
};

// One pass over the file; false when a stage fails or the bytes differ.
bool one_pass(Sorter& sorter, const std::vector<uint8_t>& file, Times& best, size_t& packed) {
    std::vector<uint8_t> work(front_guard + block_size + 1, 0);
    std::vector<int32_t> index(block_size + 1), scratch(block_size + 1);
    std::vector<Block> blocks;
    double sort = 0, code = 0, record = 0, replay = 0, decode = 0, invert = 0;

    for (size_t at = 0; at < file.size(); at += block_size) {
        const int32_t n = static_cast<int32_t>(std::min<size_t>(block_size, file.size() - at));
        uint8_t* data = work.data() + front_guard;
        std::memcpy(data, file.data() + at, static_cast<size_t>(n));
        Block b;
        const auto t0 = Clock::now();
        if (!forward_transform(sorter, data, n, index.data(), ProgressSink{}, b.primary)) return false;
        sort += seconds_since(t0);
        const auto* t = reinterpret_cast<const uint8_t*>(index.data());
        b.t.assign(t, t + n);
        blocks.push_back(std::move(b));
    }

    // One member stream, coded as packing codes it.
    std::vector<uint8_t> stream;
    std::vector<uint8_t> out_buf(256 << 10);
    ByteOut sink;
    sink.buf = out_buf.data();
    sink.cap = out_buf.size();
    sink.drain = append;
    sink.ctx = &stream;
    NumberCoder enc;
    enc.rc.out = &sink;
    enc.rc.mode = rc_mode_pack;
    rc_start(enc.rc);
    DistanceCoder dc;
    dc.distance = scratch.data();
    auto t0 = Clock::now();
    for (const Block& b : blocks)
        code_block(dc, enc, b.t.data(), static_cast<int32_t>(b.t.size()), b.primary);
    code_block(dc, enc, nullptr, 0, 0);
    flush_out(sink);
    code = seconds_since(t0);
    packed = stream.size();

    // The same stream, split as the worker threads and the ordered pass split it.
    std::vector<uint8_t> split_stream;
    sink.drain = append;
    sink.ctx = &split_stream;
    sink.pos = 0;
    sink.drained = 0;
    enc.rc.out = &sink;
    rc_start(enc.rc);
    BlockSteps steps;
    std::vector<uint8_t> t_copy(block_size);
    size_t recorded_bytes = 0;
    for (const Block& b : blocks) {
        const int32_t n = static_cast<int32_t>(b.t.size());
        std::memcpy(t_copy.data(), b.t.data(), b.t.size());
        t0 = Clock::now();
        steps_prepare(steps, t_copy.data(), n, b.primary, scratch.data());
        steps_record(steps, scratch.data(), static_cast<size_t>(n) + 1);
        record += seconds_since(t0);
        // How far into the block the record reaches.
        recorded_bytes += steps.dc.stage == dc_stage_done ? static_cast<size_t>(n)
                          : steps.dc.stage == dc_stage_runs ? static_cast<size_t>(steps.dc.pos) : 0;
        t0 = Clock::now();
        steps_finish(steps, enc);
        replay += seconds_since(t0);
        if (steps.dc.stage != dc_stage_done) return false;
    }
    code_block(dc, enc, nullptr, 0, 0);
    flush_out(sink);
    if (split_stream != stream) return false;
    ByteIn in;
    byte_in_from_memory(in, stream.data(), stream.size());
    NumberCoder dec;
    dec.rc.in = &in;
    dec.rc.mode = rc_mode_unpack;
    rc_start(dec.rc);
    BlockDecoder bd;
    std::vector<uint8_t> t(block_size);
    size_t at = 0;
    for (size_t k = 0;; k++) {
        int32_t n = 0, primary = 0;
        t0 = Clock::now();
        if (decode_block_symbols(bd, dec, t.data(), block_size, k == 0, n, primary) != Status::ok) return false;
        decode += seconds_since(t0);
        if (n == 0) break;
        if (k >= blocks.size() || primary != blocks[k].primary) return false;
        t0 = Clock::now();
        if (invert_block(bd.bucket_start, t.data(), n, primary, index.data(), scratch.data()) != Status::ok)
            return false;
        invert += seconds_since(t0);
        if (std::memcmp(t.data(), file.data() + at, static_cast<size_t>(n)) != 0) return false;
        at += static_cast<size_t>(n);
    }
    if (at != file.size()) return false;
    best.sort = std::min(best.sort, sort);
    best.code = std::min(best.code, code);
    best.record = std::min(best.record, record);
    best.replay = std::min(best.replay, replay);
    best.recorded = static_cast<double>(recorded_bytes) / static_cast<double>(file.size());
    best.decode = std::min(best.decode, decode);
    best.invert = std::min(best.invert, invert);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s REPEATS FILE...\n", argv[0]);
        return 2;
    }
    const int repeats = std::max(1, std::atoi(argv[1]));
    Sorter* sorter = sorter_create();
    if (!sorter) return 1;
    std::printf("| input | MB | bits/byte | sort MB/s | distance + model + range coding MB/s "
                "| worker: distance + model, recorded MB/s | recorded | ordered pass (replay) MB/s "
                "| number decoding MB/s | inverse walk MB/s |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (int i = 2; i < argc; i++) {
        std::ifstream f(argv[i], std::ios::binary | std::ios::ate);
        std::vector<uint8_t> file(f ? static_cast<size_t>(f.tellg()) : 0);
        f.seekg(0);
        if (!f.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size())) || file.empty()) {
            std::fprintf(stderr, "%s: cannot read it, or it is empty\n", argv[i]);
            return 1;
        }
        Times best;
        size_t packed = 0;
        for (int r = 0; r < repeats; r++)
            if (!one_pass(*sorter, file, best, packed)) {
                std::fprintf(stderr, "%s: a stage failed or the bytes did not come back\n", argv[i]);
                return 1;
            }
        const double mb = static_cast<double>(file.size()) / 1e6;
        const std::string name = std::strrchr(argv[i], '/') ? std::strrchr(argv[i], '/') + 1 : argv[i];
        std::printf("| %s | %.1f | %.3f | %.1f | %.1f | %.1f | %.0f %% | %.1f | %.1f | %.1f |\n", name.c_str(), mb,
                    8.0 * static_cast<double>(packed) / static_cast<double>(file.size()), mb / best.sort,
                    mb / best.code, mb / best.record, 100 * best.recorded, mb / best.replay, mb / best.decode,
                    mb / best.invert);
        std::fflush(stdout);
    }
    sorter_destroy(sorter);
    return 0;
}
