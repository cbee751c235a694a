// A fixed set of worker threads that run jobs handed to them. With no
// threads a job runs at once on the caller's thread, so the single-threaded
// path is the same code with nothing in between.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

struct Job {
    void (*run)(void* ctx) = nullptr;
    void* ctx = nullptr;
    bool done = true;  // guarded by the pool's mutex
    // Queued jobs start highest first, in submission order among equals: a
    // long job started late would leave the other workers idle at the end.
    uint64_t priority = 0;
};

struct WorkerPool {
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable job_ready;
    std::condition_variable job_done;
    std::deque<Job*> queue;
    bool stopping = false;
};

void pool_start(WorkerPool& p, int threads);
void pool_submit(WorkerPool& p, Job& j);
void pool_wait(WorkerPool& p, Job& j);
// Takes j off the queue if no worker has started it, else waits for it.
void pool_withdraw(WorkerPool& p, Job& j);
// Waits for the queued jobs to finish and joins the threads.
void pool_stop(WorkerPool& p);
inline bool pool_is_threaded(const WorkerPool& p) { return !p.threads.empty(); }
