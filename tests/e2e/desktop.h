// Drives a deliverable's windows from outside, as a user would. Windows are
// found by the process that owns them and the controls they hold; buttons and
// keys are posted, never sent, so the driver never waits inside the program
// (its OK handler runs the whole update before it returns). Texts are read
// with the ANSI calls, in this process's code page, which is the edition's.
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

enum class Shown {
    confirm,  // control 1000 holds the question
    box,      // a message box: static control 0xFFFF holds the text
    browser,  // the folder browser: a tree of folders
};

// One started program; ended if still running when the object goes, so a
// failing test leaves nothing behind.
class Program {
public:
    explicit Program(const std::string &exe);
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;
    bool started() const { return process_.hProcess != nullptr; }

    // The first visible window of that kind; nullptr when the program ends or 30 s pass first.
    HWND wait_for(Shown kind) const;
    bool wait_gone(HWND window) const;
    // Waits for the end, false when it showed a window (but `except`, already
    // dismissed) or did not end in time; the exit code goes to *code.
    bool ends_showing_nothing(DWORD *code, HWND except = nullptr) const;
    bool wait_end(DWORD *code) const;
    void kill() const;  // as the task manager ends it: no cleanup of its own

private:
    PROCESS_INFORMATION process_{};
};

std::string utf8(const std::string &text);  // from this process's code page
std::string window_text(HWND window);
std::string item_text(HWND dialog, int id);
std::wstring window_wide(HWND window);  // as the wide calls read it, in any locale
std::wstring item_wide(HWND dialog, int id);
bool has_static_text(HWND dialog, const std::string &text);  // a static control showing exactly `text`
bool choose_top_folder(HWND browser);                        // the desktop; false without a tree
void click(HWND dialog, int id);                             // as the button reports it
void press_key(HWND dialog, WPARAM key);                     // on the focus, as the dialog's loop sees it
void close_box(HWND window);

}  // namespace e2e
