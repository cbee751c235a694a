#include "app/parallel_decode.h"

#include <deque>

struct InverseSlot {
    BlockBuffers buffers;  // block: the transformed bytes, then the block's; index, distance: links
    int32_t bucket_start[256];
    int32_t n = 0;
    int32_t primary = 0;
    Status status = Status::ok;
    Job job;
    ~InverseSlot() { release_buffers(buffers); }
};

ParallelDecoder::ParallelDecoder() = default;
ParallelDecoder::~ParallelDecoder() { pool_stop(pool); }

namespace {

void invert_slot(void* ctx) {
    InverseSlot& s = *static_cast<InverseSlot*>(ctx);
    s.status = invert_block(s.bucket_start, s.buffers.block_start, s.n, s.primary, s.buffers.index,
                            s.buffers.distance);
}

// Writes the oldest block in flight once its inverse is done.
Status finish_oldest(ParallelDecoder& d, std::deque<InverseSlot*>& pending, std::vector<InverseSlot*>& free_slots,
                     ByteOut& out, ProgressSink progress) {
    InverseSlot* s = pending.front();
    pending.pop_front();
    pool_wait(d.pool, s->job);
    free_slots.push_back(s);
    VORB_TRY(s->status);
    progress_put(progress, 'H');
    put_bytes(out, s->buffers.block_start, static_cast<size_t>(s->n));
    return out.failed ? Status::write_failed : Status::ok;
}

}  // namespace

bool parallel_decoder_init(ParallelDecoder& d, ByteIn& in, uint32_t block_size, int threads) {
    d.in = &in;
    d.block_size = block_size;
    d.nc->rc.mode = rc_mode_unpack;
    d.nc->rc.in = &in;
    // One slot more than workers, so the next block decodes while every worker inverts.
    for (int i = 0; i <= threads; i++) {
        auto s = std::make_unique<InverseSlot>();
        if (!setup_buffers(s->buffers, block_size, true)) return false;
        s->job.run = invert_slot;
        s->job.ctx = s.get();
        d.slots.push_back(std::move(s));
    }
    pool_start(d.pool, threads);
    return true;
}

Status decode_member_parallel(ParallelDecoder& d, ByteOut& out, ProgressSink progress, MemberStats& stats) {
    const uint64_t start = bytes_in(*d.in);
    stats = MemberStats{};
    rc_start(d.nc->rc);
    std::deque<InverseSlot*> pending;
    std::vector<InverseSlot*> free_slots;
    for (auto& s : d.slots) free_slots.push_back(s.get());
    Status st = Status::ok;
    for (;;) {
        if (free_slots.empty()) {
            st = finish_oldest(d, pending, free_slots, out, progress);
            if (st != Status::ok) break;
        }
        InverseSlot* s = free_slots.back();
        st = decode_block_symbols(*d.bd, *d.nc, s->buffers.block_start, d.block_size, stats.blocks == 0, s->n,
                                  s->primary);
        if (d.in->overread) st = Status::truncated;
        if (st != Status::ok) break;
        stats.blocks++;
        if (s->n == 0) break;
        stats.unpacked += static_cast<uint64_t>(s->n);
        free_slots.pop_back();
        pool_submit(d.pool, s->job);
        pending.push_back(s);
    }
    // Every job in flight must end before its slot is reused or freed.
    while (!pending.empty()) {
        const Status f = finish_oldest(d, pending, free_slots, out, progress);
        if (st == Status::ok) st = f;
    }
    VORB_TRY(st);
    stats.packed = bytes_in(*d.in) - start;
    return Status::ok;
}
