// Every allocation, disk create, disk write and disk rename that an update
// makes is failed in turn, once and from that point on. Whatever fails, the
// game is left either updated or exactly as it was, and the flags say which.
// "From that point on" holds per kind: with every kind failing at once no
// file could be moved back at all, whereas a disk that refuses renames still
// writes (the old file is copied back) and one that refuses writes still
// renames.
#include <gtest/gtest.h>

#include <cstdio>

#include "driver/tests/game_fixture.h"
#include "driver/update.h"
#include "platform/fault.h"

namespace {

using namespace gamefix;

using FaultSweep = DriverTest;

TEST_F(FaultSweep, EveryFailedStepLeavesTheGameWholeOrUpdated)
{
    // What a run without failures makes of the folder.
    Snapshot before, updated;
    {
        GameFolder game;
        before = game.contents();
        ASSERT_EQ(game.run(), UF_DONE);
        updated = game.contents();
    }
    Snapshot updated_but_list = updated;
    updated_but_list["INSTALL.DAT"] = before["INSTALL.DAT"];

    const struct {
        unsigned kind;
        const char *name;
    } kinds[] = {
        {FAULT_ALLOC, "allocation"},
        {FAULT_CREATE, "create"},
        {FAULT_WRITE, "write"},
        {FAULT_RENAME, "rename"},
    };
    long swept = 0;
    testing::Message counts;
    for (const auto &k : kinds) {
        long points;
        {
            GameFolder game;
            fault_arm(k.kind, 0, false);
            game.run();
            points = fault_points();
            fault_disarm();
        }
        EXPECT_GT(points, 0) << k.name;
        counts << " " << k.name << " " << points;
        for (long nth = 1; nth <= points; ++nth) {
            for (const bool sticky : {false, true}) {
                SCOPED_TRACE(testing::Message() << k.name << " " << nth << (sticky ? " and on" : " once"));
                GameFolder game;
                const long blocks = fault_blocks_held();
                fault_arm(k.kind, nth, sticky);
                const uint32_t flags = game.run();
                const long injected = fault_injected();
                fault_disarm();
                EXPECT_GE(injected, 1);
                const Snapshot after = game.contents();
                if (flags == UF_DONE) {
                    EXPECT_TRUE(after == updated || after == updated_but_list) << "half updated";
                } else {
                    EXPECT_TRUE(flags == UF_FAILED || flags == UF_PAYLOAD_DAMAGED) << flags;
                    EXPECT_EQ(after, before) << "failed run changed the folder";
                }
                expect_nothing_held();
                EXPECT_EQ(fault_blocks_held(), blocks) << "heap block left behind";
                ++swept;
            }
        }
    }
    std::printf("fault sweep: %ld points failed once and from there on (%s), %ld runs\n", swept / 2,
                counts.GetString().c_str() + 1, swept);
}

}  // namespace
