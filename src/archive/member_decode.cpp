#include "archive/member_decode.h"

#include <algorithm>
#include <cstring>
#include <condition_variable>
#include <mutex>

#include "archive/checksum.h"
#include "dc/block_resume.h"
#include "inverse/decode_block.h"

// What a block needs only while a job decodes and inverts it: one set for
// each job that can run at once, taken when the job starts, so a block
// waiting in line holds nothing but its bytes.
struct WorkSet {
    BlockBuffers links;  // the index and distance arrays
    int32_t bucket_start[256];
    // An indexed member's block is decoded from its recorded state here too.
    BlockDecoder bd;
    NumberCoder nc;
    // The block this set last decoded, inverted while the set's next job
    // decodes (held), and whether a job or the writer has the set now.
    PendingInverse pending;
    InverseSlot* held = nullptr;
    bool busy = false;
    // The other workers' share of this set's walks: a job for each, queued
    // below every block, so that only a worker with no block to start helps.
    WorkerPool* pool = nullptr;
    std::vector<Job> helps;
    ~WorkSet() { release_buffers(links); }
};

struct WorkSets {
    std::vector<std::unique_ptr<WorkSet>> all;
    std::mutex mutex;  // guards busy, held and the slots' ready and holder
    std::condition_variable changed;
};

struct InverseSlot {
    BlockBuffers buffers;  // the block only: the transformed bytes, then the block's
    WorkSets* work = nullptr;
    int32_t n = 0;
    int32_t primary = 0;
    // How often each value occurs in the block, as its decoder counted the
    // runs: the inverse then needs no pass of its own to count them.
    int32_t counts[256] = {};
    Status status = Status::ok;
    // False from submission until the block's bytes are whole; meanwhile a
    // set may hold its inverse.
    bool ready = true;
    WorkSet* holder = nullptr;
    Job job;
    // A block of an indexed member: its stream bytes, four past the next
    // block's start, and the coder's state at its start and end.
    std::vector<uint8_t> packed;
    CoderState start;
    CoderState end;
    ~InverseSlot() { release_buffers(buffers); }
};

MemberDecoder::MemberDecoder() = default;
MemberDecoder::~MemberDecoder() { pipeline_stop(pipe); }

namespace {

// A set no one has, one holding a block first: the job's decoding then
// overlaps that block's walks. There are as many sets as workers, so a job
// waits only while the writer ends a held block.
WorkSet& take_work(WorkSets& w) {
    std::unique_lock<std::mutex> lock(w.mutex);
    for (;;) {
        WorkSet* set = nullptr;
        for (auto& c : w.all)
            if (!c->busy && (!set || (c->held && !set->held))) set = c.get();
        if (set) {
            set->busy = true;
            return *set;
        }
        w.changed.wait(lock);
    }
}

void give_back(WorkSets& w, WorkSet& set) {
    std::lock_guard<std::mutex> lock(w.mutex);
    set.busy = false;
    w.changed.notify_all();
}

void invite_helpers(void* ctx, void (*work)(void*), void* arg) {
    WorkSet& w = *static_cast<WorkSet*>(ctx);
    for (Job& j : w.helps) pool_offer(*w.pool, j, work, arg);
}

void dismiss_helpers(void* ctx) {
    WorkSet& w = *static_cast<WorkSet*>(ctx);
    for (Job& j : w.helps) pool_withdraw(*w.pool, j);
}

// Begins the inverse of s's block in w's tables, its values counted in counts.
void begin_inverse(PendingInverse& p, const int32_t* counts, WorkSet& w, InverseSlot& s) {
    inverse_begin(p, counts, w.bucket_start, s.buffers.block_start, s.n, s.primary, w.links.index,
                  w.links.distance);
}

Status invert_with(WorkSet& w, InverseSlot& s) {
    const WalkHelpers helpers{invite_helpers, dismiss_helpers, &w};
    // Begun and ended at once: beginning is what takes the decoder's counts.
    PendingInverse p;
    begin_inverse(p, s.counts, w, s);
    return inverse_end(p, w.helps.empty() ? nullptr : &helpers);
}

void invert_slot(void* ctx) {
    InverseSlot& s = *static_cast<InverseSlot*>(ctx);
    WorkSet& w = take_work(*s.work);
    s.status = invert_with(w, s);
    give_back(*s.work, w);
}

// Ends the inverse of the block w holds; the block is then ready.
void end_held(WorkSets& sets, WorkSet& w) {
    InverseSlot& h = *w.held;
    const WalkHelpers helpers{invite_helpers, dismiss_helpers, &w};
    const Status st = inverse_end(w.pending, w.helps.empty() ? nullptr : &helpers);
    std::lock_guard<std::mutex> lock(sets.mutex);
    h.status = st;
    h.ready = true;
    h.holder = nullptr;
    w.held = nullptr;
    sets.changed.notify_all();
}

// Decodes the block from its recorded state while the set's held block is
// inverted beside it, then holds this one.
void decode_and_invert_slot(void* ctx) {
    InverseSlot& s = *static_cast<InverseSlot*>(ctx);
    WorkSets& sets = *s.work;
    WorkSet& w = take_work(sets);
    DecodeTick tick = inverse_tick(w.pending);
    s.status = decode_block_resumed(w.bd, w.nc, s.packed.data(), s.packed.size(), s.start, s.buffers.block_start,
                                    s.buffers.block_size, s.n, s.primary, s.end, tick.fn ? &tick : nullptr);
    if (w.held) end_held(sets, w);
    const bool hold = s.status == Status::ok && s.n > 0;
    if (hold)
        begin_inverse(w.pending, w.bd.dd.value_count, w, s);
    {
        std::lock_guard<std::mutex> lock(sets.mutex);
        if (hold) {
            w.held = &s;
            s.holder = &w;
        } else {
            s.ready = true;
        }
    }
    give_back(sets, w);
}

// Waits until the block of a retired job is whole. A block still held by a
// set that no job has is inverted here, with idle workers helping.
void wait_ready(InverseSlot& s) {
    WorkSets& sets = *s.work;
    std::unique_lock<std::mutex> lock(sets.mutex);
    while (!s.ready) {
        WorkSet* h = s.holder;
        if (h->busy) {
            sets.changed.wait(lock);
            continue;
        }
        h->busy = true;
        lock.unlock();
        end_held(sets, *h);
        give_back(sets, *h);
        lock.lock();
    }
}

// Writes the oldest block in flight once its inverse is done.
Status write_oldest(MemberDecoder& d, ByteOut& out, ProgressSink progress) {
    const InverseSlot& s = *static_cast<const InverseSlot*>(pipeline_retire_oldest(d.pipe)->ctx);
    // On one thread the block shows as started before its inverse can fail;
    // worker threads show only the blocks that come out whole.
    const bool threaded = pool_is_threaded(d.pipe.pool);
    if (!threaded) progress_put(progress, 'H');
    VORB_TRY(s.status);
    if (threaded) progress_put(progress, 'H');
    put_bytes(out, s.buffers.block_start, static_cast<size_t>(s.n));
    return out.failed ? Status::write_failed : Status::ok;
}

// Blocks in flight: twice the workers and one, so that a worker rarely
// waits for a slower block ahead of it to be written out (costs vary from
// block to block, most on data that was compressed already).
// One thread keeps two: one decoding while the other's inverse runs beside it.
int slot_count(int threads) { return threads > 1 ? 2 * threads + 1 : 2; }
int work_set_count(int threads) { return threads > 1 ? threads : 1; }

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
        if (!setup_parts(s->buffers, block_size, part_block)) return Status::out_of_memory;
        s->work = d.work.get();
        s->job.run = invert_slot;
        s->job.ctx = s.get();
        jobs.push_back(&s->job);
        d.slots.push_back(std::move(s));
    }
    pipeline_start(d.pipe, jobs, threads > 1 ? threads : 0);
    for (auto& w : d.work->all) {
        w->pool = &d.pipe.pool;
        if (threads > 1) w->helps.resize(static_cast<size_t>(threads - 1));
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

namespace {

// A block's status once the archive's own state is weighed: garbage read
// past the end usually trips a check, but the cause is the cut, and an
// intact stream never needs a byte past the end of the archive.
Status blame_the_stream(const ByteIn& in, Status st) {
    if (in.read_error) return Status::read_failed;
    if (in.overread) return Status::truncated;
    return st;
}

// Ends the inverse of the block pending beside the decoding and writes it.
Status write_pending(WorkSet& w, const InverseSlot& s, ByteOut& out, ProgressSink progress) {
    progress_put(progress, 'H');
    VORB_TRY(inverse_end(w.pending));
    put_bytes(out, s.buffers.block_start, static_cast<size_t>(s.n));
    return out.failed ? Status::write_failed : Status::ok;
}

// One thread: each block's numbers are decoded while the block before it is
// inverted a sweep at a time, so the walks' cache misses wait beside the
// decoder's arithmetic instead of after it.
Status decode_member_serial(MemberDecoder& d, ByteOut& out, ProgressSink progress, MemberStats& stats) {
    WorkSet& w = *d.work->all[0];
    const InverseSlot* held = nullptr;  // the block whose inverse is pending
    Status st = Status::ok;
    for (size_t k = 0;; k++) {
        InverseSlot& s = *d.slots[k % d.slots.size()];
        DecodeTick tick = inverse_tick(w.pending);
        st = decode_block_symbols(*d.bd, *d.nc, s.buffers.block_start, d.block_size, stats.blocks == 0, s.n,
                                  s.primary, tick.fn ? &tick : nullptr);
        st = blame_the_stream(*d.in, st);
        // The block before fails first.
        if (held) {
            const Status f = write_pending(w, *held, out, progress);
            held = nullptr;
            if (f != Status::ok) st = f;
        }
        if (st != Status::ok) break;
        stats.blocks++;
        if (s.n == 0) break;
        stats.unpacked += static_cast<uint64_t>(s.n);
        begin_inverse(w.pending, d.bd->dd.value_count, w, s);
        held = &s;
    }
    return st;
}

}  // namespace

Status decode_member(MemberDecoder& d, ByteOut& out, ProgressSink progress, bool invert, MemberStats& stats) {
    if (invert && !pool_is_threaded(d.pipe.pool)) {
        const uint64_t start = bytes_in(*d.in);
        stats = MemberStats{};
        rc_start(d.nc->rc);
        VORB_TRY(decode_member_serial(d, out, progress, stats));
        stats.packed = bytes_in(*d.in) - start;
        return Status::ok;
    }
    for (auto& s : d.slots) {
        s->job.run = invert_slot;
        s->job.priority = 1;  // above the helpers' jobs; equal blocks go in order
    }
    const uint64_t start = bytes_in(*d.in);
    stats = MemberStats{};
    rc_start(d.nc->rc);
    Status st = Status::ok;
    for (;;) {
        if (!pipeline_free(d.pipe)) {
            st = write_oldest(d, out, progress);
            if (st != Status::ok) break;
        }
        InverseSlot& s = *static_cast<InverseSlot*>(pipeline_free(d.pipe)->ctx);
        st = decode_block_symbols(*d.bd, *d.nc, s.buffers.block_start, d.block_size, stats.blocks == 0, s.n,
                                  s.primary);
        st = blame_the_stream(*d.in, st);
        if (st != Status::ok) break;
        stats.blocks++;
        if (s.n == 0) break;
        stats.unpacked += static_cast<uint64_t>(s.n);
        std::memcpy(s.counts, d.bd->dd.value_count, sizeof s.counts);
        if (invert) pipeline_submit(d.pipe);
    }
    // Every job in flight must end before its slot is reused or freed.
    while (!d.pipe.pending.empty()) {
        const Status f = write_oldest(d, out, progress);
        if (st == Status::ok) st = f;
    }
    VORB_TRY(st);
    stats.packed = bytes_in(*d.in) - start;
    return Status::ok;
}

namespace {

// Takes len bytes from in; false when the archive ends first.
bool take_bytes(ByteIn& in, uint8_t* dst, size_t len) {
    while (len > 0) {
        if (in.pos == in.len) {
            const int c = refill_in(in);
            if (c < 0) return false;
            *dst++ = static_cast<uint8_t>(c);
            len--;
            continue;
        }
        const size_t n = std::min(len, in.len - in.pos);
        std::memcpy(dst, in.buf + in.pos, n);
        in.pos += n;
        dst += n;
        len -= n;
    }
    return true;
}

// The order the workers start blocks in. While blocks are still to be read
// they go in order: the oldest holds the window of slots, and passing it over
// would leave the window full of finished blocks and the workers idle. Once
// the last is read, the dearest waiting goes first, so that what runs alone
// at the end is a cheap block. A block's decoding time, roughly: on text,
// binaries and compressed data alike a packed byte costs about eight times an
// unpacked one. Every block ranks above the helpers' jobs (0).
uint64_t block_priority(uint32_t k, uint32_t block_count, size_t slots, size_t packed, uint32_t length) {
    constexpr uint64_t in_order = uint64_t{1} << 62;  // above any cost: packed and length stay below 2^40
    if (k + slots < block_count) return in_order - k;
    return 1 + 8 * static_cast<uint64_t>(packed) + length;
}

// The oldest block in flight once its bytes are whole.
InverseSlot& retire_whole(MemberDecoder& d) {
    InverseSlot& s = *static_cast<InverseSlot*>(pipeline_retire_oldest(d.pipe)->ctx);
    wait_ready(s);
    return s;
}

// Checks the oldest block against its record and the next block's start,
// then writes it and adds it to the member's checksum.
Status finish_indexed_block(MemberDecoder& d, const ArchiveIndex& index, const IndexBlock* rec,
                            const IndexBlock* next, const IndexEntry& e, ByteOut& out, ProgressSink progress,
                            Checksum& sum) {
    const InverseSlot& s = retire_whole(d);
    // The block had all the bytes up to where the next starts: needing more is no cut archive.
    VORB_CHECK(s.status != Status::truncated, Status::bad_block_end);
    VORB_TRY(s.status);
    VORB_CHECK(static_cast<uint32_t>(s.n) == rec->length, Status::bad_block_end);
    // After the end marker only the coder's four last bytes remain.
    VORB_CHECK(next ? s.end == next->start : s.end.written + coder_lookahead == e.stream_length, Status::bad_block_end);
    if (s.n == 0) return Status::ok;
    // Checked before the bytes go out: the damage is this block's alone.
    VORB_CHECK(index.version == index_version_1 ||
                   checksum_of(s.buffers.block_start, static_cast<size_t>(s.n)) == rec->checksum,
               Status::block_checksum_mismatch);
    progress_put(progress, 'H');
    checksum_add(sum, s.buffers.block_start, static_cast<size_t>(s.n));
    put_bytes(out, s.buffers.block_start, static_cast<size_t>(s.n));
    return out.failed ? Status::write_failed : Status::ok;
}

}  // namespace

Status decode_member_indexed(MemberDecoder& d, const ArchiveIndex& index, const IndexEntry& e, ByteOut& out,
                             ProgressSink progress, MemberStats& stats) {
    stats = MemberStats{};
    for (auto& s : d.slots) s->job.run = decode_and_invert_slot;
    const IndexBlock* blocks = index.blocks.data() + e.first_block;
    Checksum sum;
    uint64_t have = 0;  // stream bytes read so far
    uint8_t carry[coder_lookahead];  // the last of them: the next block's first
    Status st = Status::ok;
    uint32_t retired = 0;
    for (uint32_t k = 0; k < e.block_count && st == Status::ok; k++) {
        if (!pipeline_free(d.pipe)) {
            d.failed_block = retired;
            st = finish_indexed_block(d, index, blocks + retired,
                                      retired + 1 < e.block_count ? blocks + retired + 1 : nullptr, e, out, progress, sum);
            retired++;
            if (st != Status::ok) break;
        }
        InverseSlot& s = *static_cast<InverseSlot*>(pipeline_free(d.pipe)->ctx);
        // The index guarantees written counts that never fall and stay four
        // bytes inside the stream, so each block needs the four bytes read
        // last and the ones up to four past the next block's start.
        s.start = blocks[k].start;
        const uint64_t stop = k + 1 < e.block_count ? blocks[k + 1].start.written + coder_lookahead : e.stream_length;
        const uint64_t reuse = have - s.start.written;
        s.packed.resize(stop - s.start.written);
        std::memcpy(s.packed.data(), carry + coder_lookahead - reuse, reuse);
        if (!take_bytes(*d.in, s.packed.data() + reuse, s.packed.size() - reuse)) {
            d.failed_block = k;
            st = d.in->read_error ? Status::read_failed : Status::truncated;
            break;
        }
        have = stop;
        std::memcpy(carry, s.packed.data() + s.packed.size() - coder_lookahead, coder_lookahead);
        s.job.priority = block_priority(k, e.block_count, d.slots.size(), s.packed.size(), blocks[k].length);
        s.ready = false;
        pipeline_submit(d.pipe);
    }
    // Every job in flight must end before its slot is reused or freed.
    while (!d.pipe.pending.empty()) {
        if (st == Status::ok) {
            d.failed_block = retired;
            st = finish_indexed_block(d, index, blocks + retired,
                                      retired + 1 < e.block_count ? blocks + retired + 1 : nullptr, e, out, progress, sum);
        } else
            retire_whole(d);  // no set may hold a block once the member ends
        retired++;
    }
    VORB_TRY(st);
    VORB_CHECK(checksum_value(sum) == e.checksum, Status::checksum_mismatch);
    stats = MemberStats{e.size, e.stream_length, e.block_count};
    return Status::ok;
}
