// The update where the disk works against it: every allocation, create, write
// and rename failed in turn, once and from that point on; game files another
// program holds open; a disk that fills up. The game is left whole or
// updated, the flags say which, and once the obstacle is gone it goes through.
// "From that point on" holds per kind: a disk that refuses renames still
// writes (the old file is copied back) and one that refuses writes still
// renames.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "driver/journal.h"
#include "driver/tests/game_fixture.h"
#include "tests/support/small_disk.h"

namespace {

using namespace game_folders;

using HostileDisk = DriverTest;

TEST_F(HostileDisk, EveryFailedStepLeavesTheGameWholeOrUpdated)
{
    const Outcomes o;
    long swept = 0;
    for (const unsigned kind : {FAULT_ALLOC, FAULT_CREATE, FAULT_WRITE, FAULT_RENAME}) {
        long points;
        {
            GameFolder game;
            fault_arm(kind, 0, false);
            game.run();
            points = fault_points();
            fault_disarm();
        }
        EXPECT_GT(points, 0) << kind;
        for (long nth = 1; nth <= points; ++nth) {
            for (const bool sticky : {false, true}) {
                SCOPED_TRACE(testing::Message() << "kind " << kind << " step " << nth << (sticky ? " and on" : " once"));
                GameFolder game;
                const long blocks = fault_blocks_held();
                fault_arm(kind, nth, sticky);
                err_clear();  // so that a failure passed on without a reason is counted
                const uint32_t flags = game.run();
                EXPECT_GE(fault_injected(), 1);
                fault_disarm();
                if (kind == FAULT_RENAME && sticky && flags != UF_DONE && game.contents() != o.before) {
                    // A disk that refuses every rename cannot undo either (an undo
                    // is a rename or nothing): the journal stays, the game starts,
                    // and the next run settles it.
                    EXPECT_TRUE(game.contents().count(JOURNAL_NAME));
                    const uint32_t next = game.run();
                    EXPECT_TRUE(next == UF_DONE || next == UF_ALREADY_APPLIED) << next;
                    EXPECT_EQ(game.contents(), o.updated);
                    continue;
                }
                o.expect_whole_or_updated(flags, game.contents());
                EXPECT_EQ(fault_blocks_held(), blocks) << "heap block left behind";
                ++swept;
            }
        }
    }
    std::printf("fault sweep: %ld points, each failed once and from there on\n", swept / 2);
}

TEST_F(HostileDisk, FilesHeldElsewhereStopTheUpdateWholeAndReleasedLetItThrough)
{
    const Outcomes o;
    const struct {
        const char *name;
        int mode;        // how the other program holds it
        uint32_t flags;  // while it does
    } holds[] = {
        {"Korin3.EXE", DISK_READ, UF_FAILED},  // the game running
        {"Korin3.EXE", DISK_READ_WRITE, UF_FAILED},
        {"Update.PAK", DISK_READ, UF_FAILED},
        {"Update.PAK", DISK_READ_WRITE, UF_FAILED},
        {"Korin3.PAK", DISK_READ, UF_DONE},  // only its size is read
        {"INSTALL.DAT", DISK_READ, UF_DONE},  // the files are in place; the list waits
        {"INSTALL.DAT", DISK_READ_WRITE, UF_DONE},
    };
    for (const auto &h : holds) {
        SCOPED_TRACE(testing::Message() << h.name << (h.mode == DISK_READ ? " read" : " written") << " elsewhere");
        GameFolder game;
        const int held = disk_open(game.file(h.name).c_str(), h.mode);
        ASSERT_NE(held, -1);
        const uint32_t flags = game.run();
        EXPECT_EQ(flags, h.flags);
        disk_close(held);
        o.expect_whole_or_updated(flags, game.contents());
        if (flags != UF_DONE) {
            EXPECT_EQ(game.run(), UF_DONE) << "refused once free";
            EXPECT_EQ(game.contents(), o.updated);
        }
    }
}

TEST_F(HostileDisk, AFileHeldForAMomentIsWaitedForAndOneHeldForGoodFailsWhole)
{
    const Outcomes o;
    const struct {
        const char *name;
        int mode;
        long release_after;  // waits until the other program lets go; 0: never
        uint32_t flags;
    } holds[] = {
        {"Korin3.EXE", DISK_READ, 3, UF_DONE},  // a scanner reading the old game
        {"Update.PAK", DISK_READ_WRITE, 1, UF_DONE},
        {"Update.PAK", DISK_READ_WRITE, 30, UF_DONE},
        {"Update.PAK", DISK_READ, 0, UF_FAILED},
        {"INSTALL.DAT", DISK_READ_WRITE, 5, UF_DONE},
    };
    for (const auto &h : holds) {
        SCOPED_TRACE(testing::Message() << h.name << " held for " << h.release_after << " waits");
        GameFolder game;
        int held = disk_open(game.file(h.name).c_str(), h.mode);
        ASSERT_NE(held, -1);
        TestClock::install();
        TestClock::on_wait = [&] {
            if (held != -1 && TestClock::waits == h.release_after) disk_close(held), held = -1;
        };
        const uint32_t flags = game.run();
        EXPECT_EQ(flags, h.flags);
        if (held != -1) disk_close(held);
        EXPECT_EQ(held == -1, h.release_after > 0) << "never waited for";
        EXPECT_EQ(game.contents(), flags == UF_DONE ? o.updated : o.before);
        expect_nothing_held();
    }
}

TEST_F(HostileDisk, ARunningGameStopsTheUpdateBeforeAnythingIsTouched)
{
    const Outcomes o;
    GameFolder game;
    // The process list is the first point: no step that changes the disk follows.
    fault_arm(FAULT_IMAGE_RUNNING | FAULT_DISK_STEPS, 1, false);
    EXPECT_EQ(game.run(), UF_FAILED);
    EXPECT_EQ(fault_injected(), 1);
    EXPECT_EQ(fault_points(), 1) << "the folder was worked on";
    fault_disarm();
    EXPECT_EQ(game.contents(), o.before);
    expect_nothing_held();
    EXPECT_EQ(game.run(), UF_DONE) << "refused once the game ended";
}

// The checks change nothing, so their findings stand before a running game
// or a held executable, at once; with no finding the game still stops the
// update. A folder an earlier run may have left halfway is judged only
// after settling, so there the running game comes first.
TEST_F(HostileDisk, TheChecksFindingsStandBeforeARunningOrHeldGame)
{
    const uint32_t size = edition.expected_pak_size;
    const struct {
        const char *what;
        std::function<void(GameSetup &)> setup;
        bool journal_name_taken;
        uint32_t flags;
    } cases[] = {
        {"wrong version", [&](GameSetup &s) { s.pak_size = size + 1; }, false, UF_WRONG_VERSION},
        {"already applied", [](GameSetup &s) { s.update_pak = game_update_pak({"Update06.txt"}); }, false,
         UF_ALREADY_APPLIED},
        {"newer installed", [](GameSetup &s) { s.update_pak = game_update_pak({"Update07.txt"}); }, false,
         UF_NEWER_INSTALLED},
        {"no finding", [](GameSetup &) {}, false, UF_FAILED},
        {"wrong version beside a journal's name", [&](GameSetup &s) { s.pak_size = size + 1; }, true, UF_FAILED},
    };
    for (const auto &c : cases)
        for (const bool held : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.what << (held ? ", Korin3.EXE held" : ", game running"));
            GameSetup setup;
            c.setup(setup);
            GameFolder game(setup);
            if (c.journal_name_taken) write_file(game.file("Update.JNL"), bytes_of("notes"));
            const Snapshot before = game.contents();
            const int hold = held ? disk_open(game.file("Korin3.EXE").c_str(), DISK_READ_WRITE) : -1;
            if (!held) fault_arm(FAULT_IMAGE_RUNNING, 1, true);
            TestClock::install();
            EXPECT_EQ(game.run(), c.flags);
            if (c.flags != UF_FAILED) {
                EXPECT_EQ(TestClock::waits, 0) << "a finding waited for the hold";
            }
            fault_disarm();
            if (hold != -1) disk_close(hold);
            EXPECT_EQ(game.contents(), before);
            expect_nothing_held();
        }
}

TEST_F(HostileDisk, AFullDiskFailsTheUpdateWholeAtEveryFillLevel)
{
    SmallDisk disk;
    if (!disk.ready()) GTEST_SKIP() << SmallDisk::why();
#ifndef _WIN32
    const Outcomes o;
    const std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    // From a full disk up, a page more each time, until the update fits.
    uintmax_t leave = 0;
    for (;; leave += 4096) {
        SCOPED_TRACE(testing::Message() << leave << " bytes free");
        disk.fill_leaving(UINTMAX_MAX);
        setenv("TMPDIR", disk.root().c_str(), 1);  // the game folder on the small disk
        const auto game = std::make_unique<GameFolder>();
        saved.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", saved.c_str(), 1);
        disk.fill_leaving(leave);
        const uint32_t flags = game->run();
        o.expect_whole_or_updated(flags, game->contents());
        if (flags == UF_DONE || leave > (1u << 20)) break;
    }
    std::printf("update on a full disk: %ju fill levels failed cleanly\n", leave / 4096);
#endif
}

}  // namespace
