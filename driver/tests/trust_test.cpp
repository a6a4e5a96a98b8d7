// The game folder may be writable by any local user while the update runs as
// administrator. Whatever such a user plants there (links to files outside,
// a journal of their own, a file held open) and whenever they swap a name
// during the run, nothing outside the folder changes: a decoy outside keeps
// its bytes and its mode.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "driver/journal.h"
#include "driver/tests/game_fixture.h"
#include "zlib.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using namespace game_folders;

struct Decoy {
    std::string path;
    Bytes bytes = bytes_of("a service's library, not the game's");
    fs::perms mode;
    explicit Decoy(const TempDir &temp) : path(temp.file("decoy.dll"))
    {
        write_file(path, bytes);
        mode = fs::status(path).permissions();
    }
    void make_read_only()  // so that an attribute reset through a link shows
    {
        fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        mode = fs::status(path).permissions();
    }
    void expect_untouched() const
    {
        EXPECT_EQ(read_file(path), bytes) << "written through a link";
        EXPECT_EQ(fs::status(path).permissions(), mode) << "attributes changed through a link";
    }
};

enum class Link { SYMBOLIC, HARD };

// name made a second name of target (replacing what stood there); false when
// this system cannot make such a link.
bool plant_link(Link kind, const std::string &target, const std::string &name)
{
    std::error_code ec;
    fs::remove(name, ec);
    if (kind == Link::SYMBOLIC) fs::create_symlink(target, name, ec);
    else fs::create_hard_link(target, name, ec);
    return !ec;
}

// Whether this system makes such links at all (the mingw runtime makes no
// symbolic ones, so under Wine only the hard ones run).
bool makes_links(Link kind)
{
    const TempDir temp;
    const std::string target = temp.write("target", bytes_of("x"));
    return plant_link(kind, target, temp.file("link"));
}

std::string record(const std::string &fields)
{
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08lx", crc32(0, reinterpret_cast<const Bytef *>(fields.data()), fields.size()));
    return std::string(crc) + " " + fields + "\r\n";
}

std::string content_fields(const Bytes &b)
{
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08lx", crc32(0, b.data(), static_cast<uInt>(b.size())));
    return std::to_string(b.size()) + "\t" + crc;
}

using Trust = DriverTest;

TEST_F(Trust, AGameFileLinkedOutsideIsNeitherWrittenNorChangedThrough)
{
    int planted = 0;
    for (const Link kind : {Link::SYMBOLIC, Link::HARD}) {
        for (const char *name : {"Korin3.EXE", "Update.PAK", "INSTALL.DAT"}) {
            SCOPED_TRACE(std::string(name) + (kind == Link::HARD ? " hard link" : " symbolic link"));
            GameFolder game;
            Decoy decoy(game.temp);
            // The mingw runtime makes no symbolic links: under Wine only the hard ones run.
            if (!plant_link(kind, decoy.path, game.file(name))) {
                SetUp();
                continue;
            }
            ++planted;
            decoy.make_read_only();
            const uint32_t flags = game.run();
            decoy.expect_untouched();
            // Checks that cannot read the game's files fail the update; a list
            // that cannot be read is left as it is.
            EXPECT_EQ(flags, std::string(name) == "INSTALL.DAT" ? UF_DONE : UF_FAILED);
            expect_nothing_held();
            SetUp();
        }
    }
    if (planted == 0) GTEST_SKIP() << "no links on this system";
}

// The review's attack: a planted journal says Korin3.OLD holds the old game,
// Korin3.EXE is a link to a file outside, and Korin3.OLD is held so that the
// undo cannot rename it. The undo used to copy it over Korin3.EXE by name.
TEST_F(Trust, APlantedJournalWithAHeldAsideFileWritesNothingOutside)
{
    for (const Link kind : {Link::SYMBOLIC, Link::HARD}) {
        SCOPED_TRACE(kind == Link::HARD ? "hard link" : "symbolic link");
        GameFolder game;
        const Decoy decoy(game.temp);
        const Bytes forged = bytes_of("the attacker's bytes");
        write_file(game.file("Korin3.OLD"), forged);
        if (!plant_link(kind, decoy.path, game.file("Korin3.EXE"))) continue;
        const std::string journal = "KORIN3 UPDATE JOURNAL 1\r\n" +
                                    record("file\t0\tUpdate.PAK\t0\t" + content_fields(read_file(game.file("Update.PAK")))) +
                                    record("file\t1\tKorin3.EXE\t0\t" + content_fields(forged)) +
                                    record("aside\t1\tKorin3.OLD");
        write_file(game.file(JOURNAL_NAME), bytes_of(journal));
        // Held as a reader that shares reading only: no rename, but copies.
        const int held = disk_open(game.file("Korin3.OLD").c_str(), DISK_READ);
        ASSERT_NE(held, -1);
        const uint32_t flags = game.run();
        disk_close(held);
        decoy.expect_untouched();
        EXPECT_NE(flags, UF_DONE);
        SetUp();
    }
}

// Another user swaps one of the folder's names for a link to the decoy just
// before a step of the update, at every step and for every name there.
struct Race {
    long step = 0, at = 0;
    std::string folder, name, decoy;
    Link kind = Link::SYMBOLIC;
    std::vector<std::vector<std::string>> names_at;  // of a run that is not raced
};
Race race;

TEST_F(Trust, ANameSwappedForALinkBeforeAnyStepLeadsNowhereOutside)
{
    race = Race{};
    {
        GameFolder game;
        race.folder = game.dir;
        fault_set_hook(FAULT_DISK_STEPS, [](unsigned) {
            std::vector<std::string> names;
            for (const fs::directory_entry &e : fs::directory_iterator(race.folder))
                if (e.path().filename() != "Korin3.PAK") names.push_back(e.path().filename().string());
            race.names_at.push_back(names);
        });
        EXPECT_EQ(game.run(), UF_DONE);
        fault_set_hook(0, nullptr);
    }
    const long steps = static_cast<long>(race.names_at.size());
    // Hard links are raced at every other step, and under Wine, where every
    // run costs more, every third: that still meets each kind of step
    // (create, write, flush, rename, delete) at each file.
#ifdef _WIN32
    constexpr long STRIDE = 3;
#else
    constexpr long STRIDE = 1;
#endif
    long races = 0;
    for (const Link kind : {Link::SYMBOLIC, Link::HARD}) {
        if (!makes_links(kind)) continue;
        const long stride = kind == Link::HARD ? STRIDE + 1 : STRIDE;
        for (long at = 1; at <= steps; at += stride) {
            for (const std::string &name : race.names_at[static_cast<size_t>(at - 1)]) {
                SCOPED_TRACE(testing::Message() << name << " at step " << at << (kind == Link::HARD ? " hard" : ""));
                GameFolder game;
                const Decoy decoy(game.temp);
                race.step = 0, race.at = at, race.folder = game.dir, race.name = name, race.decoy = decoy.path;
                race.kind = kind;
                // A name held open cannot be swapped (on Windows): the race is lost.
                fault_set_hook(FAULT_DISK_STEPS, [](unsigned) {
                    if (++race.step == race.at) plant_link(race.kind, race.decoy, (fs::path(race.folder) / race.name).string());
                });
                (void)game.run();
                fault_set_hook(0, nullptr);
                decoy.expect_untouched();
                expect_nothing_held();
                ++races;
                SetUp();
            }
        }
    }
    if (races == 0) GTEST_SKIP() << "no links on this system";
    std::printf("link races: %ld runs over %ld steps\n", races, steps);
}

TEST_F(Trust, AJournalNameHoldingSomebodysFileIsLeftAloneAndNeverMakesTheGameLookDamaged)
{
    for (const std::string notes : {"", "my notes\r\n"}) {
        GameFolder game;
        write_file(game.file(JOURNAL_NAME), bytes_of(notes));
#ifndef _WIN32
        // Only an empty file of this program's own is the start of a journal.
        if (notes.empty() && (geteuid() != 0 || chown(game.file(JOURNAL_NAME).c_str(), 65534, 65534) != 0)) continue;
#else
        if (notes.empty()) continue;  // Wine gives every file the same owner
#endif
        EXPECT_EQ(game.run(), UF_DONE);
        Snapshot after = game.contents();
        EXPECT_EQ(after[JOURNAL_NAME], bytes_of(notes));
        EXPECT_FALSE(after.count("Update.J01")) << "the journal of the run itself is gone";
        SetUp();
    }
}

TEST_F(Trust, AGameFolderReachedThroughALinkOnItsPathStillUpdates)
{
    GameFolder game;
    const std::string moved = game.temp.file("other-drive");
    fs::rename(game.dir, moved);
    std::error_code ec;
    fs::create_directory_symlink(moved, game.dir, ec);
    if (ec) GTEST_SKIP() << "no folder links on this system";
    EXPECT_EQ(game.run(), UF_DONE);
    EXPECT_EQ(read_file(fs::path(moved) / "Korin3.EXE"), new_exe());
}

TEST_F(Trust, AnUpdatePakClaimingMillionsOfRecordsIsRefusedBeforeItsRoomIsTaken)
{
    GameSetup setup;
    Bytes bomb = game_update_pak({"Map01.dat"});
    put_u32(bomb, 4, 0x00FFFFFF);  // entry_count
    bomb.resize(1 << 20);
    setup.update_pak = bomb;
    GameFolder game(setup);
    fault_arm(FAULT_ALLOC, 0, false);
    const long before = fault_blocks_held();
    const int file = disk_open(game.file("Update.PAK").c_str(), DISK_READ);
    EXPECT_EQ(vfs_mount_probe(file), -1);
    EXPECT_EQ(err_last(), ERR_TOO_LARGE);
    EXPECT_EQ(fault_points(), 0) << "memory taken for the directory";
    EXPECT_EQ(fault_blocks_held(), before);
    fault_disarm();
    disk_close(file);
    EXPECT_EQ(game.run(), UF_DONE);
}

}  // namespace
