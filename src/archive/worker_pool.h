// A fixed set of worker threads that run jobs handed to them. With no
// threads a job runs at once on the caller's thread, so the single-threaded
// path is the same code with nothing in between.
#pragma once

#include <atomic>
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
    // Starts only while some thread waits in pool_wait: work for the core
    // that thread leaves idle, never time taken from it.
    bool idle_only = false;
};

struct WorkerPool {
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable job_ready;
    std::condition_variable job_done;
    std::deque<Job*> queue;
    bool stopping = false;
    std::atomic<int> waiters{0};  // threads in pool_wait; changed under the mutex
};

void pool_start(WorkerPool& p, int threads);
void pool_submit(WorkerPool& p, Job& j);
void pool_wait(WorkerPool& p, Job& j);
// Queues work(arg) as j at the lowest priority, for a worker that has
// nothing else to start (a helper); pool_withdraw ends the offer. idle_only
// as in Job.
void pool_offer(WorkerPool& p, Job& j, void (*work)(void*), void* arg, bool idle_only = false);
// Runs change(ctx) under the pool's lock, then wakes the threads waiting in
// pool_wait_for.
void pool_publish(WorkerPool& p, void (*change)(void*), void* ctx);
// Waits, as pool_wait does, until ready(ctx), asked under the pool's lock,
// holds: for what a job publishes before it ends.
void pool_wait_for(WorkerPool& p, bool (*ready)(void*), void* ctx);
// Whether a thread waits in pool_wait now (a hint: it may change at once).
inline bool pool_has_waiters(const WorkerPool& p) { return p.waiters.load(std::memory_order_relaxed) > 0; }
// Takes j off the queue if no worker has started it, else waits for it.
void pool_withdraw(WorkerPool& p, Job& j);
// Waits for the queued jobs to finish and joins the threads.
void pool_stop(WorkerPool& p);
inline bool pool_is_threaded(const WorkerPool& p) { return !p.threads.empty(); }
