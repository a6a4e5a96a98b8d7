// The deliverables as a player meets them: started, their dialog read and
// answered, their one message read and dismissed, the game folder examined.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <thread>
#include <tuple>

#include "tests/e2e/desktop.h"
#include "tests/e2e/game.h"

namespace e2e {
namespace {

const std::string ROOT = "C:\\K3e2e", GAME = ROOT + "\\Game";
constexpr int MESSAGE_TEXT_ID = 0xFFFF;

// The dialog's texts and place, and the one message box that follows the
// confirmation: its caption and text, and the exit code.
void expect_dialog(HWND dialog, const Edition &ed)
{
    for (const auto &[id, key] : {std::pair<int, const char *>{1000, "question"}, {IDOK, "ok"}, {IDCANCEL, "cancel"}})
        EXPECT_EQ(Text{item_text(dialog, id)}, ed.text(key));
    EXPECT_EQ(Text{window_text(dialog)}, ed.text("title"));
    RECT r;
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2) << "not centred";
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2) << "not centred";
}

void expect_message(const std::string &exe, const Edition &ed, const char *message, WPARAM key = 0)
{
    Program program(exe);
    HWND dialog = program.wait_for(Shown::confirm);
    ASSERT_TRUE(dialog) << exe << ": no confirmation dialog";
    expect_dialog(dialog, ed);
    key ? press_key(dialog, key) : click(dialog, IDOK);
    HWND box = program.wait_for(Shown::box);
    ASSERT_TRUE(box) << "no message";
    EXPECT_EQ(Text{window_text(box)}, ed.text("title"));
    EXPECT_EQ(Text{item_text(box, MESSAGE_TEXT_ID)}, ed.text(message));
    click(box, IDOK);
    DWORD code;
    EXPECT_TRUE(program.wait_end(&code)) << exe << " did not end";
    EXPECT_EQ(code, 0u);
}

class Deliverable : public testing::TestWithParam<const Edition *> {
protected:
    void SetUp() override { fresh_root(); }
    void TearDown() override { remove_ini(), remove_tree(ROOT); }
    void fresh_root()
    {
        remove_ini();
        ASSERT_TRUE(remove_tree(ROOT) && CreateDirectoryA(ROOT.c_str(), nullptr));
    }
    const Edition &ed() const { return *GetParam(); }
    // A game folder named in KORIN3.INI.
    void install_game(const std::string &folder, int64_t size_change = 0, std::vector<std::string> markers = {})
    {
        ASSERT_TRUE(make_game(folder, {static_cast<uint32_t>(ed().pak_size + size_change), markers})) << folder;
        ASSERT_TRUE(write_ini(folder));
    }
    // The payload's files, and Update.PAK listed once behind the old names with
    // the first 768 bytes kept.
    // Starts exe, answers OK and gives the text of its one message, dismissed.
    Text answer_ok(const std::string &exe)
    {
        Program program(exe);
        HWND dialog = program.wait_for(Shown::confirm);
        EXPECT_TRUE(dialog) << exe << ": no confirmation dialog";
        if (!dialog) return {};
        click(dialog, IDOK);
        return dismiss_message(program, exe);
    }
    // The text of the program's one message, dismissed, once it has ended.
    static Text dismiss_message(Program &program, const std::string &exe)
    {
        HWND box = program.wait_for(Shown::box);
        EXPECT_TRUE(box) << "no message";
        if (!box) return {};
        const Text said{item_text(box, MESSAGE_TEXT_ID)};
        click(box, IDOK);
        DWORD code;
        EXPECT_TRUE(program.wait_end(&code)) << exe << " did not end";
        return said;
    }
    void expect_updated(const std::string &folder) { expect_updated(folder, ed().payload); }
    void expect_updated(const std::string &folder, const std::string &payload)
    {
        const Snapshot now = snapshot(folder);
        EXPECT_EQ(now.names, (std::vector<std::string>{"INSTALL.DAT", "Korin3.EXE", "Korin3.PAK", "Update.PAK"}));
        for (const auto &[name, bytes] : {std::pair{"Korin3.EXE", now.korin3_exe}, {"Update.PAK", now.update_pak}})
            EXPECT_TRUE(bytes && bytes == read_file(payload + "\\" + name)) << name << " is not the payload's";
        ASSERT_TRUE(now.install_dat);
        EXPECT_EQ(install_list(*now.install_dat), (std::vector<std::string>{"Korin3.PAK", "Music.PAK", "Update.PAK"}));
        const Bytes old = initial_install_dat();
        EXPECT_TRUE(std::equal(old.begin(), old.begin() + 768, now.install_dat->begin())) << "INSTALL.DAT lost its head";
    }
};

TEST_P(Deliverable, UpdateIsAppliedAndASecondRunSaysItAlreadyWas)
{
    // The last character of the second folder ends in 0x5C, the backslash's value.
    const std::string trail_5c = ed().code_page == 950 ? "\xB9\x43\xC0\xB8\xA5\x5C" : "\xD3\xCE\xCF\xB7\xD5\x5C";
    const std::pair<std::string, std::string> cases[] = {
        {"Game", ed().deliverable}, {trail_5c, ed().deliverable}, {"Game", ed().signed_copy}};
    for (const auto &[name, exe] : cases) {
        SCOPED_TRACE(exe + " in " + name);
        fresh_root();
        install_game(ROOT + "\\" + name);
        expect_message(exe, ed(), "msg_done");
        expect_updated(ROOT + "\\" + name);
        EXPECT_EQ(folder_names(ROOT), std::vector<std::string>{name}) << "files went beside the game folder";
        const Snapshot updated = snapshot(ROOT + "\\" + name);
        expect_message(exe, ed(), "msg_already_applied", VK_RETURN);
        EXPECT_TRUE(snapshot(ROOT + "\\" + name) == updated) << "a second run changed the game folder";
    }
}

TEST_P(Deliverable, RefusedOrFailedUpdateSaysWhyAndLeavesTheGameUntouched)
{
    const Bytes program = *read_file(ed().deliverable);
    // The program part, with the digest of its own payload, over the large
    // payload: what swapping the payload of a signed copy would give.
    const Bytes large = *read_file(ed().large);
    const uint32_t base = fixtures::get_u32(program, program.size() - 4);
    ASSERT_EQ(fixtures::get_u32(large, large.size() - 4), base);
    Bytes forged(program.begin(), program.begin() + base);
    forged.insert(forged.end(), large.begin() + base, large.end());
    const struct {
        const char *what;
        int64_t size_change;
        std::vector<std::string> markers;
        std::string copy;  // the program run from a damaged copy
        Bytes bytes;
        bool held;  // Update.PAK open elsewhere, shared with nobody, throughout
        const char *message;
    } cases[] = {
        {"a later update is installed", 0, {"Update07.txt"}, "", {}, false, "msg_newer_installed"},
        {"another game version", 1, {}, "", {}, false, "msg_wrong_version"},
        {"both: the later update is reported", -1, {"Update07.txt"}, "", {}, false, "msg_newer_installed"},
        {"copied under a name not ending in .exe", 0, {}, "upd.bin", program, false, "msg_payload_damaged"},
        {"trailer cut off", 0, {}, "upd_cut.exe", Bytes(program.begin(), program.end() - 4), false, "msg_payload_damaged"},
        {"another payload than its image's digest names", 0, {}, "upd_forged.exe", forged, false, "msg_payload_damaged"},
        {"Update.PAK held for good", 0, {}, "", {}, true, "msg_failed"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fresh_root();
        install_game(GAME, c.size_change, c.markers);
        const Snapshot before = snapshot(GAME);
        ASSERT_TRUE(c.copy.empty() || write_file(ROOT + "\\" + c.copy, c.bytes));
        HANDLE held = c.held ? CreateFileA((GAME + "\\Update.PAK").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                     : nullptr;
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        expect_message(c.copy.empty() ? ed().deliverable : ROOT + "\\" + c.copy, ed(), c.message);
        if (held) CloseHandle(held);
        EXPECT_TRUE(snapshot(GAME) == before) << "the game folder changed";
    }
}

TEST_P(Deliverable, AFileHeldForAMomentIsWaitedForWhileTheDialogAnswers)
{
    const struct {
        const char *name;
        DWORD share;  // how the other program holds it
    } holds[] = {
        {"Update.PAK", 0},               // a backup program
        {"Korin3.EXE", FILE_SHARE_READ},  // a scanner reading the old game
    };
    for (const auto &h : holds) {
        SCOPED_TRACE(h.name);
        fresh_root();
        install_game(GAME);
        Program program(ed().deliverable);
        HWND dialog = program.wait_for(Shown::confirm);
        ASSERT_TRUE(dialog);
        HANDLE held = CreateFileA((GAME + "\\" + h.name).c_str(), GENERIC_READ, h.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        click(dialog, IDOK);
        Sleep(1000);
        DWORD_PTR answer;
        EXPECT_TRUE(SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &answer)) << "not responding while it waits";
        EXPECT_TRUE(IsWindow(dialog) && !IsWindowEnabled(dialog)) << "its buttons act while it waits";
        CloseHandle(held);
        EXPECT_EQ(dismiss_message(program, ed().deliverable), ed().text("msg_done"));
        expect_updated(GAME);
    }
}

// While the dialog waits, someone tries to put another payload in the
// program's place: its file can be neither renamed aside, replaced nor
// opened for writing, and OK installs the payload that was started.
TEST_P(Deliverable, WhileTheDialogWaitsItsFileCanBeNeitherRenamedReplacedNorWritten)
{
    install_game(GAME);
    const std::string exe = ROOT + "\\upd.exe", aside = ROOT + "\\upd-aside.exe", other = ROOT + "\\other.exe";
    const auto wide = [](const std::string &ascii) { return std::wstring(ascii.begin(), ascii.end()); };
    ASSERT_TRUE(write_file(exe, *read_file(ed().deliverable)) && write_file(other, *read_file(ed().large)));
    Program program(exe);
    HWND dialog = program.wait_for(Shown::confirm);
    ASSERT_TRUE(dialog);

    EXPECT_FALSE(MoveFileW(wide(exe).c_str(), wide(aside).c_str())) << "renamed aside";
    const DWORD rename_error = GetLastError();
    EXPECT_FALSE(MoveFileExW(wide(other).c_str(), wide(exe).c_str(), MOVEFILE_REPLACE_EXISTING)) << "replaced";
    const HANDLE writer = CreateFileW(wide(exe).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "opened for writing";
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    // Had the rename gone through, the other payload would now hold the name.
    if (GetFileAttributesA(aside.c_str()) != INVALID_FILE_ATTRIBUTES) CopyFileA(other.c_str(), exe.c_str(), TRUE);
    std::printf("e2e: %s: renaming the waiting program's file failed with error %lu\n", ed().id.c_str(), rename_error);

    click(dialog, IDOK);
    EXPECT_EQ(dismiss_message(program, exe), ed().text("msg_done"));
    expect_updated(GAME);
}

// A virus scanner as many are: each file that appears in the game folder is
// opened at once and held for a moment, shared for reading only, so that it
// can be neither written, renamed nor deleted meanwhile.
TEST_P(Deliverable, AScannerHoldingEachNewFileForAMomentDelaysTheUpdateOnly)
{
    install_game(GAME);
    std::set<std::string> seen;
    for (const std::string &name : folder_names(GAME)) seen.insert(name);
    std::atomic<bool> stop{false};
    int scanned = 0;
    std::thread scanner([&] {
        while (!stop) {
            for (const std::string &name : folder_names(GAME)) {
                if (seen.count(name)) continue;
                const HANDLE file = CreateFileA((GAME + "\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, 0, nullptr);
                if (file == INVALID_HANDLE_VALUE) continue;  // still being written: next look
                seen.insert(name), ++scanned;
                Sleep(300);
                CloseHandle(file);
            }
            Sleep(1);
        }
    });
    const Text said = answer_ok(ed().large);
    stop = true;
    scanner.join();
    EXPECT_EQ(said, ed().text("msg_done"));
    expect_updated(GAME, ed().large_payload);
    std::printf("e2e: %s: the scanner held %d new files\n", ed().id.c_str(), scanned);
    EXPECT_GE(scanned, 2) << "the scanner caught too few of the new files";
}

TEST_P(Deliverable, TheGameRunningIsNotUpdatedUnderneathItself)
{
    install_game(GAME);
    const std::string game_exe = GAME + "\\Korin3.EXE";
    const std::optional<Bytes> standin = read_file(ed().payload + "\\Korin3.EXE");
    ASSERT_TRUE(standin && write_file(game_exe, *standin));
    const Snapshot before = snapshot(GAME);
    Program game(game_exe);
    ASSERT_TRUE(game.wait_for(Shown::box)) << "the stand-in game did not start";
    expect_message(ed().deliverable, ed(), "msg_failed");
    EXPECT_TRUE(snapshot(GAME) == before) << "the game folder changed under the running game";
}

// Ended from outside at moments spread over an update (the task manager, a
// power cut as the program sees it): right after OK, and from the moment its
// journal appears on. Each game file is the old or the new one at every
// instant, and the next run leaves the game updated with nothing beside it.
TEST_P(Deliverable, EndedMidUpdateTheNextRunLeavesTheGameUpdated)
{
    constexpr int RIGHT_AFTER_OK = -1;
    const std::string journal = GAME + "\\Update.JNL";
    int midway = 0, moments = 0;
    for (const int delay : {RIGHT_AFTER_OK, 0, 10, 30, 60, 100, 200, 400}) {
        SCOPED_TRACE("ended " + std::to_string(delay) + " ms after the journal appeared");
        fresh_root();
        install_game(GAME);
        const Snapshot before = snapshot(GAME);
        {
            Program program(ed().large);
            HWND dialog = program.wait_for(Shown::confirm);
            ASSERT_TRUE(dialog);
            click(dialog, IDOK);
            if (delay != RIGHT_AFTER_OK) {
                for (const DWORD start = GetTickCount();
                     GetFileAttributesA(journal.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < 10000;)
                    Sleep(0);
                Sleep(static_cast<DWORD>(delay));
            }
            program.kill();
        }
        ++moments;
        const Snapshot stopped = snapshot(GAME);
        for (const auto &[name, now, was] : {std::tuple{"Korin3.EXE", stopped.korin3_exe, before.korin3_exe},
                                             {"Update.PAK", stopped.update_pak, before.update_pak}})
            EXPECT_TRUE(now && (now == was || now == read_file(ed().large_payload + "\\" + name)))
                << name << " is neither the old file nor the new one";
        midway += stopped.names != before.names;  // a journal, a staged or a set-aside file: caught in the act

        const Text said = answer_ok(ed().large);
        EXPECT_TRUE(said == ed().text("msg_done") || said == ed().text("msg_already_applied")) << said.bytes;
        expect_updated(GAME, ed().large_payload);
    }
    std::printf("e2e: %s ended at %d moments, %d of them inside the update\n", ed().id.c_str(), moments, midway);
    EXPECT_GE(midway, 3) << "too few of the moments fell inside the update";
}

TEST_P(Deliverable, CancellingShowsNothingAndChangesNothing)
{
    install_game(GAME);
    const Snapshot before = snapshot(GAME);
    for (const auto &[what, act] : {std::pair<const char *, void (*)(HWND)>{"Cancel button", [](HWND d) { click(d, IDCANCEL); }},
                                    {"Esc key", [](HWND d) { press_key(d, VK_ESCAPE); }}, {"close box", close_box}}) {
        SCOPED_TRACE(what);
        Program program(ed().deliverable);
        HWND dialog = program.wait_for(Shown::confirm);
        ASSERT_TRUE(dialog);
        act(dialog);
        DWORD code;
        EXPECT_TRUE(program.ends_showing_nothing(&code, dialog));
        EXPECT_EQ(code, 0u);
    }
    EXPECT_TRUE(snapshot(GAME) == before) << "the game folder changed";
}

TEST_P(Deliverable, WithoutIniOkAsksForTheFolderUntilCancelledAndTheDialogStays)
{
    Program program(ed().deliverable);
    HWND dialog = program.wait_for(Shown::confirm);
    ASSERT_TRUE(dialog);
    click(dialog, IDOK);
    HWND browser = program.wait_for(Shown::browser);
    ASSERT_TRUE(browser) << "no folder browser";
    EXPECT_TRUE(has_static_text(browser, ed().text("browse_prompt").bytes)) << "the browser lacks the prompt";

    // The desktop holds no game: a warning, then the browser again.
    ASSERT_TRUE(choose_top_folder(browser));
    click(browser, IDOK);
    HWND warning = program.wait_for(Shown::box);
    ASSERT_TRUE(warning) << "no warning after a folder without the game";
    EXPECT_EQ(Text{window_text(warning)}, ed().text("title"));
    EXPECT_EQ(Text{item_text(warning, MESSAGE_TEXT_ID)}, ed().text("wrong_folder"));
    click(warning, IDOK);
    EXPECT_TRUE(program.wait_gone(warning));
    ASSERT_TRUE(browser = program.wait_for(Shown::browser)) << "the browser did not come back";

    click(browser, IDCANCEL);
    EXPECT_TRUE(program.wait_gone(browser));
    bool stays = false;
    for (int i = 0; i < 1000 && !(stays = IsWindowVisible(dialog) && IsWindowEnabled(dialog)); ++i) Sleep(30);
    EXPECT_TRUE(stays) << "the dialog did not stay open";
    click(dialog, IDCANCEL);
    DWORD code;
    EXPECT_TRUE(program.ends_showing_nothing(&code, dialog));
    EXPECT_EQ(code, 0u);
}

INSTANTIATE_TEST_SUITE_P(Editions, Deliverable, testing::ValuesIn(testable_editions()),
                         [](const testing::TestParamInfo<const Edition *> &info) { return info.param->id; });

// On a system whose locale is none of the editions' (an English Windows),
// each edition still shows its own texts: read with the wide calls and
// compared with its table read in its own code page.
class AnyLocale : public Deliverable {
protected:
    void expect_wide_message(const std::string &exe, const char *message)
    {
        Program program(exe);
        HWND dialog = program.wait_for(Shown::confirm);
        ASSERT_TRUE(dialog) << exe << ": no confirmation dialog";
        for (const auto &[id, key] : {std::pair<int, const char *>{1000, "question"}, {IDOK, "ok"}, {IDCANCEL, "cancel"}})
            EXPECT_EQ(item_wide(dialog, id), ed().wide(key)) << key;
        EXPECT_EQ(window_wide(dialog), ed().wide("title"));
        click(dialog, IDOK);
        HWND box = program.wait_for(Shown::box);
        ASSERT_TRUE(box) << "no message";
        EXPECT_EQ(window_wide(box), ed().wide("title"));
        EXPECT_EQ(item_wide(box, MESSAGE_TEXT_ID), ed().wide(message)) << message;
        click(box, IDOK);
        DWORD code;
        EXPECT_TRUE(program.wait_end(&code)) << exe << " did not end";
    }
};

TEST_P(AnyLocale, TheDialogAndEveryResultReadAsTheEditionsTable)
{
    install_game(GAME);
    expect_wide_message(ed().deliverable, "msg_done");
    expect_wide_message(ed().deliverable, "msg_already_applied");
    const Bytes program = *read_file(ed().deliverable);
    const struct {
        const char *message;
        int64_t size_change;
        std::vector<std::string> markers;
        bool copy_as_bin, held, journal;
    } cases[] = {
        {"msg_newer_installed", 0, {"Update07.txt"}, false, false, false},
        {"msg_wrong_version", 1, {}, false, false, false},
        {"msg_payload_damaged", 0, {}, true, false, false},
        {"msg_failed", 0, {}, false, true, false},
        {"msg_game_damaged", 0, {}, false, false, true},  // a journal that is none
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        fresh_root();
        install_game(GAME, c.size_change, c.markers);
        const std::string copy = ROOT + "\\upd.bin";
        ASSERT_TRUE(!c.copy_as_bin || write_file(copy, program));
        ASSERT_TRUE(!c.journal || write_file(GAME + "\\Update.JNL", fixtures::bytes_of("not a journal\r\n")));
        HANDLE held = c.held ? CreateFileA((GAME + "\\Update.PAK").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                             : nullptr;
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        expect_wide_message(c.copy_as_bin ? copy : ed().deliverable, c.message);
        if (held) CloseHandle(held);
    }
}

// Run only where the system's code page is none of theirs (see run.sh).
INSTANTIATE_TEST_SUITE_P(Editions, AnyLocale, testing::ValuesIn(foreign_editions()),
                         [](const testing::TestParamInfo<const Edition *> &info) { return info.param->id; });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Deliverable);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(AnyLocale);

TEST(SingleCopy, SecondCopyOfAnEditionEndsSilentlyWhileAnotherEditionRuns)
{
    if (testable_editions().empty()) GTEST_SKIP() << "no edition of this code page";
    const Edition &mine = *testable_editions().front();
    const Edition *other = nullptr;
    for (const Edition &e : all_editions())
        if (&e != &mine && (!other || e.code_page == mine.code_page)) other = &e;
    if (!other) GTEST_SKIP() << "one edition only";

    Program first(mine.deliverable);
    HWND dialog = first.wait_for(Shown::confirm);
    ASSERT_TRUE(dialog);
    DWORD code;
    {
        Program again(mine.deliverable);
        EXPECT_TRUE(again.ends_showing_nothing(&code)) << "a second copy of " << mine.id << " showed a window";
        EXPECT_EQ(code, 0u);
    }
    Program another(other->deliverable);
    HWND their = another.wait_for(Shown::confirm);
    EXPECT_TRUE(their) << other->id << " took " << mine.id << " for a copy of itself";
    for (const auto &[program, window] : {std::pair<const Program *, HWND>{&another, their}, {&first, dialog}}) {
        EXPECT_TRUE(IsWindowVisible(window));
        click(window, IDCANCEL);
        EXPECT_TRUE(program->ends_showing_nothing(&code, window));
        EXPECT_EQ(code, 0u);
    }
}

}  // namespace
}  // namespace e2e
