#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "tools/pak/pack_pool.h"

namespace {

struct PipelineRun {
    std::vector<int> prepared = std::vector<int>(40);  // per index: 1 once work ran
    std::vector<int> order;                            // indexes as consumed
    int fail_at = -1;
    std::atomic<int> consumed{0}, max_ahead{0};
    const long long *cost = nullptr;  // when given: what each item holds
    std::atomic<long long> held{0}, max_held{0};
};

void work(int index, void *context)
{
    PipelineRun *r = static_cast<PipelineRun *>(context);
    if (index - r->consumed.load() > r->max_ahead) r->max_ahead = index - r->consumed.load();
    if (r->cost) {
        const long long now = r->held += r->cost[index];
        for (long long seen = r->max_held; now > seen && !r->max_held.compare_exchange_weak(seen, now);) {
        }
    }
    std::this_thread::sleep_for(std::chrono::microseconds((index * 7919) % 5 * 300));  // shakes the order
    r->prepared[index] = 1;
}

int consume(int index, void *context)
{
    PipelineRun *r = static_cast<PipelineRun *>(context);
    EXPECT_EQ(r->prepared[index], 1) << "consumed before it was prepared";
    r->order.push_back(index);
    r->consumed = index + 1;
    if (r->cost) r->held -= r->cost[index];
    return index == r->fail_at ? -1 : 0;
}

TEST(PackPipeline, ConsumesInOrderWithinTheWindowAndStopsAtAFailure)
{
    std::vector<int> expected(40);
    std::iota(expected.begin(), expected.end(), 0);
    for (int threads : {1, 2, 4, 8}) {
        PipelineRun r, failing;
        ASSERT_EQ(pipeline_run(40, threads, threads * 2, nullptr, 0, work, consume, &r), 0);
        EXPECT_EQ(r.order, expected) << threads << " threads";
        EXPECT_LE(r.max_ahead, threads * 2) << "prepared beyond the window";
        failing.fail_at = 5;
        EXPECT_EQ(pipeline_run(30, threads, 8, nullptr, 0, work, consume, &failing), -1);
        EXPECT_EQ(failing.order, std::vector<int>(expected.begin(), expected.begin() + 6)) << threads << " threads";
    }
}

// An item larger than the budget runs alone rather than never.
TEST(PackPipeline, ItemsInFlightStayWithinTheMemoryBudget)
{
    for (const auto &[big, bound] : {std::pair<long long, long long>{6, 8}, {20, 20}}) {
        std::vector<long long> cost(40);
        for (int i = 0; i < 40; ++i) cost[i] = i % 5 == 3 ? big : 1 + i % 2;
        PipelineRun r;
        r.cost = cost.data();
        ASSERT_EQ(pipeline_run(40, 4, 8, cost.data(), 8, work, consume, &r), 0);
        EXPECT_EQ(r.order.size(), 40u);
        EXPECT_LE(r.max_held, bound) << "every fifth item costs " << big;
    }
}

}  // namespace
