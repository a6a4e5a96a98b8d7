#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "driver/tests/game_fixture.h"
#include "driver/update.h"

namespace {

using namespace gamefix;
using testpak::Bytes;
using testpak::Entry;

using UpdateTest = DriverTest;

// Both new files in place, "Update.PAK" listed, nothing else left behind.
void expect_updated(const GameFolder &game, const Snapshot &before)
{
    Snapshot after = game.contents();
    EXPECT_EQ(after["Korin3.EXE"], new_exe());
    EXPECT_EQ(after["Update.PAK"], new_update_pak());
    for (const auto &[name, bytes] : after)
        EXPECT_TRUE(before.count(name) || name == "Korin3.EXE" || name == "Update.PAK") << name << " left behind";
    for (const auto &[name, bytes] : before) EXPECT_TRUE(after.count(name)) << name << " lost";
    if (before.count("INSTALL.DAT")) {
        const std::vector<std::string> names = listed_names(after["INSTALL.DAT"]);
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names.back(), "Update.PAK");
    }
}

struct Case {
    const char *behaviour;
    std::function<void(GameSetup &)> setup;
    uint32_t flags;
};

void run_cases(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.behaviour);
        GameSetup setup;
        c.setup(setup);
        GameFolder game(setup);
        const Snapshot before = game.contents();
        EXPECT_EQ(game.run(), c.flags);
        if (c.flags == UF_DONE) {
            expect_updated(game, before);
        } else {
            EXPECT_EQ(game.contents(), before) << "the game folder was touched";
        }
        expect_nothing_held();
    }
}

TEST_F(UpdateTest, ChecksDecideAndAnyFindingLeavesTheFolderUntouched)
{
    const uint32_t size = expected_pak_size();
    run_cases({
        {"fitting game is updated", [](GameSetup &) {}, UF_DONE},
        {"no Update.PAK: nothing to probe", [](GameSetup &s) { s.update_pak.reset(); }, UF_DONE},
        {"Update.PAK that is no archive is not probed",
         [](GameSetup &s) { s.update_pak = testpak::bytes_of("not an archive at all"); }, UF_DONE},
        {"Korin3.PAK one byte longer", [&](GameSetup &s) { s.pak_size = size + 1; }, UF_WRONG_VERSION},
        {"Korin3.PAK one byte shorter", [&](GameSetup &s) { s.pak_size = size - 1; }, UF_WRONG_VERSION},
        {"Korin3.PAK missing counts as size 0", [](GameSetup &s) { s.pak_size.reset(); }, UF_WRONG_VERSION},
        {"without Korin3.EXE no check is made",
         [&](GameSetup &s) {
             s.exe.reset();
             s.pak_size = size + 1;
             s.update_pak = game_update_pak({"Update07.txt"});
         },
         UF_DONE},
        {"Update07.txt marks a newer update",
         [](GameSetup &s) { s.update_pak = game_update_pak({"Map01.dat", "Update07.txt"}); }, UF_NEWER_INSTALLED},
        {"Update06.txt marks this update as applied",
         [](GameSetup &s) { s.update_pak = game_update_pak({"Update06.txt"}); }, UF_ALREADY_APPLIED},
        {"markers are found in any letter case",
         [](GameSetup &s) { s.update_pak = game_update_pak({"update07.TXT"}); }, UF_NEWER_INSTALLED},
        {"Update06 in capitals", [](GameSetup &s) { s.update_pak = game_update_pak({"UPDATE06.TXT"}); },
         UF_ALREADY_APPLIED},
        {"a marker in an archive serving only '#' is not seen",
         [](GameSetup &s) { s.update_pak = game_update_pak({"Update07.txt"}, '#', '#'); }, UF_DONE},
        {"an archive whose drive range covers '@' is probed",
         [](GameSetup &s) { s.update_pak = game_update_pak({"Update06.txt"}, '!', 'Z'); }, UF_ALREADY_APPLIED},
        {"both markers: the newer update alone is reported",
         [](GameSetup &s) { s.update_pak = game_update_pak({"Update06.txt", "Update07.txt"}); },
         UF_NEWER_INSTALLED},
        {"marker and wrong size are both reported",
         [&](GameSetup &s) {
             s.update_pak = game_update_pak({"Update07.txt"});
             s.pak_size = size + 1;
         },
         UF_NEWER_INSTALLED | UF_WRONG_VERSION},
        {"applied marker and missing Korin3.PAK",
         [](GameSetup &s) {
             s.update_pak = game_update_pak({"Update06.txt"});
             s.pak_size.reset();
         },
         UF_ALREADY_APPLIED | UF_WRONG_VERSION},
    });
}

Entry damaged(Entry e)
{
    e.data[e.data.size() / 2] ^= 0x55;
    return e;
}

// The stored block with its size words changed.
Entry with_sizes(Entry e, int unpacked_delta, int packed_delta)
{
    testpak::put_u32(e.data, 0, testpak::get_u32(e.data, 0) + unpacked_delta);
    testpak::put_u32(e.data, 4, testpak::get_u32(e.data, 4) + packed_delta);
    return e;
}

TEST_F(UpdateTest, BadPayloadLeavesBothGameFilesAsTheyWere)
{
    const Entry exe = testpak::packed_entry("#:\\Korin3.EXE", new_exe());
    const Entry pak = testpak::packed_entry("#:\\Update.PAK", new_update_pak());
    auto entries = [](std::vector<Entry> e) {
        return [e](GameSetup &s) { s.payload_bytes = payload(e); };
    };
    run_cases({
        {"payload file not ending in .exe", [](GameSetup &s) { s.payload_name = "upd.bin"; }, UF_PAYLOAD_DAMAGED},
        {"payload file missing", [](GameSetup &s) { s.write_payload = false; }, UF_PAYLOAD_DAMAGED},
        {"payload trailer pointing at no archive",
         [](GameSetup &s) {
             testpak::Archive a;
             a.entries = good_payload_entries();
             s.payload_bytes = testpak::appended(testpak::fake_exe(4096), testpak::build(a), 100);
         },
         UF_PAYLOAD_DAMAGED},
        {"payload without Korin3.EXE", entries({pak}), UF_FAILED},
        {"payload without Update.PAK: the executable is not replaced alone", entries({exe}), UF_FAILED},
        {"damaged stream for Korin3.EXE", entries({damaged(exe), pak}), UF_FAILED},
        {"damaged stream for Update.PAK", entries({exe, damaged(pak)}), UF_FAILED},
        {"block declaring one byte more than it unpacks to", entries({exe, with_sizes(pak, 1, 0)}), UF_FAILED},
        {"block declaring one byte less than it unpacks to", entries({with_sizes(exe, -1, 0), pak}), UF_FAILED},
        {"packed size past the stored bytes", entries({exe, with_sizes(pak, 0, 1)}), UF_FAILED},
        {"entry shorter than a block head",
         entries({exe, testpak::raw_entry("#:\\Update.PAK", Bytes{1, 0, 0, 0, 0, 0, 0})}), UF_FAILED},
    });
}

TEST_F(UpdateTest, ReadOnlyGameFilesAreReplaced)
{
    GameFolder game;
    const Snapshot before = game.contents();
    for (const char *name : {"Korin3.EXE", "Update.PAK", "INSTALL.DAT"}) set_read_only(game.file(name), true);
    EXPECT_EQ(game.run(), UF_DONE);
    expect_updated(game, before);
    EXPECT_EQ(listed_names(game.contents()["INSTALL.DAT"]), (std::vector<std::string>{"Korin3.PAK", "Update.PAK"}));
    for (const char *name : {"Korin3.EXE", "Update.PAK", "INSTALL.DAT"}) EXPECT_FALSE(is_read_only(game.file(name)));
}

TEST_F(UpdateTest, ListAlreadyHoldingUpdatePakKeepsItsBytesButNotReadOnly)
{
    GameSetup setup;
    setup.install = install_list({"A.PAK", "UPDATE.PAK"});
    GameFolder game(setup);
    set_read_only(game.file("INSTALL.DAT"), true);
    EXPECT_EQ(game.run(), UF_DONE);
    EXPECT_EQ(game.contents()["INSTALL.DAT"], *setup.install);
    EXPECT_FALSE(is_read_only(game.file("INSTALL.DAT")));
}

TEST_F(UpdateTest, MissingInstallListIsNotCreated)
{
    GameSetup setup;
    setup.install.reset();
    GameFolder game(setup);
    EXPECT_EQ(game.run(), UF_DONE);
    EXPECT_FALSE(game.contents().count("INSTALL.DAT"));
}

TEST_F(UpdateTest, SecondRunFindsTheUpdateApplied)
{
    GameFolder game;
    ASSERT_EQ(game.run(), UF_DONE);
    const Snapshot updated = game.contents();
    EXPECT_EQ(game.run(), UF_ALREADY_APPLIED);
    EXPECT_EQ(game.contents(), updated);
}

TEST_F(UpdateTest, LeftoversOfAnInterruptedRunDoNotBlockTheUpdate)
{
    GameFolder game;
    const Snapshot before = game.contents();
    testpak::write_file(game.file("Korin3.OLD"), testpak::bytes_of("older executable"));
    testpak::write_file(game.file("Update.NEW"), testpak::bytes_of("half an archive"));
    set_read_only(game.file("Update.NEW"), true);
    EXPECT_EQ(game.run(), UF_DONE);
    expect_updated(game, before);
    EXPECT_EQ(game.contents().size(), before.size());
}

TEST_F(UpdateTest, GameFolderWithTrailingBackslash)
{
    GameFolder game;
    const Snapshot before = game.contents();
    update_set_payload(game.payload_path().c_str());
    std::snprintf(game_dir, sizeof game_dir, "%s\\", game.dir().c_str());
    update_run();
    EXPECT_EQ(update_flags, UF_DONE);
    expect_updated(game, before);
}

TEST_F(UpdateTest, GameFolderThatFitsNoBufferCountsAsMissing)
{
    GameFolder game;
    ASSERT_EQ(update_set_payload(game.payload_path().c_str()), 0);
    std::memset(game_dir, 'x', sizeof game_dir);  // not even terminated
    update_run();
    EXPECT_EQ(update_flags, UF_FAILED);
    expect_nothing_held();

    std::memset(game_dir, 'x', sizeof game_dir);
    ASSERT_EQ(update_set_payload((game.payload_path() + ".missing").c_str()), 0);
    update_run();
    EXPECT_EQ(update_flags, UF_PAYLOAD_DAMAGED);
}

TEST_F(UpdateTest, MissingGameFolderFailsWithoutCreatingIt)
{
    GameFolder game;
    std::filesystem::remove_all(game.dir());
    EXPECT_EQ(game.run(), UF_FAILED);
    EXPECT_FALSE(std::filesystem::exists(game.dir()));
    expect_nothing_held();
}

}  // namespace
