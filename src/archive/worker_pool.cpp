#include "archive/worker_pool.h"

#include <algorithm>

namespace {

// The queued job to start next (the queue is as short as the slots in
// flight), or the queue's end when none may start now.
std::deque<Job*>::iterator next_job(WorkerPool& p) {
    auto next = p.queue.end();
    for (auto i = p.queue.begin(); i != p.queue.end(); ++i)
        if ((!(*i)->idle_only || p.waiters.load(std::memory_order_relaxed) > 0 || p.stopping) &&
            (next == p.queue.end() || (*i)->priority > (*next)->priority))
            next = i;
    return next;
}

void worker_loop(WorkerPool* p) {
    std::unique_lock lock(p->mutex);
    for (;;) {
        p->job_ready.wait(lock, [p] { return p->stopping || next_job(*p) != p->queue.end(); });
        const auto next = next_job(*p);
        if (next == p->queue.end()) return;  // stopping and nothing left that may start
        Job* j = *next;
        p->queue.erase(next);
        lock.unlock();
        j->run(j->ctx);
        lock.lock();
        j->done = true;
        p->job_done.notify_all();
    }
}

}  // namespace

void pool_start(WorkerPool& p, int threads) {
    p.stopping = false;
    for (int i = 0; i < threads; i++) p.threads.emplace_back(worker_loop, &p);
}

void pool_submit(WorkerPool& p, Job& j) {
    if (p.threads.empty()) {
        j.done = false;
        j.run(j.ctx);
        j.done = true;
        return;
    }
    {
        std::lock_guard lock(p.mutex);
        j.done = false;
        p.queue.push_back(&j);
    }
    p.job_ready.notify_one();
}

void pool_offer(WorkerPool& p, Job& j, void (*work)(void*), void* arg, bool idle_only) {
    j.run = work;
    j.ctx = arg;
    j.priority = 0;
    j.idle_only = idle_only;
    pool_submit(p, j);
}

namespace {

template <typename Ready>
void wait_until(WorkerPool& p, Ready ready) {
    std::unique_lock lock(p.mutex);
    if (ready()) return;
    p.waiters.fetch_add(1, std::memory_order_relaxed);
    p.job_ready.notify_all();  // idle-only jobs may start now
    p.job_done.wait(lock, ready);
    p.waiters.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

void pool_wait(WorkerPool& p, Job& j) {
    if (p.threads.empty()) return;
    wait_until(p, [&j] { return j.done; });
}

void pool_publish(WorkerPool& p, void (*change)(void*), void* ctx) {
    {
        std::lock_guard lock(p.mutex);
        change(ctx);
    }
    p.job_done.notify_all();
}

void pool_wait_for(WorkerPool& p, bool (*ready)(void*), void* ctx) {
    wait_until(p, [ready, ctx] { return ready(ctx); });
}

void pool_withdraw(WorkerPool& p, Job& j) {
    if (p.threads.empty()) return;
    std::unique_lock lock(p.mutex);
    const auto queued = std::find(p.queue.begin(), p.queue.end(), &j);
    if (queued != p.queue.end()) {
        p.queue.erase(queued);
        j.done = true;
        return;
    }
    p.job_done.wait(lock, [&j] { return j.done; });
}

void pool_stop(WorkerPool& p) {
    {
        std::lock_guard lock(p.mutex);
        p.stopping = true;
    }
    p.job_ready.notify_all();
    for (std::thread& t : p.threads) t.join();
    p.threads.clear();
}
