// The worker pool: which queued job starts next, and taking a job back.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "archive/worker_pool.h"

namespace {

std::atomic<int> stage;  // 0: the first job holds the only worker, so the others queue
std::vector<int> order;  // one worker: one job writes at a time

void note_run(void* id) {
    while (stage == 0) std::this_thread::yield();
    order.push_back(static_cast<int>(reinterpret_cast<intptr_t>(id)));
}

TEST(WorkerPool, HighestPriorityFirstAndAWithdrawnJobNeverRuns) {
    WorkerPool pool;
    pool_start(pool, 1);
    const uint64_t priorities[] = {7, 1, 3, 0, 3, 2, 9};
    std::vector<Job> jobs(std::size(priorities));
    for (size_t i = 0; i < jobs.size(); i++) {
        jobs[i] = Job{note_run, reinterpret_cast<void*>(i), true, priorities[i]};
        pool_submit(pool, jobs[i]);
        for (bool queued = i == 0; queued; std::this_thread::yield()) {
            std::lock_guard lock(pool.mutex);
            queued = !pool.queue.empty();
        }
    }
    pool_withdraw(pool, jobs[6]);  // queued: taken back at once, never run
    stage = 1;
    for (Job& j : jobs) pool_wait(pool, j);
    EXPECT_EQ(order, (std::vector<int>{0, 2, 4, 5, 1, 3}));

    // Withdrawing a job a worker has started waits for its end.
    Job slow{[](void*) {
                 stage = 2;
                 std::this_thread::sleep_for(std::chrono::milliseconds(50));
                 stage = 3;
             }};
    pool_submit(pool, slow);
    while (stage == 1) std::this_thread::yield();
    pool_withdraw(pool, slow);
    EXPECT_EQ(stage, 3);
    pool_stop(pool);
}

// Work for an idle core starts only while some thread waits for a job.
TEST(WorkerPool, AnIdleOnlyJobStartsOnceAThreadWaits) {
    WorkerPool pool;
    pool_start(pool, 1);
    std::atomic<bool> ran{false};
    Job offer;
    pool_offer(pool, offer, [](void* r) { static_cast<std::atomic<bool>*>(r)->store(true); }, &ran, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(ran);
    pool_wait(pool, offer);
    EXPECT_TRUE(ran);
    pool_stop(pool);
}

}  // namespace
