// Blocks in flight, handed back in the order they went in: a bounded set of
// slots whose jobs run on a worker pool, the oldest taken first. Packing
// sorts blocks this way and codes them in file order; unpacking inverts them
// and writes them in block order.
#pragma once

#include <deque>
#include <vector>

#include "archive/worker_pool.h"

struct OrderedPipeline {
    WorkerPool pool;
    std::deque<Job*> pending;    // submitted, oldest first
    std::vector<Job*> free_jobs; // slots not in flight
};

// slots: the job of every slot. With workers = 0 each job runs at once on
// the caller's thread when submitted.
void pipeline_start(OrderedPipeline& p, const std::vector<Job*>& slots, int workers);

// The job of a free slot, or nullptr when every slot is in flight (retire
// the oldest first).
inline Job* pipeline_free(const OrderedPipeline& p) { return p.free_jobs.empty() ? nullptr : p.free_jobs.back(); }

// The oldest job in flight, not yet retired; nullptr when none is.
inline Job* pipeline_oldest(const OrderedPipeline& p) { return p.pending.empty() ? nullptr : p.pending.front(); }

// Starts the free slot that pipeline_free gave.
void pipeline_submit(OrderedPipeline& p);

// Waits for the oldest job in flight and frees its slot; nullptr when none
// is in flight. The slot's results stay valid until it is submitted again.
Job* pipeline_retire_oldest(OrderedPipeline& p);

// Waits for every job and joins the workers.
void pipeline_stop(OrderedPipeline& p);
