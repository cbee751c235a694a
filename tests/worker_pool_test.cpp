// The worker pool: which queued job starts next, and taking a job back.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "archive/worker_pool.h"

namespace {

struct Probe {
    std::atomic<bool>* gate;
    std::vector<int>* order;
    int id;
};

void run_probe(void* ctx) {
    Probe& p = *static_cast<Probe*>(ctx);
    while (!p.gate->load()) std::this_thread::yield();
    p.order->push_back(p.id);  // one worker: no two probes at once
}

TEST(WorkerPool, HighestPriorityFirstAndAWithdrawnJobNeverRuns) {
    WorkerPool pool;
    pool_start(pool, 1);
    std::atomic<bool> gate{false};
    std::vector<int> order;
    // The first job holds the only worker until the gate opens, so the others queue.
    const uint64_t priorities[] = {7, 1, 3, 0, 3, 2, 9};
    std::vector<Probe> probes;
    std::vector<Job> jobs(std::size(priorities));
    for (int i = 0; i < static_cast<int>(std::size(priorities)); i++) probes.push_back({&gate, &order, i});
    for (size_t i = 0; i < jobs.size(); i++) {
        jobs[i] = Job{run_probe, &probes[i]};
        jobs[i].priority = priorities[i];
        pool_submit(pool, jobs[i]);
        for (bool queued = i == 0; queued; std::this_thread::yield()) {
            std::lock_guard lock(pool.mutex);
            queued = !pool.queue.empty();
        }
    }
    pool_withdraw(pool, jobs[6]);  // queued: taken back at once, never run
    gate = true;
    for (Job& j : jobs) pool_wait(pool, j);
    EXPECT_EQ(order, (std::vector<int>{0, 2, 4, 5, 1, 3}));

    // Withdrawing a job a worker has started waits for its end.
    std::atomic<int> stage{0};
    Job slow{[](void* c) {
                 auto& st = *static_cast<std::atomic<int>*>(c);
                 st = 1;
                 std::this_thread::sleep_for(std::chrono::milliseconds(50));
                 st = 2;
             },
             &stage};
    pool_submit(pool, slow);
    while (stage.load() == 0) std::this_thread::yield();
    pool_withdraw(pool, slow);
    EXPECT_EQ(stage.load(), 2);
    pool_stop(pool);
}

}  // namespace
