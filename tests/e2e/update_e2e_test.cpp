// The deliverables as a player meets them: started, their dialog read and
// answered, their one message read and dismissed, the game folder examined.
#include <windows.h>

#include <gtest/gtest.h>

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
    void expect_updated(const std::string &folder)
    {
        const Snapshot now = snapshot(folder);
        EXPECT_EQ(now.names, (std::vector<std::string>{"INSTALL.DAT", "Korin3.EXE", "Korin3.PAK", "Update.PAK"}));
        for (const auto &[name, bytes] : {std::pair{"Korin3.EXE", now.korin3_exe}, {"Update.PAK", now.update_pak}})
            EXPECT_TRUE(bytes && bytes == read_file(ed().payload + "\\" + name)) << name << " is not the payload's";
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
        HWND box = program.wait_for(Shown::box);
        ASSERT_TRUE(box) << "no message";
        EXPECT_EQ(Text{item_text(box, MESSAGE_TEXT_ID)}, ed().text("msg_done"));
        click(box, IDOK);
        DWORD code;
        EXPECT_TRUE(program.wait_end(&code));
        expect_updated(GAME);
    }
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

TEST(SingleCopy, SecondCopyOfAnEditionEndsSilentlyWhileAnotherEditionRuns)
{
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
