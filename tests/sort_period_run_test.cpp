// The periodic-run sort on hand-picked ranges: what it orders must be in
// context order, and what it leaves for deep_sort must agree as far as the
// key base it is scheduled with.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "sort/period_run.h"
#include "sort/sort_tasks.h"
#include "sort/sorter.h"
#include "support/oracle.h"
#include "support/sort_harness.h"

namespace {

int32_t common_context(const std::vector<uint8_t>& d, int32_t x, int32_t y) {
    for (int32_t t = 0;; ++t) {
        const int bx = x - t >= 0 ? d[static_cast<size_t>(x - t)] : 0;
        const int by = y - t >= 0 ? d[static_cast<size_t>(y - t)] : 0;
        if (bx != by || (x - t < 0 && y - t < 0)) return t;
    }
}

struct PeriodBlock {
    std::vector<uint8_t> bytes;
    std::vector<int32_t> rank;  // row of each position
};

// Random bytes, a run of period q, random bytes, a shorter run of the same
// pattern, random bytes.
PeriodBlock two_runs(size_t q, uint32_t seed) {
    const std::vector<uint8_t> pattern = random_block(seed, q, 256);
    PeriodBlock b;
    auto add_random = [&](size_t len) {
        const auto r = random_block(seed + static_cast<uint32_t>(b.bytes.size()), len, 256);
        b.bytes.insert(b.bytes.end(), r.begin(), r.end());
    };
    auto add_run = [&](size_t len) {
        for (size_t i = 0; i < len; ++i) b.bytes.push_back(pattern[i % q]);
    };
    add_random(100);
    add_run(60 * q);
    add_random(50);
    add_run(25 * q + 3);
    add_random(100);
    const OracleTransform o = oracle_transform(b.bytes);
    b.rank.resize(b.bytes.size());
    for (size_t j = 0; j < o.rows.size(); ++j) b.rank[static_cast<size_t>(o.rows[j])] = static_cast<int32_t>(j);
    return b;
}

struct RunCase {
    size_t period;
    int32_t depth;
    size_t stride;  // take every stride-th member of the first run
};

TEST(SortPeriodRun, OrdersByBreakAndSchedulesTies) {
    for (const RunCase& c : {RunCase{7, 43, 1}, RunCase{7, 43, 5}, RunCase{3, 20, 9}, RunCase{12, 60, 2}}) {
        SCOPED_TRACE(::testing::Message() << "period " << c.period << " depth " << c.depth << " stride " << c.stride);
        PeriodBlock b = two_runs(c.period, static_cast<uint32_t>(c.period));
        const int32_t agreed = c.depth - 3;
        const int32_t n = static_cast<int32_t>(b.bytes.size());

        // Members: positions whose context agrees with a reference one on
        // `agreed` bytes; the first run's thinned out.
        const int32_t reference = 100 + static_cast<int32_t>(59 * c.period);
        std::vector<int32_t> members;
        size_t seen_in_first_run = 0;
        for (int32_t v = 0; v < n; ++v) {
            if (common_context(b.bytes, v, reference) < agreed) continue;
            const bool first_run = v < 100 + static_cast<int32_t>(60 * c.period);
            if (first_run && seen_in_first_run++ % c.stride != 0) continue;
            members.push_back(v);
        }
        ASSERT_GE(members.size(), 10u);
        std::shuffle(members.begin(), members.end(), std::mt19937(1));

        SorterPtr s = make_sorter();
        s->data = b.bytes.data();
        s->n = n;
        s->work_budget = UINT64_MAX;
        std::vector<int32_t> range = members;
        int32_t retry_depth = 0;
        ASSERT_TRUE(period_run_sort(*s, range.data(), range.data() + range.size(), -c.depth, retry_depth));
        EXPECT_GT(s->counters.period_run_sorts, 0u);

        std::vector<int32_t> sorted_members = members;
        std::vector<int32_t> sorted_range = range;
        std::sort(sorted_members.begin(), sorted_members.end());
        std::sort(sorted_range.begin(), sorted_range.end());
        ASSERT_EQ(sorted_range, sorted_members);

        // Each scheduled group agrees as far as its key base says, and the
        // groups (and the entries between them) stand in context order.
        std::vector<int32_t> group_of(range.size(), -1);
        for (size_t t = 0; t < s->task_count; ++t) {
            const SortTask& task = s->tasks[t];
            ASSERT_EQ(task.step, SortStep::deep_sort);
            const int32_t group_agreed = -task.key - 3;
            EXPECT_GE(group_agreed, agreed);
            for (const int32_t* p = task.first; p < task.last; ++p) {
                EXPECT_GE(common_context(b.bytes, *p, *task.first), group_agreed);
                group_of[static_cast<size_t>(p - range.data())] = static_cast<int32_t>(t);
            }
        }
        for (size_t i = 1; i < range.size(); ++i) {
            if (group_of[i] >= 0 && group_of[i] == group_of[i - 1]) continue;
            const int32_t before = range[i - 1];
            const int32_t after = range[i];
            EXPECT_LT(b.rank[static_cast<size_t>(before)], b.rank[static_cast<size_t>(after)])
                << "positions " << before << " and " << after;
        }
        s->task_count = 0;
        s->data = nullptr;
    }
}

TEST(SortPeriodRun, DeclinesWithoutAKnownPeriod) {
    PeriodBlock b = two_runs(50, 3);
    SorterPtr s = make_sorter();
    s->data = b.bytes.data();
    s->n = static_cast<int32_t>(b.bytes.size());
    // Members 50 apart share 40 bytes only: no period of 20 or less is known.
    std::vector<int32_t> range;
    for (int32_t k = 0; k < 20; ++k) range.push_back(100 + 30 * 50 + 49 + 50 * k);
    const std::vector<int32_t> before = range;
    int32_t retry_depth = 0;
    EXPECT_FALSE(period_run_sort(*s, range.data(), range.data() + range.size(), -43, retry_depth));
    EXPECT_EQ(range, before);
    EXPECT_EQ(retry_depth, 2 * 50 + 3);  // where a gap of 50 could be a period
    EXPECT_EQ(s->task_count, 0u);
    s->data = nullptr;
}

}  // namespace
