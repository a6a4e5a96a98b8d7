// The update stopped dead at every step that changes the disk, as a power
// cut or an ended task stops it: the process ends there (a child of this test
// program), with no cleanup. At every stop the game's two files are each the
// old or the new one; the next run settles the folder and updates it, leaving
// nothing behind but the update and somebody else's files. The same again
// with a second stop while the next run settles the first.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "driver/tests/game_fixture.h"
#include "tests/support/program.h"

namespace {

using namespace game_folders;

// The files in which two folder states differ, with their sizes.
std::string differences(const Snapshot &a, const Snapshot &b)
{
    std::string out;
    for (const auto &[name, bytes] : a)
        if (!b.count(name) || b.at(name) != bytes)
            out += name + " (" + std::to_string(bytes.size()) + " bytes" + (b.count(name) ? ", differs) " : ", extra) ");
    for (const auto &[name, bytes] : b)
        if (!a.count(name)) out += name + " (missing) ";
    return out;
}

void set_env(const char *name, const std::string &value)
{
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// The child: updates the folder named in the environment, stopped at the
// given step. Skipped in an ordinary run.
TEST(PowerCutChild, UpdatesUntilItStops)
{
    const char *dir = std::getenv("KORIN_STOP_GAME");
    if (!dir) GTEST_SKIP() << "started by the power-cut tests";
    platform_reset(), archive_reset(), update_reset();
    std::strncpy(game_dir, dir, sizeof game_dir - 1);
    ASSERT_EQ(update_set_payload(std::getenv("KORIN_STOP_PAYLOAD")), 0);
    fault_arm_stop(FAULT_DISK_STEPS, std::atol(std::getenv("KORIN_STOP_AT")));
    update_run();
}

struct PowerCut : DriverTest {
    GameFolder game;
    Snapshot before, updated;
    Bytes old_exe, old_pak;
    long steps = 0;  // of an update that is not stopped

    void SetUp() override
    {
        DriverTest::SetUp();
        before = game.contents();
        old_exe = before["Korin3.EXE"], old_pak = before["Update.PAK"];
        GameFolder clean;
        fault_arm(FAULT_DISK_STEPS, 0, false);
        EXPECT_EQ(clean.run(), UF_DONE);
        steps = fault_points();
        fault_disarm();
        updated = clean.contents();
        set_env("KORIN_STOP_GAME", game.dir);
        set_env("KORIN_STOP_PAYLOAD", game.payload_path);
    }
    void TearDown() override
    {
        set_env("KORIN_STOP_GAME", "");
        DriverTest::TearDown();
    }

    // Runs the update in a child stopped at step n: true when it stopped.
    bool stopped_at(long n)
    {
        set_env("KORIN_STOP_AT", std::to_string(n));
        const ProgramRun r = run_program("driver_tests", {"--gtest_filter=PowerCutChild.*"}, game.temp.file(""));
        EXPECT_TRUE(r.status == FAULT_STOP_STATUS || r.status == 0) << r.out << r.err;
        return r.status == FAULT_STOP_STATUS;
    }
    void expect_game_starts()
    {
        Snapshot now = game.contents();
        EXPECT_TRUE(now["Korin3.EXE"] == old_exe || now["Korin3.EXE"] == new_exe()) << "Korin3.EXE half made";
        EXPECT_TRUE(now["Update.PAK"] == old_pak || now["Update.PAK"] == new_update_pak()) << "Update.PAK half made";
        for (const std::string &name : GameSetup().foreign) EXPECT_EQ(now[name], before[name]) << name;
    }
    void expect_next_run_updates()
    {
        platform_reset(), archive_reset(), update_reset();
        const uint32_t flags = game.run();
        EXPECT_TRUE(flags == UF_DONE || flags == UF_ALREADY_APPLIED) << flags;
        EXPECT_EQ(differences(game.contents(), updated), "");
    }
    // The folder as it was (the large sparse Korin3.PAK stays; it is only read).
    void restore(const Snapshot &state)
    {
        for (const auto &entry : fs::directory_iterator(game.dir))
            if (entry.path().filename() != "Korin3.PAK") fs::remove(entry.path());
        for (const auto &[name, bytes] : state)
            if (name != "Korin3.PAK") write_file(game.file(name), bytes);
    }
};

TEST_F(PowerCut, EveryStopLeavesAGameThatStartsAndTheNextRunUpdatesIt)
{
    long stops = 0, second_stops = 0;
    for (long n = 1; stopped_at(n); ++n) {
        SCOPED_TRACE(testing::Message() << "stopped at step " << n);
        expect_game_starts();
        ++stops;
        // Stops a quarter, half and three quarters of the way are settled by
        // runs stopped in turn at each of their own steps (every start of a
        // Windows program costs a second under Wine).
        if (n == steps / 4 || n == steps / 2 || n == 3 * steps / 4) {
            const Snapshot at_stop = game.contents();
            for (long m = 1;; ++m) {
                SCOPED_TRACE(testing::Message() << "and its settling at step " << m);
                const bool again = stopped_at(m);
                expect_game_starts();
                expect_next_run_updates();
                if (!again) break;
                ++second_stops;
                restore(at_stop);
            }
        } else {
            expect_next_run_updates();
        }
        restore(before);
    }
    EXPECT_EQ(stops, steps);
    std::printf("power cuts: %ld stop points, %ld more while settling\n", stops, second_stops);
}

}  // namespace
