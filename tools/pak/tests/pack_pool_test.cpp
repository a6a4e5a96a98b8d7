#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tools/pak/pack_pool.h"

namespace {

struct PipelineRun {
    std::vector<int> prepared;  // per index: 1 once work ran
    std::vector<int> order;     // indexes in the order consumed
    int fail_at = -1;
    std::atomic<int> in_flight{0}, max_ahead{0};
    std::atomic<int> consumed{0};
    const long long *cost = nullptr;  // when given: what each item holds
    std::atomic<long long> held{0}, max_held{0};
};

void work(int index, void *context)
{
    PipelineRun *r = static_cast<PipelineRun *>(context);
    const int ahead = index - r->consumed.load();
    if (ahead > r->max_ahead) r->max_ahead = ahead;
    if (r->cost) {
        const long long now = r->held += r->cost[index];
        long long seen = r->max_held;
        while (now > seen && !r->max_held.compare_exchange_weak(seen, now)) {
        }
    }
    // Later items finish first now and then, to shake the order.
    std::this_thread::sleep_for(std::chrono::microseconds((index * 7919) % 5 * 300));
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

TEST(PackPipeline, ConsumesInOrderWhateverTheThreadCount)
{
    for (int threads : {1, 2, 4, 8}) {
        PipelineRun r;
        r.prepared.assign(40, 0);
        ASSERT_EQ(pipeline_run(40, threads, threads * 2, nullptr, 0, work, consume, &r), 0);
        std::vector<int> expected(40);
        for (int i = 0; i < 40; ++i) expected[i] = i;
        EXPECT_EQ(r.order, expected) << threads << " threads";
        EXPECT_LE(r.max_ahead, threads * 2) << "prepared beyond the window";
    }
}

// What the items being prepared or waiting hold stays within the budget; an
// item larger than the budget runs alone rather than never.
TEST(PackPipeline, ItemsInFlightStayWithinTheMemoryBudget)
{
    const struct {
        const char *behaviour;
        long long budget;
        long long big;  // cost of every fifth item
        long long bound;
    } cases[] = {
        {"mixed items within the budget", 8, 6, 8},
        {"an item beyond the budget alone", 8, 20, 20},
    };
    for (const auto &c : cases) {
        std::vector<long long> cost(40);
        for (int i = 0; i < 40; ++i) cost[i] = i % 5 == 3 ? c.big : 1 + i % 2;
        PipelineRun r;
        r.prepared.assign(40, 0);
        r.cost = cost.data();
        ASSERT_EQ(pipeline_run(40, 4, 8, cost.data(), c.budget, work, consume, &r), 0) << c.behaviour;
        EXPECT_EQ(r.order.size(), 40u) << c.behaviour;
        EXPECT_LE(r.max_held, c.bound) << c.behaviour;
    }
}

TEST(PackPipeline, AFailedConsumeStopsTheRun)
{
    for (int threads : {1, 4}) {
        PipelineRun r;
        r.prepared.assign(30, 0);
        r.fail_at = 5;
        EXPECT_EQ(pipeline_run(30, threads, 8, nullptr, 0, work, consume, &r), -1);
        ASSERT_EQ(r.order.size(), 6u) << threads << " threads";
        EXPECT_EQ(r.order.back(), 5);
    }
}

}  // namespace
