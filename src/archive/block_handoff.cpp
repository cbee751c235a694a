#include "archive/block_handoff.h"

namespace {

// The handed coder's drain, on the worker: the caller drains its own
// buffer and answers.
bool drain_through_caller(void* ctx, const uint8_t* data, size_t len) {
    BlockHandoff& h = *static_cast<BlockHandoff*>(ctx);
    struct Ask {
        BlockHandoff& h;
        const uint8_t* data;
        size_t len;
    } ask{h, data, len};
    pool_publish(*h.pool, [](void* c) {
        Ask& a = *static_cast<Ask*>(c);
        a.h.drain_data = a.data;
        a.h.drain_len = a.len;
        a.h.drain_asked = true;
    }, &ask);
    pool_wait_for(*h.pool, [](void* c) { return !static_cast<BlockHandoff*>(c)->drain_asked; }, &h);
    return h.drain_ok;
}

// What the caller has seen and done.
struct Watch {
    BlockHandoff& h;
    uint64_t shows = 0;
    StepRecord record{};
    bool ended = false;
    bool offered = false;
    bool shown_more = false;
    bool coded = false;
};

// Under the lock: anything for the caller to act on. A showing after an
// offer comes only from a failed sort, which also withdraws the offer.
bool news(void* ctx) {
    Watch& w = *static_cast<Watch*>(ctx);
    const BlockHandoff& h = w.h;
    w.shown_more = h.shows != w.shows;
    if (w.shown_more) {
        w.shows = h.shows;
        w.record = h.shown;
        w.ended = h.record_ended;
        w.offered = false;
        return true;
    }
    w.coded = h.coded;
    return w.offered && (h.coded || h.drain_asked);
}

// Offers rc when every showing has been replayed on it.
void offer(Watch& w, RangeCoder& rc) {
    struct Offer {
        Watch& w;
        RangeCoder& rc;
    } o{w, rc};
    pool_publish(*w.h.pool, [](void* c) {
        Offer& x = *static_cast<Offer*>(c);
        BlockHandoff& h = x.w.h;
        if (h.shows != x.w.shows || h.holder != BlockHandoff::Holder::caller) return;
        h.holder = BlockHandoff::Holder::offered;
        h.coder = x.rc;
        h.coder.out = &h.coder_out;
        h.coder_out = *x.rc.out;
        h.coder_out.drain = drain_through_caller;
        h.coder_out.ctx = &h;
        x.w.offered = true;
    }, &o);
}

void answer_drain(BlockHandoff& h, const ByteOut& out) {
    struct Answer {
        BlockHandoff& h;
        bool ok;
    } a{h, !out.drain || out.drain(out.ctx, h.drain_data, h.drain_len)};
    pool_publish(*h.pool, [](void* c) {
        Answer& x = *static_cast<Answer*>(c);
        x.h.drain_ok = x.ok;
        x.h.drain_asked = false;
    }, &a);
}

// Takes the coder if it is offered.
bool take_coder(BlockHandoff& h) {
    struct Take {
        BlockHandoff& h;
        bool taken;
    } t{h, false};
    pool_publish(*h.pool, [](void* c) {
        Take& x = *static_cast<Take*>(c);
        x.taken = x.h.holder == BlockHandoff::Holder::offered;
        if (x.taken) x.h.holder = BlockHandoff::Holder::worker;
    }, &t);
    return t.taken;
}

// Where the part of a record not yet shown begins.
ReplayPoint unshown_from(const BlockHandoff& h) {
    // Only the worker writes shown, so it reads it without the lock.
    if (h.shown.area_count == 0) return {};
    return {h.shown.area_count - 1, h.shown.at};
}

void mark_coded(BlockHandoff& h) {
    pool_publish(*h.pool, [](void* c) { static_cast<BlockHandoff*>(c)->coded = true; }, &h);
}

}  // namespace

void handoff_reset(BlockHandoff& h) {
    WorkerPool* pool = h.pool;
    h = BlockHandoff{};
    h.pool = pool;
}

bool handoff_show(void* ctx, const StepRecord& r, bool ended) {
    struct Show {
        BlockHandoff& h;
        const StepRecord& r;
        bool ended;
        bool taken;
    } s{*static_cast<BlockHandoff*>(ctx), r, ended, false};
    pool_publish(*s.h.pool, [](void* c) {
        Show& x = *static_cast<Show*>(c);
        x.taken = x.h.holder == BlockHandoff::Holder::offered;
        if (x.taken) {
            x.h.holder = BlockHandoff::Holder::worker;
            return;
        }
        x.h.shown = x.r;
        x.h.shows++;
        x.h.record_ended = x.ended;
    }, &s);
    return s.taken;
}

void handoff_work(BlockHandoff& h, BlockSteps& b, int32_t* work, size_t work_entries, size_t chunk_words,
                  bool (*show)(void* ctx, const StepRecord& r, bool ended)) {
    if (!take_coder(h)) {
        const RecordProgress progress{show, &h, chunk_words};
        if (!steps_record(b, work, work_entries, &progress)) return;
        ReplayPoint unshown = unshown_from(h);
        replay_steps_on(h.coder, b.record, unshown);
    }
    steps_code_at_once(b, h.coder);
    mark_coded(h);
}

void handoff_failed(BlockHandoff& h) {
    pool_publish(*h.pool, [](void* c) {
        BlockHandoff& x = *static_cast<BlockHandoff*>(c);
        x.holder = BlockHandoff::Holder::caller;
        x.shown = StepRecord{};
        x.shows++;
        x.record_ended = true;
    }, &h);
}

void handoff_code(BlockHandoff& h, RangeCoder& rc, bool lend) {
    Watch w{h};
    ReplayPoint where;
    for (;;) {
        if (lend && !w.offered) offer(w, rc);
        pool_wait_for(*h.pool, news, &w);
        if (w.shown_more) {
            replay_steps_on(rc, w.record, where);
            if (w.ended) return;
            continue;
        }
        if (w.coded) break;
        answer_drain(h, *rc.out);
    }
    ByteOut& out = *rc.out;
    rc.low = h.coder.low;
    rc.range = h.coder.range;
    out.pos = h.coder_out.pos;
    out.drained = h.coder_out.drained;
    out.failed = h.coder_out.failed;
}
