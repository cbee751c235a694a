#include "archive/pack.h"

#include <cstring>
#include <deque>
#include <new>

#include "archive/block_handoff.h"
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
    uint64_t checksum = 0;  // of the block's bytes, when the index keeps records
    bool sorted = false;
    bool record = false;  // on a worker: record the block's steps after the sort
    BlockSteps steps;
    Job job;
    bool set_up = false;  // the buffers and sorters are made
    bool index_fresh = true;  // no block of this slot has been coded: its index pages may be new
    // Threaded: a worker with no block to start sorts part of this one, in
    // its own tables.
    WorkerPool* pool = nullptr;
    Sorter* helper_sorter = nullptr;
    Job helper_job;
    // Threaded: how the block's coding passes to the ordered pass.
    BlockHandoff handoff;
    ~PackSlot() {
        release_buffers(buffers);
        if (sorter) sorter_destroy(sorter);
        if (helper_sorter) sorter_destroy(helper_sorter);
    }
};

Packer::Packer() = default;
Packer::~Packer() { pipeline_stop(pipe); }

namespace {

// A worker helps only while the caller waits for a block: otherwise its
// help would take time from the coding in order, not from an idle core.
void offer_to_helper(void* ctx, void (*work)(void*), void* arg) {
    PackSlot& s = *static_cast<PackSlot*>(ctx);
    pool_offer(*s.pool, s.helper_job, work, arg, true);
}

bool caller_waits(void* ctx) { return pool_has_waiters(*static_cast<PackSlot*>(ctx)->pool); }

void withdraw_offer(void* ctx) {
    PackSlot& s = *static_cast<PackSlot*>(ctx);
    pool_withdraw(*s.pool, s.helper_job);
}

// Words recorded between two showings: about seventy for a 4 MiB block of text.
constexpr size_t show_every_words = size_t{1} << 16;

// Sorts the slot's block and scans it for distance coding. The sort leaves
// the transformed bytes at the start of the index buffer; they move to the
// block buffer (whose bytes are no longer needed), so the index buffer holds
// the run distances and, on a worker, the step record.
void sort_slot(void* ctx) {
    PackSlot& s = *static_cast<PackSlot*>(ctx);
    int32_t primary = 0;
    const SortHelper helper{{offer_to_helper, withdraw_offer, &s}, s.helper_sorter, caller_waits};
    s.sorted = forward_transform(*s.sorter, s.buffers.block_start, s.n, s.buffers.index, s.progress, primary,
                                 s.helper_sorter ? &helper : nullptr);
    if (!s.sorted) {
        if (s.record) handoff_failed(s.handoff);
        return;
    }
    std::memcpy(s.buffers.block_start, s.buffers.index, static_cast<size_t>(s.n));
    steps_prepare(s.steps, s.buffers.block_start, s.n, primary, s.buffers.index);
    if (!s.record) return;
    handoff_work(s.handoff, s.steps, s.buffers.index, static_cast<size_t>(s.buffers.block_size) + 1, show_every_words,
                 handoff_show);
}

// The coder's state before the next block, for the index.
void note_block(const Packer& p, MemberRecord* record, uint64_t stream_start, int32_t n, uint64_t checksum) {
    if (record)
        record->blocks.push_back(IndexBlock{coder_state(p.nc->rc, stream_start), static_cast<uint32_t>(n), checksum});
}

// Codes the oldest block in flight, in file order: threaded, through the
// block's handoff (its worker's record replayed here, or the coder lent to
// the worker); else once its sort is done. This is where each block's place
// in the stream is known. last: the input has ended and no other block is in
// flight, so this thread has nothing else to do.
Status code_oldest(Packer& p, ProgressSink progress, MemberStats& stats, MemberRecord* record, uint64_t stream_start,
                   bool last) {
    PackSlot& s = *static_cast<PackSlot*>(pipeline_oldest(p.pipe)->ctx);
    const bool threaded = pool_is_threaded(p.pipe.pool);
    note_block(p, record, stream_start, s.n, s.checksum);
    // The steps are coded as the worker shows them, or by the worker itself
    // once it holds the coder (none when the sort failed). Lending the coder
    // spares recording and replaying, and frees this thread for reading; for
    // the last block there is nothing to read, and replaying beside the
    // worker's modelling ends it sooner.
    if (threaded) handoff_code(s.handoff, p.nc->rc, !last);
    pipeline_retire_oldest(p.pipe);
    s.index_fresh = false;
    VORB_CHECK(s.sorted, Status::out_of_memory);
    if (threaded) {
        // Worker threads print nothing; the coder shows each block when it is done.
        progress_put(progress, ProgressEvent::sort_started);
        progress_put(progress, ProgressEvent::sort_ended);
    }
    steps_finish(s.steps, *p.nc, threaded);
    stats.blocks++;
    stats.unpacked += static_cast<uint64_t>(s.n);
    return Status::ok;
}

// Blocks in flight: one for each worker to sort and one more that the caller
// codes in order meanwhile, so that no worker waits for a slot while a block
// whose steps did not all fit its record is coded (nearly incompressible data).
// One thread sorts and codes each block in turn.
int slot_count(int threads) { return threads > 1 ? threads + 1 : 1; }

// A slot's buffers and sorters, made when it first takes a block, so that
// an input of fewer blocks than slots touches no memory for the others.
// Each slot codes its block in its own buffers: no distance array.
bool setup_slot(PackSlot& s, uint32_t block_size) {
    if (s.set_up) return true;
    if (!s.sorter) s.sorter = sorter_create();
    if (!s.sorter || (!s.buffers.block_alloc && !setup_buffers(s.buffers, block_size, false))) return false;
    if (s.pool && !s.helper_sorter) s.helper_sorter = sorter_create();
    s.set_up = !s.pool || s.helper_sorter;
    return s.set_up;
}

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

// Once the input has ended the caller only waits for the blocks in flight.
// Meanwhile it has the kernel ready the pages of their indexes, which a sort
// would otherwise stop for on its first pass; on a short input that is the
// one block's sort (newest first: its sort has touched the least).
void prefault_fresh_indexes(Packer& p) {
    for (auto j = p.pipe.pending.rbegin(); j != p.pipe.pending.rend(); ++j) {
        PackSlot& s = *static_cast<PackSlot*>((*j)->ctx);
        if (!s.index_fresh) continue;
        prefault_index(s.buffers, static_cast<size_t>(s.n) + 1);
        s.index_fresh = false;
    }
}

}  // namespace

Status packer_init(Packer& p, uint32_t block_size, int threads) {
    VORB_CHECK(block_size >= 1 && block_size <= max_block_size && threads >= 1, Status::bad_parameter);
    p.block_size = block_size;
    std::vector<Job*> jobs;
    for (int i = 0; i < slot_count(threads); i++) {
        auto slot = std::make_unique<PackSlot>();
        // Workers record steps; a lone thread codes at once, as recording would only add work.
        slot->record = threads > 1;
        if (threads > 1) {
            slot->pool = &p.pipe.pool;
            slot->handoff.pool = &p.pipe.pool;
        }
        // The first slot at once: a block size whose buffers cannot be had
        // is refused here, before anything is written.
        if (i == 0 && !setup_slot(*slot, block_size)) return Status::out_of_memory;
        slot->job.run = sort_slot;
        slot->job.ctx = slot.get();
        slot->job.priority = 1;  // above the helpers' offers; equal blocks go in order
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
    // Threaded, each block in flight can have a helper sort part of it.
    const uint64_t sorts = threads > 1 ? 2 : 1;
    return slots * (buffer_bytes(block_size, false) + sorts * per_sort) + sizeof(DistanceCoder) +
           sizeof(NumberCoder) + sizeof(Packer);
}

namespace {

// What the ordered pass does next, in archive order: an entry's start, a
// block (the oldest in the pipeline), or a stream's end.
struct PackStep {
    enum Kind : uint8_t { begin, absent, block, end } kind;
    unsigned member;
};

// A member between the start of its reading and the end of its stream.
struct MemberInFlight {
    MemberStats stats;
    MemberRecord record;
    uint64_t start = 0;  // where its stream begins in out
};

struct PackRun {
    Packer& p;
    MemberFeed& feed;
    ByteOut& out;
    bool keep_records;
    std::deque<PackStep> steps;
    std::deque<MemberInFlight> members;  // front: the member being coded
    bool input_ended = false;            // every member has been read
};

// Takes the oldest step of the ordered pass.
Status take_step(PackRun& r) {
    const PackStep step = r.steps.front();
    r.steps.pop_front();
    switch (step.kind) {
        case PackStep::absent:
            return r.feed.begin(r.feed.ctx, step.member, false);
        case PackStep::begin:
            VORB_TRY(r.feed.begin(r.feed.ctx, step.member, true));
            r.members.front().start = bytes_out(r.out);
            r.p.nc->rc.out = &r.out;
            rc_start(r.p.nc->rc);
            return Status::ok;
        case PackStep::block: {
            MemberInFlight& m = r.members.front();
            const bool last = r.input_ended && r.p.pipe.pending.size() == 1;
            return code_oldest(r.p, r.feed.progress, m.stats, r.keep_records ? &m.record : nullptr, m.start, last);
        }
        case PackStep::end:
            break;
    }
    MemberInFlight& m = r.members.front();
    note_block(r.p, r.keep_records ? &m.record : nullptr, m.start, 0, 0);
    code_block(*r.p.dc, *r.p.nc, nullptr, 0, 0);  // end marker
    m.stats.blocks++;
    m.stats.packed = bytes_out(r.out) - m.start;
    const Status st = r.feed.end(r.feed.ctx, step.member, m.stats, r.keep_records ? &m.record : nullptr);
    r.members.pop_front();
    return st;
}

// Takes steps up to and including the next block's, which frees its slot.
Status take_steps_to_block(PackRun& r) {
    for (;;) {
        const bool block = r.steps.front().kind == PackStep::block;
        VORB_TRY(take_step(r));
        if (block) return Status::ok;
    }
}

}  // namespace

Status pack_members(Packer& p, unsigned count, MemberFeed& feed, ByteOut& out, bool keep_records) {
    PackRun r{p, feed, out, keep_records, {}, {}};
    const bool threaded = pool_is_threaded(p.pipe.pool);
    for (auto& s : p.slots) s->progress = threaded ? ProgressSink{} : feed.progress;
    Status st = Status::ok;
    unsigned reading = 0;  // the member being read
    bool open = false;
    MemberInput in;
    try {
        while (st == Status::ok) {
            if (!open) {
                // After a failed write no more files are read: the output is lost.
                if (reading == count || out.failed) break;
                in = MemberInput{};
                bool present = false;
                st = feed.open(feed.ctx, reading, in, present);
                if (st != Status::ok) break;
                if (!present) {
                    r.steps.push_back({PackStep::absent, reading++});
                    continue;
                }
                open = true;
                r.members.emplace_back();
                r.steps.push_back({PackStep::begin, reading});
            }
            if (!pipeline_free(p.pipe)) {
                st = take_steps_to_block(r);
                if (st != Status::ok) break;
            }
            PackSlot& s = *static_cast<PackSlot*>(pipeline_free(p.pipe)->ctx);
            if (!setup_slot(s, p.block_size)) {
                st = Status::out_of_memory;
                break;
            }
            const ptrdiff_t got = read_full(in, s.buffers.block_start, s.buffers.block_size);
            if (got <= 0) {
                feed.close(feed.ctx, reading);
                open = false;
                if (got < 0) {
                    st = Status::read_failed;
                    break;
                }
                r.steps.push_back({PackStep::end, reading++});
                continue;
            }
            // Hashed before the sort, which may touch the byte after the block.
            if (keep_records) {
                checksum_add(r.members.back().record.checksum, s.buffers.block_start, static_cast<size_t>(got));
                s.checksum = checksum_of(s.buffers.block_start, static_cast<size_t>(got));
            }
            s.n = static_cast<int32_t>(got);
            // On one thread the block sorts at once: what comes before it in
            // the archive goes out first, so progress shows in archive order.
            while (!threaded && !r.steps.empty() && st == Status::ok) st = take_step(r);
            if (st != Status::ok) break;
            r.steps.push_back({PackStep::block, reading});
            handoff_reset(s.handoff);
            pipeline_submit(p.pipe);
        }
        // The blocks still in flight, in order.
        r.input_ended = true;
        if (threaded) prefault_fresh_indexes(p);
        while (st == Status::ok && !r.steps.empty()) st = take_step(r);
    } catch (const std::bad_alloc&) {
        st = Status::out_of_memory;
    }
    if (open) feed.close(feed.ctx, reading);
    // After a failure nothing more is coded, but every sort in flight ends
    // before its slot is reused.
    while (pipeline_retire_oldest(p.pipe)) {
    }
    VORB_TRY(st);
    return out.failed ? Status::write_failed : Status::ok;
}

namespace {

// One member alone, its stream the whole output.
struct SingleMember {
    MemberInput in;
    MemberStats* stats;
};

Status single_open(void* ctx, unsigned, MemberInput& in, bool& present) {
    in = static_cast<SingleMember*>(ctx)->in;
    present = true;
    return Status::ok;
}
void single_close(void*, unsigned) {}
Status single_begin(void*, unsigned, bool) { return Status::ok; }
Status single_end(void* ctx, unsigned, const MemberStats& stats, MemberRecord*) {
    *static_cast<SingleMember*>(ctx)->stats = stats;
    return Status::ok;
}

}  // namespace

Status pack_member(Packer& p, MemberInput in, ByteOut& out, ProgressSink progress, MemberStats& stats) {
    stats = MemberStats{};
    SingleMember m{in, &stats};
    MemberFeed feed{&m, single_open, single_close, single_begin, single_end, progress};
    return pack_members(p, 1, feed, out, false);
}
