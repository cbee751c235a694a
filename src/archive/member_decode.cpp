#include "archive/member_decode.h"

#include "archive/member_decode_paths.h"

MemberDecoder::MemberDecoder() = default;
MemberDecoder::~MemberDecoder() { pipeline_stop(pipe); }

namespace {

// Blocks in flight: twice the workers and one, so that a worker rarely
// waits for a slower block ahead of it to be written out (costs vary from
// block to block, most on data that was compressed already).
// One thread keeps two: one decoding while the other's inverse runs beside it.
int slot_count(int threads) { return threads > 1 ? 2 * threads + 1 : 2; }
int work_set_count(int threads) { return threads > 1 ? threads : 1; }

// Sizes only: the numbers decoded, nothing inverted or written.
Status decode_member_sizes(MemberDecoder& d, MemberStats& stats) {
    InverseSlot& s = *d.slots[0];
    for (;;) {
        const Status st = decode_block_symbols(*d.bd, *d.nc, s.buffers.block_start, d.block_size,
                                               stats.blocks == 0, s.n, s.primary);
        VORB_TRY(blame_the_stream(*d.in, st));
        stats.blocks++;
        if (s.n == 0) return Status::ok;
        stats.unpacked += static_cast<uint64_t>(s.n);
    }
}

}  // namespace

Status member_decoder_init(MemberDecoder& d, ByteIn& in, uint32_t block_size, int threads, uint64_t memory_limit) {
    VORB_CHECK(threads >= 1, Status::bad_parameter);
    // Each worker fewer is two blocks fewer in flight.
    while (memory_limit != 0 && threads > 1 && member_decoder_memory(block_size, threads) > memory_limit) threads--;
    VORB_CHECK(memory_limit == 0 || member_decoder_memory(block_size, threads) <= memory_limit,
               Status::out_of_memory);
    d.in = &in;
    d.block_size = block_size;
    d.nc->rc.mode = rc_mode_unpack;
    d.nc->rc.in = &in;
    d.work = std::make_unique<WorkSets>();
    for (int i = 0; i < work_set_count(threads); i++) {
        auto w = std::make_unique<WorkSet>();
        if (!setup_parts(w->links, block_size, part_index | part_distance)) return Status::out_of_memory;
        d.work->all.push_back(std::move(w));
    }
    std::vector<Job*> jobs;
    for (int i = 0; i < slot_count(threads); i++) {
        auto s = std::make_unique<InverseSlot>();
        if (!setup_parts(s->buffers, block_size, part_block | part_unguarded)) return Status::out_of_memory;
        s->work = d.work.get();
        s->job.run = invert_slot;
        s->job.ctx = s.get();
        jobs.push_back(&s->job);
        d.slots.push_back(std::move(s));
    }
    pipeline_start(d.pipe, jobs, threads > 1 ? threads : 0);
    for (auto& w : d.work->all) {
        w->pool = &d.pipe.pool;
        if (threads > 1) w->helper_jobs.resize(static_cast<size_t>(threads - 1));
    }
    return Status::ok;
}

uint64_t member_decoder_memory(uint32_t block_size, int threads) {
    const uint64_t slots = static_cast<uint64_t>(slot_count(threads));
    const uint64_t sets = static_cast<uint64_t>(work_set_count(threads));
    return slots * (parts_bytes(block_size, part_block) + sizeof(InverseSlot)) +
           sets * (parts_bytes(block_size, part_index | part_distance) + sizeof(WorkSet)) + sizeof(WorkSets) +
           sizeof(BlockDecoder) + sizeof(NumberCoder) + sizeof(MemberDecoder);
}

Status blame_the_stream(const ByteIn& in, Status st) {
    if (in.read_error) return Status::read_failed;
    if (in.overread) return Status::truncated;
    return st;
}

Status decode_member(MemberDecoder& d, ByteOut& out, ProgressSink progress, bool invert, MemberStats& stats) {
    const uint64_t start = bytes_in(*d.in);
    stats = MemberStats{};
    rc_start(d.nc->rc);
    if (!invert)
        VORB_TRY(decode_member_sizes(d, stats));
    else if (pool_is_threaded(d.pipe.pool))
        VORB_TRY(decode_member_threaded(d, out, progress, stats));
    else
        VORB_TRY(decode_member_serial(d, out, progress, stats));
    stats.packed = bytes_in(*d.in) - start;
    return Status::ok;
}
