// Several threads, a plain member: the range decoder runs on across the
// member's blocks, so one worker decodes every number, and nothing else: the
// other workers invert the blocks, and the caller's thread reads the archive
// for it and writes the blocks out in order (the caller's callbacks stay on
// the caller's thread). The decoder waits only when every slot is in flight.
#include <cstring>

#include "archive/member_decode_paths.h"

namespace {

// What the caller, the decoding job and the inverse jobs share; guarded by
// the work sets' mutex and signalled on their condition.
struct PlainFlow {
    MemberDecoder* d = nullptr;
    // The decoder's view of the archive: each window the caller hands over
    // is the archive stream's buffer as the caller's reader filled it.
    ByteIn feed;
    bool wants_bytes = false;  // the decoder has read its window to the end
    bool fed = false;          // the caller has answered with the window below
    const uint8_t* window = nullptr;
    size_t window_len = 0;
    bool read_error = false;
    // A reader that can read ahead does, once a window is handed over: its
    // next buffer is then waiting when the decoder asks.
    bool read_ahead_due = false;
    bool stop = false;      // the caller gave up: no more bytes, no more blocks
    size_t decoding = 0;    // the block the decoder is at, in slot k % slots
    size_t decoded = 0;     // blocks handed to the inverse
    size_t written = 0;     // blocks the caller wrote out
    bool finished = false;  // the decoder has ended, with status
    Status status = Status::ok;
    uint64_t unpacked = 0;
    Job job;
};

// The decoder's refill: asks the caller for the next window and waits.
size_t ask_caller(void* ctx, const uint8_t** data) {
    PlainFlow& f = *static_cast<PlainFlow*>(ctx);
    WorkSets& sets = *f.d->work;
    std::unique_lock<std::mutex> lock(sets.mutex);
    if (f.stop) return 0;
    f.wants_bytes = true;
    sets.changed.notify_all();
    sets.changed.wait(lock, [&f] { return f.fed || f.stop; });
    if (!f.fed) return 0;
    f.fed = false;
    if (f.read_error) f.feed.read_error = true;
    *data = f.window;
    return f.window_len;
}

// The caller's answer: the rest of its reader's buffer, refilled first when
// used up, exactly when a decoder on the caller's thread would refill it.
void hand_window(PlainFlow& f) {
    ByteIn& in = *f.d->in;
    if (in.pos == in.len && refill_in(in) >= 0) in.pos--;
    f.window = in.buf + in.pos;
    f.window_len = in.len - in.pos;
    f.read_error = in.read_error;
    in.pos = in.len;
}

// Whether the decoder inverts the block it has just decoded beside the next
// one, as one thread does: when the workers have not yet begun a block
// handed to them, the inverse is what holds the member up, and walks that
// run between the decoder's steps cost it less than they cost a worker.
WorkSet* hold_here(WorkSets& sets, uint64_t submitted) {
    {
        std::lock_guard<std::mutex> lock(sets.mutex);
        if (sets.begun >= submitted) return nullptr;
    }
    return try_take_work(sets);
}

// The decoding job: every block's numbers into the next free slot, whose
// inverse then goes to the pool, or runs here beside the next block's.
void decode_blocks(void* ctx) {
    PlainFlow& f = *static_cast<PlainFlow*>(ctx);
    MemberDecoder& d = *f.d;
    WorkSets& sets = *d.work;
    const size_t slots = d.slots.size();
    const uint64_t begun_before = sets.begun;
    uint64_t submitted = 0;
    WorkSet* mine = nullptr;  // the set whose held block is inverted here
    Status st = Status::ok;
    for (size_t k = 0;; k++) {
        InverseSlot& s = *d.slots[k % slots];
        {
            std::unique_lock<std::mutex> lock(sets.mutex);
            f.decoding = k;
            sets.changed.notify_all();  // the caller readies the next slot's pages
            sets.changed.wait(lock, [&] { return f.stop || (k - f.written < slots && (k == 0 || s.touched)); });
            if (f.stop) break;
        }
        pool_wait(d.pipe.pool, s.job);  // the slot's last inverse has returned
        DecodeTick tick = mine ? inverse_tick(mine->pending) : DecodeTick{};
        st = decode_block_symbols(*d.bd, *d.nc, s.buffers.block_start, d.block_size, k == 0, s.n, s.primary,
                                  tick.fn ? &tick : nullptr);
        st = blame_the_stream(f.feed, st);
        if (mine) {
            end_held(sets, *mine);
            give_back(sets, *mine);
            mine = nullptr;
        }
        if (st != Status::ok || s.n == 0) break;
        s.ready = false;
        mine = hold_here(sets, begun_before + submitted);
        if (mine) {
            begin_inverse(mine->pending, d.bd->dd.value_count, *mine, s);
            std::lock_guard<std::mutex> lock(sets.mutex);
            mine->held = &s;
            s.holder = mine;
        } else {
            std::memcpy(s.counts, d.bd->dd.value_count, sizeof s.counts);
            pool_submit(d.pipe.pool, s.job);
            submitted++;
        }
        std::lock_guard<std::mutex> lock(sets.mutex);
        f.decoded = k + 1;
        f.unpacked += static_cast<uint64_t>(s.n);
        sets.changed.notify_all();
    }
    if (mine) {
        end_held(sets, *mine);
        give_back(sets, *mine);
    }
    std::lock_guard<std::mutex> lock(sets.mutex);
    f.finished = true;
    f.status = st;
    sets.changed.notify_all();
}

// Writes a whole block; worker threads show only the blocks that come out whole.
Status write_block(const InverseSlot& s, ByteOut& out, ProgressSink progress) {
    VORB_TRY(s.status);
    progress_put(progress, ProgressEvent::block_decoded);
    put_bytes(out, s.buffers.block_start, static_cast<size_t>(s.n));
    return out.failed ? Status::write_failed : Status::ok;
}

// The first slot up to `last` whose pages were never touched, if any.
InverseSlot* first_untouched(MemberDecoder& d, size_t last) {
    for (size_t j = 1; j <= last && j < d.slots.size(); j++)
        if (!d.slots[j]->touched) return d.slots[j].get();
    return nullptr;
}

// Answers the decoder and writes the blocks in order until the decoder has
// ended and every block it decoded is out, or a block fails.
Status serve_and_write(PlainFlow& f, ByteOut& out, ProgressSink progress) {
    MemberDecoder& d = *f.d;
    WorkSets& sets = *d.work;
    std::unique_lock<std::mutex> lock(sets.mutex);
    for (;;) {
        const InverseSlot& s = *d.slots[f.written % d.slots.size()];
        InverseSlot* fresh = nullptr;  // a slot the decoder comes to next or is at, never used
        sets.changed.wait(lock, [&] {
            fresh = first_untouched(d, f.decoding + 1);
            return (f.wants_bytes && !f.fed) || f.read_ahead_due || fresh ||
                   (f.written < f.decoded && s.ready) ||
                   (f.finished && f.written == f.decoded);
        });
        if (f.wants_bytes && !f.fed) {
            f.wants_bytes = false;
            lock.unlock();
            hand_window(f);
            lock.lock();
            f.fed = true;
            f.read_ahead_due = d.in->read_ahead != nullptr;
            sets.changed.notify_all();
        } else if (f.read_ahead_due) {
            f.read_ahead_due = false;
            lock.unlock();
            d.in->read_ahead(d.in->ahead_ctx);
            lock.lock();
        } else if (fresh) {
            // Its pages are cleared here, not on the decoder's thread.
            lock.unlock();
            prefault_block(fresh->buffers);
            lock.lock();
            fresh->touched = true;
            sets.changed.notify_all();
        } else if (f.written < f.decoded) {
            lock.unlock();
            const Status st = write_block(s, out, progress);
            lock.lock();
            VORB_TRY(st);
            f.written++;
            sets.changed.notify_all();
        } else {
            return f.status;
        }
    }
}

}  // namespace

Status decode_member_threaded(MemberDecoder& d, ByteOut& out, ProgressSink progress, MemberStats& stats) {
    PlainFlow f;
    f.d = &d;
    f.feed.refill = ask_caller;
    f.feed.ctx = &f;
    d.nc->rc.in = &f.feed;
    d.slots[0]->touched = true;  // the decoder fills the first slot at once
    for (auto& s : d.slots) {
        s->job.run = invert_slot;
        s->job.priority = 1;  // above the helpers' jobs; equal blocks go in order
    }
    f.job.run = decode_blocks;
    f.job.ctx = &f;
    f.job.priority = UINT64_MAX;
    pool_submit(d.pipe.pool, f.job);
    const Status st = serve_and_write(f, out, progress);
    {
        // On a failure the decoder stops at its next slot or read.
        std::lock_guard<std::mutex> lock(d.work->mutex);
        f.stop = true;
        d.work->changed.notify_all();
    }
    pool_wait(d.pipe.pool, f.job);
    // Every inverse must end before its slot is reused or freed.
    for (auto& s : d.slots) pool_wait(d.pipe.pool, s->job);
    d.nc->rc.in = d.in;
    // The decoder stopped inside the window it was handed last, the rest of
    // the reader's buffer.
    d.in->pos = d.in->len - (f.feed.len - f.feed.pos);
    VORB_TRY(st);
    stats.blocks = static_cast<uint32_t>(f.decoded + 1);
    stats.unpacked = f.unpacked;
    return Status::ok;
}
