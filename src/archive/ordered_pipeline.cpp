#include "archive/ordered_pipeline.h"

void pipeline_start(OrderedPipeline& p, const std::vector<Job*>& slots, int workers) {
    p.free_jobs = slots;
    p.pending.clear();
    pool_start(p.pool, workers);
}

void pipeline_submit(OrderedPipeline& p) {
    Job* j = p.free_jobs.back();
    p.free_jobs.pop_back();
    p.pending.push_back(j);
    pool_submit(p.pool, *j);
}

Job* pipeline_retire_oldest(OrderedPipeline& p) {
    if (p.pending.empty()) return nullptr;
    Job* j = p.pending.front();
    p.pending.pop_front();
    pool_wait(p.pool, *j);
    p.free_jobs.push_back(j);
    return j;
}

void pipeline_stop(OrderedPipeline& p) {
    while (pipeline_retire_oldest(p)) {
    }
    pool_stop(p.pool);
}
