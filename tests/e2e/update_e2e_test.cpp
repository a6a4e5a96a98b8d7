// The deliverables as a player meets them: started, their dialog read and
// answered, their one message read and dismissed, the game folder examined.
// Every run also checks the dialog's texts and place and the exit code 0.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/e2e/desktop.h"
#include "tests/e2e/editions.h"
#include "tests/e2e/game.h"

namespace e2e {
namespace {

const std::string ROOT = "C:\\K3e2e";
constexpr int MESSAGE_TEXT_ID = 0xFFFF;

// Polls `done` for up to 30 s.
template <class Done>
bool eventually(Done done)
{
    for (int i = 0; i < 1000; ++i, Sleep(30))
        if (done()) return true;
    return false;
}

void expect_dialog(HWND dialog, const Edition &ed)
{
    EXPECT_EQ(Text{window_text(dialog)}, ed.text("title"));
    EXPECT_EQ(Text{item_text(dialog, 1000)}, ed.text("question"));
    EXPECT_EQ(Text{item_text(dialog, IDOK)}, ed.text("ok"));
    EXPECT_EQ(Text{item_text(dialog, IDCANCEL)}, ed.text("cancel"));
    RECT r;
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2) << "not centred";
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2) << "not centred";
}

// What a confirmed run showed: the one message box (empty when none) and
// how the program ended.
struct Outcome {
    Text caption, message;
    DWORD exit_code = STILL_ACTIVE;
};

enum class Confirm { ok_button, enter_key };

Outcome confirm_run(const std::string &exe, const Edition &ed, Confirm how = Confirm::ok_button)
{
    Outcome out;
    Program program(exe);
    HWND dialog = program.wait_for(Shown::confirm);
    if (!dialog) {
        ADD_FAILURE() << exe << ": no confirmation dialog";
        return out;
    }
    expect_dialog(dialog, ed);
    if (how == Confirm::ok_button)
        click(dialog, IDOK);
    else
        press_key(dialog, VK_RETURN);
    if (HWND box = program.wait_for(Shown::box)) {
        out = {{window_text(box)}, {item_text(box, MESSAGE_TEXT_ID)}};
        EXPECT_NE(GetDlgItem(box, IDOK), nullptr) << "the message box has no OK button";
        click(box, IDOK);
    }
    EXPECT_TRUE(program.wait_end(&out.exit_code)) << exe << " did not end";
    return out;
}

class Deliverable : public testing::TestWithParam<const Edition *> {
protected:
    void SetUp() override
    {
        remove_ini();
        ASSERT_TRUE(remove_tree(ROOT));
        ASSERT_TRUE(CreateDirectoryA(ROOT.c_str(), nullptr));
    }
    void TearDown() override
    {
        remove_ini();
        remove_tree(ROOT);
    }

    const Edition &ed() const { return *GetParam(); }
    // A game folder the edition fits, named in KORIN3.INI.
    void install_game(const std::string &folder, GameSpec spec)
    {
        ASSERT_TRUE(make_game(folder, spec)) << folder;
        ASSERT_TRUE(write_ini(folder));
    }
    GameSpec fitting() const { return {ed().pak_size, {}}; }

    // The folder holds the payload's files, and the list names Update.PAK
    // once behind the old names, its first 768 bytes kept.
    void expect_updated(const std::string &folder)
    {
        const auto payload = read_payload(ed().deliverable);
        ASSERT_TRUE(payload) << "no payload in " << ed().deliverable;
        const Snapshot now = snapshot(folder);
        EXPECT_EQ(now.names, (std::vector<std::string>{"INSTALL.DAT", "Korin3.EXE", "Korin3.PAK", "Update.PAK"}));
        EXPECT_TRUE(now.korin3_exe == payload->korin3_exe) << "Korin3.EXE is not the payload's";
        EXPECT_TRUE(now.update_pak == payload->update_pak) << "Update.PAK is not the payload's";
        ASSERT_TRUE(now.install_dat);
        EXPECT_EQ(install_list(*now.install_dat),
                  (std::vector<std::string>{"Korin3.PAK", "Music.PAK", "Update.PAK"}));
        const Bytes old = initial_install_dat();
        EXPECT_TRUE(std::equal(old.begin(), old.begin() + 768, now.install_dat->begin()))
            << "INSTALL.DAT lost its leading bytes";
    }
};

TEST_P(Deliverable, UpdateIsAppliedAndASecondRunSaysItAlreadyWas)
{
    const std::string game = ROOT + "\\Game";
    install_game(game, fitting());

    const Outcome first = confirm_run(ed().deliverable, ed());
    EXPECT_EQ(first.caption, ed().text("title"));
    EXPECT_EQ(first.message, ed().text("msg_done"));
    EXPECT_EQ(first.exit_code, 0u);
    expect_updated(game);

    const Snapshot updated = snapshot(game);
    const Outcome second = confirm_run(ed().deliverable, ed(), Confirm::enter_key);
    EXPECT_EQ(second.caption, ed().text("title"));
    EXPECT_EQ(second.message, ed().text("msg_already_applied"));
    EXPECT_EQ(second.exit_code, 0u);
    EXPECT_TRUE(snapshot(game) == updated) << "a second run changed the game folder";
}

TEST_P(Deliverable, GameTheUpdateDoesNotFitIsLeftUntouched)
{
    struct Case {
        const char *what;
        int64_t size_change;
        std::vector<std::string> markers;
        const char *message;
    };
    const Case cases[] = {
        {"a later update is installed", 0, {"Update07.txt"}, "msg_newer_installed"},
        {"another game version", 1, {}, "msg_wrong_version"},
        {"both: the later update is reported", -1, {"Update07.txt"}, "msg_newer_installed"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string game = ROOT + "\\" + std::to_string(&c - cases);
        install_game(game, {static_cast<uint32_t>(ed().pak_size + c.size_change), c.markers});
        const Snapshot before = snapshot(game);

        const Outcome out = confirm_run(ed().deliverable, ed());
        EXPECT_EQ(out.caption, ed().text("title"));
        EXPECT_EQ(out.message, ed().text(c.message));
        EXPECT_EQ(out.exit_code, 0u);
        EXPECT_TRUE(snapshot(game) == before) << "the game folder changed";
    }
}

TEST_P(Deliverable, DamagedPayloadIsReportedAndTheGameLeftUntouched)
{
    const auto program = read_file(ed().deliverable);
    ASSERT_TRUE(program);
    struct Case {
        const char *what;
        std::string copy;
        Bytes bytes;
    };
    const Case cases[] = {
        {"copied under a name not ending in .exe", ROOT + "\\upd.bin", *program},
        {"trailer cut off", ROOT + "\\upd_cut.exe", Bytes(program->begin(), program->end() - 4)},
    };
    const std::string game = ROOT + "\\Game";
    install_game(game, fitting());
    const Snapshot before = snapshot(game);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(write_file(c.copy, c.bytes));
        const Outcome out = confirm_run(c.copy, ed());
        EXPECT_EQ(out.message, ed().text("msg_payload_damaged"));
        EXPECT_EQ(out.exit_code, 0u);
        EXPECT_TRUE(snapshot(game) == before) << "the game folder changed";
    }
}

TEST_P(Deliverable, CancellingShowsNothingAndChangesNothing)
{
    struct Case {
        const char *what;
        void (*act)(HWND dialog);
    };
    const Case cases[] = {
        {"Cancel button", [](HWND d) { click(d, IDCANCEL); }},
        {"Esc key", [](HWND d) { press_key(d, VK_ESCAPE); }},
        {"close box", [](HWND d) { close_box(d); }},
    };
    const std::string game = ROOT + "\\Game";
    install_game(game, fitting());
    const Snapshot before = snapshot(game);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Program program(ed().deliverable);
        HWND dialog = program.wait_for(Shown::confirm);
        ASSERT_TRUE(dialog);
        c.act(dialog);
        DWORD code;
        EXPECT_TRUE(program.ends_showing_nothing(&code, dialog));
        EXPECT_EQ(code, 0u);
    }
    EXPECT_TRUE(snapshot(game) == before) << "the game folder changed";
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
    browser = program.wait_for(Shown::browser);
    ASSERT_TRUE(browser) << "the browser did not come back";

    click(browser, IDCANCEL);
    EXPECT_TRUE(program.wait_gone(browser));
    EXPECT_TRUE(eventually([&] { return IsWindowVisible(dialog) && IsWindowEnabled(dialog); }))
        << "the dialog did not stay open";
    click(dialog, IDCANCEL);
    DWORD code;
    EXPECT_TRUE(program.ends_showing_nothing(&code, dialog));
    EXPECT_EQ(code, 0u);
}

TEST_P(Deliverable, RunningGameMakesTheUpdateFailWithBothFilesKept)
{
    const std::string game = ROOT + "\\Game";
    install_game(game, fitting());
    const Snapshot before = snapshot(game);

    // As the running game holds it: open, shared with nobody.
    HANDLE held = CreateFileA((game + "\\Update.PAK").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const Outcome out = confirm_run(ed().deliverable, ed());
    CloseHandle(held);

    EXPECT_EQ(out.message, ed().text("msg_failed"));
    EXPECT_EQ(out.exit_code, 0u);
    EXPECT_TRUE(snapshot(game) == before) << "the game folder changed";
}

TEST_P(Deliverable, FolderNameEndingInTrailByte5CIsFoundThroughIniAndUpdated)
{
    // The last character's second byte is 0x5C, the backslash's value.
    const std::string name = ed().code_page == 950 ? "\xB9\x43\xC0\xB8\xA5\x5C"   // 遊戲功 in Big5
                                                   : "\xD3\xCE\xCF\xB7\xD5\x5C";  // 游戏誠 in GBK
    const std::string game = ROOT + "\\" + name;
    install_game(game, fitting());

    const Outcome out = confirm_run(ed().deliverable, ed());
    EXPECT_EQ(out.message, ed().text("msg_done"));
    EXPECT_EQ(out.exit_code, 0u);
    expect_updated(game);
    EXPECT_EQ(folder_names(ROOT), std::vector<std::string>{name}) << "files went beside the game folder";
}

TEST_P(Deliverable, SignedCopyStillUpdates)
{
    const std::string game = ROOT + "\\Game";
    install_game(game, fitting());
    const Outcome out = confirm_run(ed().signed_copy, ed());
    EXPECT_EQ(out.message, ed().text("msg_done"));
    EXPECT_EQ(out.exit_code, 0u);
    expect_updated(game);
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
    {
        Program another(other->deliverable);
        HWND their = another.wait_for(Shown::confirm);
        EXPECT_TRUE(their) << other->id << " took " << mine.id << " for a copy of itself";
        click(their, IDCANCEL);
        EXPECT_TRUE(another.ends_showing_nothing(&code, their));
        EXPECT_EQ(code, 0u);
    }
    EXPECT_TRUE(IsWindowVisible(dialog)) << "the first copy's dialog went away";
    click(dialog, IDCANCEL);
    EXPECT_TRUE(first.ends_showing_nothing(&code, dialog));
    EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace e2e
