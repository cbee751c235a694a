#include "sort/sort_tasks.h"

#include <cstdlib>

#include "sort/bucket_sort.h"
#include "sort/repetition.h"

void schedule(Sorter& s, SortStep step, int32_t* first, int32_t* last, int32_t key, int32_t period_check,
              bool may_split_to_limit) {
    if (s.task_count == s.task_capacity) {
        const size_t capacity = s.task_capacity ? s.task_capacity * 2 : 256;
        void* grown = std::realloc(s.tasks, capacity * sizeof(SortTask));
        if (!grown) {
            s.failed = true;
            return;
        }
        s.tasks = static_cast<SortTask*>(grown);
        s.task_capacity = capacity;
    }
    s.tasks[s.task_count++] = SortTask{first, last, key, period_check, step, may_split_to_limit};
}

void run_sort_tasks(Sorter& s) {
    while (s.task_count > 0) {
        if (s.failed || s.work > s.work_budget || s.shallow_work > s.shallow_work_budget) {
            s.over_budget = !s.failed;
            s.task_count = 0;
            return;
        }
        const SortTask t = s.tasks[--s.task_count];
        switch (t.step) {
            case SortStep::bucket_sort: bucket_sort_level(s, t); break;
            case SortStep::deep_sort: deep_sort_level(s, t); break;
            case SortStep::repeat_sort: repeat_sort_step(s, t.first, t.last, t.key); break;
            case SortStep::record: record_sorted(s, t.first, t.last); break;
        }
    }
}

void release_sort_tasks(Sorter& s) {
    std::free(s.tasks);
    std::free(s.scratch);
    s.tasks = nullptr;
    s.scratch = nullptr;
    s.task_count = s.task_capacity = s.scratch_capacity = 0;
}

uint64_t* sort_scratch(Sorter& s, size_t count) {
    if (count > s.scratch_capacity) {
        std::free(s.scratch);
        s.scratch = static_cast<uint64_t*>(std::malloc(count * sizeof(uint64_t)));
        s.scratch_capacity = s.scratch ? count : 0;
    }
    return s.scratch;
}
