// The bound on waiting for a held file, counted on the test clock.
#include <gtest/gtest.h>

#include "driver/tests/game_fixture.h"
#include "platform/error.h"

namespace {

using game_folders::TestClock;

struct RetryTest : ::testing::Test {
    void SetUp() override { platform_reset(), TestClock::install(); }
    void TearDown() override { retry_reset(); }
};

TEST_F(RetryTest, OnlyPassingReasonsAreTriedAgainAndNeverPastTheBudget)
{
    constexpr int ALL_BUDGET = 1 + RETRY_BUDGET_MS / RETRY_PAUSE_MS;
    const struct {
        const char *what;
        ErrReason reason;
        int failures;      // tries that fail before one succeeds
        uint32_t step_ms;  // how long each try itself takes
        int tries, result;
    } cases[] = {
        {"held for good", ERR_HELD, 1000, 0, ALL_BUDGET, -1},
        {"denied for good", ERR_ACCESS_DENIED, 1000, 0, ALL_BUDGET, -1},
        {"held twice, then free", ERR_HELD, 2, 0, 3, 7},
        {"free at the last try", ERR_HELD, ALL_BUDGET - 1, 0, ALL_BUDGET, 7},
        {"slow tries count", ERR_HELD, 1000, 700, 3, -1},
        {"a device failure is final", ERR_IO, 1000, 0, 1, -1},
        {"a taken name is final", ERR_EXISTS, 1000, 0, 1, -1},
        {"a missing file is final", ERR_NOT_FOUND, 1000, 0, 1, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TestClock::install();
        int tries = 0;
        const int result = retry_held([&] {
            ++tries;
            TestClock::now += c.step_ms;
            return tries <= c.failures ? fail(c.reason, -1) : 7;
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(tries, c.tries);
        EXPECT_EQ(TestClock::waits, tries - 1);
        if (c.result == -1) {
            EXPECT_EQ(err_last(), c.reason) << "the reason got lost";
        }
        EXPECT_LE(TestClock::longest_wait_ms, RETRY_PAUSE_MS);
        EXPECT_LE(TestClock::waited_ms, RETRY_BUDGET_MS);
        if (c.tries == ALL_BUDGET && c.result == -1) {
            EXPECT_EQ(TestClock::waited_ms, RETRY_BUDGET_MS) << "gave up early";
        }
    }
}

}  // namespace
