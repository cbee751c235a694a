#include "archive/work_sets.h"

namespace {

WorkSet* free_set(WorkSets& w) {
    // The set holding a block is taken first.
    WorkSet* set = nullptr;
    for (auto& c : w.all)
        if (!c->busy && (!set || (c->held && !set->held))) set = c.get();
    if (set) set->busy = true;
    return set;
}

void invite_helpers(void* ctx, void (*work)(void*), void* arg) {
    WorkSet& w = *static_cast<WorkSet*>(ctx);
    for (Job& j : w.helper_jobs) pool_offer(*w.pool, j, work, arg);
}

void dismiss_helpers(void* ctx) {
    WorkSet& w = *static_cast<WorkSet*>(ctx);
    for (Job& j : w.helper_jobs) pool_withdraw(*w.pool, j);
}

}  // namespace

// There are as many sets as workers, so a job waits only while the writer
// ends a held block.
WorkSet& take_work(WorkSets& w) {
    std::unique_lock<std::mutex> lock(w.mutex);
    for (;;) {
        if (WorkSet* set = free_set(w)) return *set;
        w.changed.wait(lock);
    }
}

WorkSet* try_take_work(WorkSets& w) {
    std::lock_guard<std::mutex> lock(w.mutex);
    return free_set(w);
}

void give_back(WorkSets& w, WorkSet& set) {
    std::lock_guard<std::mutex> lock(w.mutex);
    set.busy = false;
    w.changed.notify_all();
}

HelperThreads helpers_of(WorkSet& w) { return {invite_helpers, dismiss_helpers, &w}; }

void begin_inverse(PendingInverse& p, const int32_t* counts, WorkSet& w, InverseSlot& s) {
    inverse_begin(p, counts, w.bucket_start, s.buffers.block_start, s.n, s.primary, w.links.index,
                  w.links.distance);
}

void invert_slot(void* ctx) {
    InverseSlot& s = *static_cast<InverseSlot*>(ctx);
    WorkSets& sets = *s.work;
    WorkSet& w = take_work(sets);
    {
        std::lock_guard<std::mutex> lock(sets.mutex);
        sets.begun++;
    }
    const HelperThreads helpers = helpers_of(w);
    // Begun and ended at once: beginning is what takes the decoder's counts.
    PendingInverse p;
    begin_inverse(p, s.counts, w, s);
    const Status st = inverse_end(p, w.helper_jobs.empty() ? nullptr : &helpers);
    std::lock_guard<std::mutex> lock(sets.mutex);
    s.status = st;
    s.ready = true;
    w.busy = false;
    sets.changed.notify_all();
}

void end_held(WorkSets& sets, WorkSet& w) {
    InverseSlot& h = *w.held;
    const HelperThreads helpers = helpers_of(w);
    const Status st = inverse_end(w.pending, w.helper_jobs.empty() ? nullptr : &helpers);
    std::lock_guard<std::mutex> lock(sets.mutex);
    h.status = st;
    h.ready = true;
    h.holder = nullptr;
    w.held = nullptr;
    sets.changed.notify_all();
}

void wait_ready(InverseSlot& s) {
    WorkSets& sets = *s.work;
    std::unique_lock<std::mutex> lock(sets.mutex);
    while (!s.ready) {
        WorkSet* h = s.holder;
        if (!h || h->busy) {
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
