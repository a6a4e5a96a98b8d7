#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "driver/tests/game_fixture.h"
#include "driver/update.h"

namespace {

using namespace gamefix;
using testpak::put_u32;

using UpdateTest = DriverTest;

const char *const GAME_FILES[] = {"Korin3.EXE", "Update.PAK", "INSTALL.DAT"};

std::vector<std::string> listed_names(const Bytes &list)
{
    std::vector<std::string> names;
    size_t at = testpak::get_u32(list, 768);
    for (uint32_t i = 0; i < testpak::get_u32(list, 772) && at < list.size(); ++i, at += names.back().size() + 1)
        names.emplace_back(reinterpret_cast<const char *>(list.data() + at));
    return names;
}

bool writable(const std::string &path)
{
    return (std::filesystem::status(path).permissions() & std::filesystem::perms::owner_write) !=
           std::filesystem::perms::none;
}

// Both new files in place and writable, "Update.PAK" listed last unless the
// list held it already, nothing else changed or left behind.
void expect_updated(const GameFolder &game, Snapshot before)
{
    Snapshot after = game.contents();
    EXPECT_EQ(after["Korin3.EXE"], new_exe());
    EXPECT_EQ(after["Update.PAK"], new_update_pak());
    if (before.count("INSTALL.DAT") && listed_names(before["INSTALL.DAT"]).back() == "UPDATE.PAK") {
        EXPECT_EQ(after["INSTALL.DAT"], before["INSTALL.DAT"]);
    } else if (before.count("INSTALL.DAT")) {
        EXPECT_EQ(listed_names(after["INSTALL.DAT"]).back(), "Update.PAK");
    }
    for (const char *changed : GAME_FILES) {
        EXPECT_TRUE(!after.count(changed) || writable(game.file(changed))) << changed;
        before.erase(changed);
        after.erase(changed);
    }
    EXPECT_EQ(after, before) << "other files changed or left behind";
}

struct Case {
    const char *behaviour;
    std::function<void(GameSetup &)> setup;
    uint32_t flags;
    std::function<void(const GameFolder &)> prepare = nullptr;  // after the snapshot
};

void run_cases(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.behaviour);
        GameSetup setup;
        c.setup(setup);
        GameFolder game(setup);
        const Snapshot before = game.contents();
        if (c.prepare) c.prepare(game);
        EXPECT_EQ(game.run(), c.flags);
        if (c.flags == UF_DONE) expect_updated(game, before);
        else EXPECT_EQ(game.contents(), before) << "the game folder was touched";
        expect_nothing_held();
    }
}

std::function<void(GameSetup &)> game_archive(std::vector<std::string> names, uint8_t first = '@', uint8_t last = '@')
{
    return [=](GameSetup &s) { s.update_pak = game_update_pak(names, first, last); };
}

TEST_F(UpdateTest, ChecksDecideAndAnyFindingLeavesTheFolderUntouched)
{
    const uint32_t size = edition.expected_pak_size;
    const auto same = [](GameSetup &) {};
    run_cases({
        {"fitting game is updated", same, UF_DONE},
        {"no Update.PAK: nothing to probe", [](GameSetup &s) { s.update_pak.reset(); }, UF_DONE},
        {"Update.PAK that is no archive", [](GameSetup &s) { s.update_pak = testpak::bytes_of("text"); }, UF_DONE},
        {"Korin3.PAK one byte longer", [&](GameSetup &s) { s.pak_size = size + 1; }, UF_WRONG_VERSION},
        {"Korin3.PAK one byte shorter", [&](GameSetup &s) { s.pak_size = size - 1; }, UF_WRONG_VERSION},
        {"Korin3.PAK missing counts as size 0", [](GameSetup &s) { s.pak_size.reset(); }, UF_WRONG_VERSION},
        {"without Korin3.EXE no check is made",
         [&](GameSetup &s) { s.exe.reset(), s.pak_size = size + 1, s.update_pak = game_update_pak({"Update07.txt"}); },
         UF_DONE},
        {"Update07.txt marks a newer update", game_archive({"Map01.dat", "Update07.txt"}), UF_NEWER_INSTALLED},
        {"Update06.txt marks this update applied", game_archive({"Update06.txt"}), UF_ALREADY_APPLIED},
        {"markers in any letter case", game_archive({"update07.TXT"}), UF_NEWER_INSTALLED},
        {"a marker in an archive serving only '#'", game_archive({"Update07.txt"}, '#', '#'), UF_DONE},
        {"an archive whose range covers '@'", game_archive({"Update06.txt"}, '!', 'Z'), UF_ALREADY_APPLIED},
        {"both markers: the newer alone", game_archive({"Update06.txt", "Update07.txt"}), UF_NEWER_INSTALLED},
        {"marker and wrong size both count",
         [&](GameSetup &s) { s.update_pak = game_update_pak({"Update07.txt"}), s.pak_size = size + 1; },
         UF_NEWER_INSTALLED | UF_WRONG_VERSION},
        {"read-only game files are replaced", same, UF_DONE,
         [](const GameFolder &g) { for (const char *f : GAME_FILES) set_read_only(g.file(f), true); }},
        {"a list holding UPDATE.PAK keeps its bytes but not read-only",
         [](GameSetup &s) { s.install = install_list({"A.PAK", "UPDATE.PAK"}); }, UF_DONE,
         [](const GameFolder &g) { set_read_only(g.file("INSTALL.DAT"), true); }},
        {"a missing install list is not created", [](GameSetup &s) { s.install.reset(); }, UF_DONE},
        {"leftovers of an interrupted run do not block it", same, UF_DONE,
         [](const GameFolder &g) {
             testpak::write_file(g.file("Korin3.OLD"), testpak::bytes_of("older executable"));
             testpak::write_file(g.file("Update.NEW"), testpak::bytes_of("half an archive"));
             set_read_only(g.file("Update.NEW"), true);
         }},
    });
}

Entry damaged(Entry e)
{
    e.data[e.data.size() / 2] ^= 0x55;
    return e;
}

Entry with_u32(Entry e, size_t at, int delta)
{
    put_u32(e.data, at, testpak::get_u32(e.data, at) + delta);
    return e;
}

TEST_F(UpdateTest, BadPayloadLeavesBothGameFilesAsTheyWere)
{
    const Entry exe = good_payload_entries()[0], pak = good_payload_entries()[1];
    auto entries = [](std::vector<Entry> e) { return [e](GameSetup &s) { s.payload_bytes = payload(e); }; };
    run_cases({
        {"payload file not ending in .exe", [](GameSetup &s) { s.payload_name = "upd.bin"; }, UF_PAYLOAD_DAMAGED},
        {"payload file missing", [](GameSetup &s) { s.write_payload = false; }, UF_PAYLOAD_DAMAGED},
        {"payload trailer pointing at no archive",
         [](GameSetup &s) { put_u32(s.payload_bytes, s.payload_bytes.size() - 4, 100); }, UF_PAYLOAD_DAMAGED},
        {"payload without Korin3.EXE", entries({pak}), UF_FAILED},
        {"payload without Update.PAK: no new executable alone", entries({exe}), UF_FAILED},
        {"damaged stream for Korin3.EXE", entries({damaged(exe), pak}), UF_FAILED},
        {"damaged stream for Update.PAK", entries({exe, damaged(pak)}), UF_FAILED},
        {"block declaring one byte more", entries({exe, with_u32(pak, 0, 1)}), UF_FAILED},
        {"block declaring one byte less", entries({with_u32(exe, 0, -1), pak}), UF_FAILED},
        {"packed size past the stored bytes", entries({exe, with_u32(pak, 4, 1)}), UF_FAILED},
        {"entry shorter than a block head", entries({exe, testpak::raw_entry("#:\\Update.PAK", "1234567")}),
         UF_FAILED},
    });
}

TEST_F(UpdateTest, GameFolderThatFitsNoBufferCountsAsMissingAfterThePayloadCheck)
{
    GameFolder game;
    update_set_payload(game.payload_path().c_str());
    std::memset(game_dir, 'x', sizeof game_dir);  // not even terminated
    update_run();
    EXPECT_EQ(update_flags, UF_FAILED);
    expect_nothing_held();
    update_set_payload((game.payload_path() + ".gone").c_str());
    update_run();
    EXPECT_EQ(update_flags, UF_PAYLOAD_DAMAGED);
}

}  // namespace
