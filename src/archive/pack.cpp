#include "archive/pack.h"

#include <cstring>

#include "dc/block_buffers.h"
#include "dc/block_code.h"
#include "sort/forward.h"
#include "sort/sorter.h"

// One block in flight: its own buffers, sorter and models, so blocks sort
// and run their models in parallel.
struct PackSlot {
    BlockBuffers buffers;
    Sorter* sorter = nullptr;
    ProgressSink progress;
    int32_t n = 0;
    bool sorted = false;
    bool record = false;  // on a worker: record the block's steps after the sort
    BlockSteps steps;
    Job job;
    ~PackSlot() {
        release_buffers(buffers);
        if (sorter) sorter_destroy(sorter);
    }
};

Packer::Packer() = default;
Packer::~Packer() { pipeline_stop(pipe); }

namespace {

// Sorts the slot's block and scans it for distance coding. The sort leaves
// the transformed bytes at the start of the index buffer; they move to the
// block buffer (whose bytes are no longer needed), so the index buffer holds
// the run distances and, on a worker, the step record.
void sort_slot(void* ctx) {
    PackSlot& s = *static_cast<PackSlot*>(ctx);
    int32_t primary = 0;
    s.sorted = forward_transform(*s.sorter, s.buffers.block_start, s.n, s.buffers.index, s.progress, primary);
    if (!s.sorted) return;
    std::memcpy(s.buffers.block_start, s.buffers.index, static_cast<size_t>(s.n));
    steps_prepare(s.steps, s.buffers.block_start, s.n, primary, s.buffers.index);
    if (s.record) steps_record(s.steps, s.buffers.index, static_cast<size_t>(s.buffers.block_size) + 1);
}

// The coder's state before the next block, for the index.
void note_block(const Packer& p, MemberRecord* record, uint64_t stream_start, int32_t n) {
    if (record) record->blocks.push_back(IndexBlock{coder_state(p.nc->rc, stream_start), static_cast<uint32_t>(n)});
}

// Codes the oldest block in flight, in file order, once its sort is done.
// This is where each block's place in the stream is known.
Status code_oldest(Packer& p, ProgressSink progress, MemberStats& stats, MemberRecord* record, uint64_t stream_start) {
    PackSlot& s = *static_cast<PackSlot*>(pipeline_retire_oldest(p.pipe)->ctx);
    VORB_CHECK(s.sorted, Status::out_of_memory);
    if (pool_is_threaded(p.pipe.pool)) {
        // Worker threads print nothing; the coder shows each block when it is done.
        progress_put(progress, 'D');
        progress_put(progress, '\b');
        progress_put(progress, 'W');
    }
    note_block(p, record, stream_start, s.n);
    steps_finish(s.steps, *p.nc);
    stats.blocks++;
    stats.unpacked += static_cast<uint64_t>(s.n);
    return Status::ok;
}

// Blocks in flight: one for each worker to sort and one more that the caller
// codes in order meanwhile, so that no worker waits for a slot while a block
// whose steps did not all fit its record is coded (nearly incompressible data).
// One thread sorts and codes each block in turn.
int slot_count(int threads) { return threads > 1 ? threads + 1 : 1; }

// Fills dst up to len bytes, taking short reads; fewer only at the end.
ptrdiff_t read_full(MemberInput in, uint8_t* dst, size_t len) {
    size_t done = 0;
    while (done < len) {
        const ptrdiff_t r = in.read(in.ctx, dst + done, len - done);
        if (r < 0) return -1;
        if (r == 0) break;
        done += static_cast<size_t>(r) < len - done ? static_cast<size_t>(r) : len - done;
    }
    return static_cast<ptrdiff_t>(done);
}

}  // namespace

Status packer_init(Packer& p, uint32_t block_size, int threads) {
    VORB_CHECK(block_size >= 1 && block_size <= max_block_size && threads >= 1, Status::bad_parameter);
    p.block_size = block_size;
    std::vector<Job*> jobs;
    for (int i = 0; i < slot_count(threads); i++) {
        auto slot = std::make_unique<PackSlot>();
        slot->sorter = sorter_create();
        // Each slot codes its block in its own buffers: no distance array.
        if (!slot->sorter || !setup_buffers(slot->buffers, block_size, false)) return Status::out_of_memory;
        // Workers record steps; a lone thread codes at once, as recording would only add work.
        slot->record = threads > 1;
        slot->job.run = sort_slot;
        slot->job.ctx = slot.get();
        jobs.push_back(&slot->job);
        p.slots.push_back(std::move(slot));
    }
    p.nc->rc.mode = rc_mode_pack;
    pipeline_start(p.pipe, jobs, threads == 1 ? 0 : threads);
    return Status::ok;
}

uint64_t packer_memory(uint32_t block_size, int threads) {
    // A sort adds two bits per block byte (final and member marks) for blocks that repeat.
    const uint64_t per_sort = sizeof(PackSlot) + sizeof(Sorter) + (static_cast<uint64_t>(block_size) + 63) / 64 * 16;
    const uint64_t slots = static_cast<uint64_t>(slot_count(threads));
    return slots * (buffer_bytes(block_size, false) + per_sort) + sizeof(DistanceCoder) + sizeof(NumberCoder) +
           sizeof(Packer);
}

Status pack_member(Packer& p, MemberInput in, ByteOut& out, ProgressSink progress, MemberStats& stats,
                   MemberRecord* record) {
    stats = MemberStats{};
    const uint64_t start = bytes_out(out);
    const bool threaded = pool_is_threaded(p.pipe.pool);
    for (auto& s : p.slots) s->progress = threaded ? ProgressSink{} : progress;
    p.nc->rc.out = &out;
    rc_start(p.nc->rc);
    Status st = Status::ok;
    for (;;) {
        if (!pipeline_free(p.pipe)) {
            st = code_oldest(p, progress, stats, record, start);
            if (st != Status::ok) break;
        }
        PackSlot& s = *static_cast<PackSlot*>(pipeline_free(p.pipe)->ctx);
        const ptrdiff_t got = read_full(in, s.buffers.block_start, s.buffers.block_size);
        if (got < 0) {
            st = Status::read_failed;
            break;
        }
        if (got == 0) break;
        // Hashed before the sort, which may touch the byte after the block.
        if (record) checksum_add(record->checksum, s.buffers.block_start, static_cast<size_t>(got));
        s.n = static_cast<int32_t>(got);
        pipeline_submit(p.pipe);
    }
    // Every sort in flight ends before its slot is reused; after a failure
    // nothing more is coded.
    while (!p.pipe.pending.empty()) {
        if (st == Status::ok)
            st = code_oldest(p, progress, stats, record, start);
        else
            pipeline_retire_oldest(p.pipe);
    }
    VORB_TRY(st);
    note_block(p, record, start, 0);
    code_block(*p.dc, *p.nc, nullptr, 0, 0);  // end marker
    stats.blocks++;
    stats.packed = bytes_out(out) - start;
    return out.failed ? Status::write_failed : Status::ok;
}
