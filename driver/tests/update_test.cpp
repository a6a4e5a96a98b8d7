#include <functional>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "driver/tests/game_fixture.h"

const EditionTexts edition = {
    "TEST", 936, 0x12E67196u, "Korin III test", "?", "OK", "Cancel", "browse", "wrong folder",
    "done", "already", "newer", "wrong version", "game damaged", "payload damaged", "failed",
};

namespace {

using namespace game_folders;

using UpdateTest = DriverTest;

const char *const GAME_FILES[] = {"Korin3.EXE", "Update.PAK", "INSTALL.DAT"};

// The old bytes with the header pointing behind them, then the whole list
// again with "Update.PAK" at its end.
Bytes registered(Bytes list, std::vector<std::string> names)
{
    names.push_back("Update.PAK");
    put_u32(list, 768, static_cast<uint32_t>(list.size()));
    put_u32(list, 772, static_cast<uint32_t>(names.size()));
    for (const std::string &name : names) list.insert(list.end(), name.c_str(), name.c_str() + name.size() + 1);
    return list;
}

bool writable(const std::string &path)
{
    return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
}

// Both new files in place and writable, the usual list registered (any
// other left alone), nothing else changed or left behind.
void expect_updated(const GameFolder &game, Snapshot before)
{
    Snapshot after = game.contents();
    EXPECT_EQ(after["Korin3.EXE"], new_exe());
    EXPECT_EQ(after["Update.PAK"], new_update_pak());
    const Bytes usual = GameSetup().install.value();
    const Bytes &list = before["INSTALL.DAT"];
    EXPECT_EQ(after["INSTALL.DAT"], list == usual ? registered(usual, {"Korin3.PAK"}) : list);
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
    std::function<void(const GameFolder &)> prepare = nullptr;  // before the snapshot
};

void run_cases(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.behaviour);
        GameSetup setup;
        c.setup(setup);
        GameFolder game(setup);
        if (c.prepare) c.prepare(game);
        const Snapshot before = game.contents();
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
        {"Update.PAK that is no archive", [](GameSetup &s) { s.update_pak = bytes_of("text"); }, UF_DONE},
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
         [](const GameFolder &g) { for (const char *f : GAME_FILES) set_read_only(g.file(f)); }},
        {"a list holding UPDATE.PAK keeps its bytes but not read-only",
         [](GameSetup &s) { s.install = install_list({"A.PAK", "UPDATE.PAK"}); }, UF_DONE,
         [](const GameFolder &g) { set_read_only(g.file("INSTALL.DAT")); }},
        {"a missing install list is not created", [](GameSetup &s) { s.install.reset(); }, UF_DONE},
        {"files under the scratch names are nobody's to delete, and do not block it", same, UF_DONE,
         [](const GameFolder &g) {
             for (const char *name : {"Korin3.OLD", "Korin3.NEW", "Update.NEW", "Update.N01", "INSTALL.OLD", "INSTALL.NEW"})
                 write_file(g.file(name), bytes_of(std::string("someone's ") + name));
             set_read_only(g.file("Update.NEW"));
         }},
    });
}

#ifndef _WIN32  // permission bits are POSIX's; Windows makes the files plain ones
// The new files keep the permissions of those they replace, as plain
// writable files (the list is made writable as the game expects); a file
// that was not there gets a new file's.
TEST_F(UpdateTest, ReplacedFilesKeepTheirPermissions)
{
    const mode_t mask = umask(022);
    umask(mask);
    for (const bool with_update_pak : {true, false}) {
        SCOPED_TRACE(with_update_pak ? "Update.PAK replaced" : "Update.PAK new");
        GameSetup setup;
        if (!with_update_pak) setup.update_pak.reset();
        GameFolder game(setup);
        const auto mode = [&](const char *name) { return static_cast<int>(fs::status(game.file(name)).permissions()) & 07777; };
        fs::permissions(game.file("Korin3.EXE"), static_cast<fs::perms>(0751));
        if (with_update_pak) fs::permissions(game.file("Update.PAK"), static_cast<fs::perms>(0640));
        fs::permissions(game.file("INSTALL.DAT"), static_cast<fs::perms>(0444));
        ASSERT_EQ(game.run(), UF_DONE);
        EXPECT_EQ(mode("Korin3.EXE"), 0751);
        EXPECT_EQ(mode("Update.PAK"), with_update_pak ? 0640 : static_cast<int>(0644 & ~mask));
        EXPECT_EQ(mode("INSTALL.DAT"), 0644);
    }
}
#endif

// A payload program whose signature was removed ends in the signing padding.
TEST_F(UpdateTest, APayloadWhoseSignatureWasRemovedIsFound)
{
    Archive a;
    a.entries = good_payload_entries(), a.packed_directory = true;
    const Bytes archive = build(a);
    GameSetup setup;
    // A program part sized so that three bytes of padding end the file 8-byte aligned.
    setup.payload_bytes = appended(minimal_pe(4096 + (17 - archive.size() % 8) % 8), archive);
    ASSERT_EQ((setup.payload_bytes.size() + 3) % 8, 0u);
    setup.payload_bytes.resize(setup.payload_bytes.size() + 3, 0);
    GameFolder game(setup);
    EXPECT_EQ(game.run(), UF_DONE);
}

Entry damaged(Entry e) { return e.data[e.data.size() / 2] ^= 0x55, e; }

Entry with_u32(Entry e, size_t at, int delta) { return put_u32(e.data, at, get_u32(e.data, at) + delta), e; }

TEST_F(UpdateTest, BadPayloadLeavesBothGameFilesAsTheyWere)
{
    const Entry exe = good_payload_entries()[0], pak = good_payload_entries()[1];
    auto entries = [](std::vector<Entry> e) { return [e](GameSetup &s) { s.payload_bytes = payload(e); }; };
    run_cases({
        {"payload file not ending in .exe", [](GameSetup &s) { s.payload_name = "upd.bin"; }, UF_PAYLOAD_DAMAGED},
        {"payload file missing", [](GameSetup &s) { s.write_payload = false; }, UF_PAYLOAD_DAMAGED},
        {"payload trailer pointing at no archive",
         [](GameSetup &s) { put_u32(s.payload_bytes, s.payload_bytes.size() - 4, 100); }, UF_PAYLOAD_DAMAGED},
        {"payload without Korin3.EXE", entries({pak}), UF_PAYLOAD_DAMAGED},
        {"payload without Update.PAK: no new executable alone", entries({exe}), UF_PAYLOAD_DAMAGED},
        {"damaged stream for Korin3.EXE", entries({damaged(exe), pak}), UF_PAYLOAD_DAMAGED},
        {"damaged stream for Update.PAK", entries({exe, damaged(pak)}), UF_PAYLOAD_DAMAGED},
        {"block declaring one byte more", entries({exe, with_u32(pak, 0, 1)}), UF_PAYLOAD_DAMAGED},
        {"block declaring one byte less", entries({with_u32(exe, 0, -1), pak}), UF_PAYLOAD_DAMAGED},
        {"packed size past the stored bytes", entries({exe, with_u32(pak, 4, 1)}), UF_PAYLOAD_DAMAGED},
        {"block declaring nothing over a whole stream", entries({with_u32(exe, 0, -static_cast<int>(get_u32(exe.data, 0))), pak}),
         UF_PAYLOAD_DAMAGED},
        {"entry shorter than a block head", entries({exe, raw_entry("#:\\Update.PAK", "1234567")}),
         UF_PAYLOAD_DAMAGED},
    });
}

TEST_F(UpdateTest, GameFolderThatFitsNoBufferCountsAsMissingAfterThePayloadCheck)
{
    GameFolder game;
    update_set_payload(game.payload_path.c_str());
    std::memset(game_dir, 'x', sizeof game_dir);  // not even terminated
    update_run();
    EXPECT_EQ(update_flags, UF_FAILED);
    expect_nothing_held();
    update_set_payload((game.payload_path + ".gone").c_str());
    update_run();
    EXPECT_EQ(update_flags, UF_PAYLOAD_DAMAGED);
}

Bytes set_u32(Bytes b, size_t at, uint32_t value) { return put_u32(b, at, value), b; }
Entry set_u32(Entry e, size_t at, uint32_t value) { return e.data = set_u32(e.data, at, value), e; }

TEST_F(UpdateTest, RegistrationAppendsAFreshListOrLeavesTheFileAlone)
{
    const Bytes empty = install_list({}), two = install_list({"A.PAK", "B.PAK"});
    Bytes spaced = install_list({"A.PAK"}, 800);
    spaced.push_back('z');
    const std::string long_name(511870, 'n');  // with its terminator the most the slack keeps
    const struct {
        const char *behaviour;
        Bytes list;
        std::optional<Bytes> expected;  // none: left as it was
    } cases[] = {
        {"776 bytes with an empty list become 787", empty, registered(empty, {})},
        {"an empty list's offset is not read", set_u32(empty, 768, 0xFFFFFFFFu), registered(empty, {})},
        {"788 bytes listing A.PAK and B.PAK become 811", two, registered(two, {"A.PAK", "B.PAK"})},
        {"bytes around the list are carried over", spaced, registered(spaced, {"A.PAK"})},
        {"old names of 511871 bytes still fit", install_list({long_name}),
         registered(install_list({long_name}), {long_name})},
        {"one byte more leaves too little room", install_list({long_name + "n"}), std::nullopt},
        {"a list holding UPDATE.PAK", install_list({"A.PAK", "UPDATE.PAK"}), std::nullopt},
        {"a file shorter than the header", Bytes(empty.begin(), empty.end() - 1), std::nullopt},
        {"a negative count", set_u32(two, 772, 0xFFFFFFFFu), std::nullopt},
        {"a list offset past the data", set_u32(two, 768, 788), std::nullopt},
        {"a count beyond the names present", set_u32(two, 772, 3), std::nullopt},
        {"a last name running past the data", Bytes(two.begin(), two.end() - 1), std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.behaviour);
        TempDir dir;
        const std::string path = dir.write("INSTALL.DAT", c.list);
        register_update_pak(path.c_str());
        EXPECT_EQ(read_file(path), c.expected.value_or(c.list));
        EXPECT_EQ(snapshot(dir.path().string()).size(), 1u) << "scratch file left behind";
    }
}

TEST_F(UpdateTest, ExtractedFileIsWholeOrEmptyNeverZeroFilled)
{
    const Bytes data = pattern_bytes(70000, 11), none = bytes_of("(no file)");
    const Entry good = packed_entry("#:\\X", data);
    Entry damaged = good;
    damaged.data[damaged.data.size() - 3] ^= 0x40;  // into the checksum
    const struct {
        const char *behaviour;
        Entry entry;
        Bytes dest;
    } cases[] = {
        {"a sound block is unpacked whole", good, data},
        {"a damaged stream", damaged, {}},
        {"a block declaring more bytes than it holds", set_u32(good, 0, 70001), {}},
        {"a huge declared size", set_u32(good, 0, 0xFFFFFFF0u), {}},
        {"a missing entry creates no file", packed_entry("#:\\Y", data), none},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.behaviour);
        TempDir dir;
        ASSERT_GE(vfs_mount(dir.write("p.exe", payload({c.entry})).c_str(), DISK_READ), 0);
        const std::string dest = dir.file("out.bin");
        EXPECT_EQ(extract_file(dest.c_str(), "#:\\X"), c.dest == data ? 0 : -1);
        EXPECT_EQ(vfs_open_count(), 0);
        vfs_unmount_all();
        EXPECT_EQ(fs::exists(dest) ? read_file(dest) : none, c.dest);
    }
}

TEST_F(UpdateTest, ExtractAllCopiesEveryMatchToDriveAtOrStopsAtAFailure)
{
    TempDir dir;
    std::vector<Entry> entries = good_payload_entries();
    entries.push_back(packed_entry("#:\\B.PAK", new_exe()));
    entries.back().data[20] ^= 0x7F;
    ASSERT_GE(vfs_mount(dir.write("p.exe", payload(entries)).c_str(), DISK_READ), 0);
    Archive target;
    target.first_drive = target.last_drive = '@';
    ASSERT_GE(vfs_mount(dir.write("t.pak", build(target)).c_str(), DISK_READ_WRITE), 0);
    EXPECT_EQ(extract_all("#:\\*.EXE"), 1);
    EXPECT_EQ(extract_all("#:\\*.none"), 0);
    EXPECT_EQ(extract_all("#:\\*.PAK"), 0);
    EXPECT_EQ(vfs_open_count(), 0);
    const int h = vfs_open("@:\\Korin3.EXE", DISK_READ);
    Bytes back(static_cast<size_t>(vfs_size(h)));
    EXPECT_EQ(vfs_read(h, back.data(), static_cast<int>(back.size())), static_cast<int>(back.size()));
    vfs_close(h);
    EXPECT_EQ(back, new_exe());
}

}  // namespace
