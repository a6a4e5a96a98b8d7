// The update where the disk works against it: game files that another
// program holds open, and a disk that fills up. The game is left whole or
// updated, the flags say which, and once the obstacle is gone the update
// goes through.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/tests/game_fixture.h"
#include "driver/update.h"
#include "platform/platform.h"
#include "tests/support/small_disk.h"

namespace {

using namespace gamefix;

using HostileDisk = DriverTest;

// What a clean run makes of a fresh game folder.
struct Outcomes {
    Snapshot before, updated, updated_but_list;
};

Outcomes clean_outcomes()
{
    Outcomes o;
    GameFolder game;
    o.before = game.contents();
    EXPECT_EQ(game.run(), UF_DONE);
    o.updated = o.updated_but_list = game.contents();
    o.updated_but_list["INSTALL.DAT"] = o.before["INSTALL.DAT"];
    return o;
}

void expect_whole_or_updated(uint32_t flags, const Outcomes &o, const Snapshot &after)
{
    if (flags == UF_DONE) {
        EXPECT_TRUE(after == o.updated || after == o.updated_but_list) << "half updated";
    } else {
        EXPECT_EQ(flags, UF_FAILED);
        EXPECT_EQ(after, o.before) << "a failed run changed the folder";
    }
    expect_nothing_held();
}

TEST_F(HostileDisk, FilesHeldElsewhereStopTheUpdateWholeAndReleasedLetItThrough)
{
    const Outcomes o = clean_outcomes();
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
        expect_whole_or_updated(flags, o, game.contents());
        if (flags != UF_DONE) {
            EXPECT_EQ(game.run(), UF_DONE) << "refused once free";
            EXPECT_EQ(game.contents(), o.updated);
        }
    }
}

#ifndef _WIN32
// The game's temporary folder made on the small disk.
std::unique_ptr<GameFolder> game_on(const testpak::SmallDisk &disk)
{
    const char *was = std::getenv("TMPDIR");
    const std::string saved = was ? was : "";
    setenv("TMPDIR", disk.root().c_str(), 1);
    auto game = std::make_unique<GameFolder>();
    if (was) setenv("TMPDIR", saved.c_str(), 1);
    else unsetenv("TMPDIR");
    return game;
}
#endif

TEST_F(HostileDisk, AFullDiskFailsTheUpdateWholeAtEveryFillLevel)
{
    testpak::SmallDisk disk;
    if (!disk.ready()) GTEST_SKIP() << testpak::SmallDisk::why();
#ifndef _WIN32
    const Outcomes o = clean_outcomes();
    // From a full disk up, a page more each time, until the update fits.
    uintmax_t leave = 0;
    for (;; leave += 4096) {
        SCOPED_TRACE(testing::Message() << leave << " bytes free");
        disk.fill_leaving(UINTMAX_MAX);
        const auto game = game_on(disk);
        disk.fill_leaving(leave);
        const uint32_t flags = game->run();
        expect_whole_or_updated(flags, o, game->contents());
        if (flags == UF_DONE || leave > (1u << 20)) break;
    }
    std::printf("update on a full disk: %ju fill levels failed cleanly\n", leave / 4096);
#endif
}

}  // namespace
