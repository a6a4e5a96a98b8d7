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
};

void work(int index, void *context)
{
    PipelineRun *r = static_cast<PipelineRun *>(context);
    const int ahead = index - r->consumed.load();
    if (ahead > r->max_ahead) r->max_ahead = ahead;
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
    return index == r->fail_at ? -1 : 0;
}

TEST(PackPipeline, ConsumesInOrderWhateverTheThreadCount)
{
    for (int threads : {1, 2, 4, 8}) {
        PipelineRun r;
        r.prepared.assign(40, 0);
        ASSERT_EQ(pipeline_run(40, threads, threads * 2, work, consume, &r), 0);
        std::vector<int> expected(40);
        for (int i = 0; i < 40; ++i) expected[i] = i;
        EXPECT_EQ(r.order, expected) << threads << " threads";
        EXPECT_LE(r.max_ahead, threads * 2) << "prepared beyond the window";
    }
}

TEST(PackPipeline, AFailedConsumeStopsTheRun)
{
    for (int threads : {1, 4}) {
        PipelineRun r;
        r.prepared.assign(30, 0);
        r.fail_at = 5;
        EXPECT_EQ(pipeline_run(30, threads, 8, work, consume, &r), -1);
        ASSERT_EQ(r.order.size(), 6u) << threads << " threads";
        EXPECT_EQ(r.order.back(), 5);
    }
}

}  // namespace
