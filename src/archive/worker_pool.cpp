#include "archive/worker_pool.h"

#include <algorithm>

namespace {

void worker_loop(WorkerPool* p) {
    std::unique_lock lock(p->mutex);
    for (;;) {
        p->job_ready.wait(lock, [p] { return p->stopping || !p->queue.empty(); });
        if (p->queue.empty()) return;  // stopping and nothing left
        auto next = p->queue.begin();  // the queue is as short as the slots in flight
        for (auto i = next; i != p->queue.end(); ++i)
            if ((*i)->priority > (*next)->priority) next = i;
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

void pool_wait(WorkerPool& p, Job& j) {
    if (p.threads.empty()) return;
    std::unique_lock lock(p.mutex);
    p.job_done.wait(lock, [&j] { return j.done; });
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
