// Drives a deliverable's windows from outside, as a user would. Windows are
// found by the process that owns them and by the controls they hold; buttons
// and keys are posted, never sent, so the driver never waits inside the
// program (its OK handler runs the whole update before it returns).
//
// Texts are read with the ANSI calls, so they arrive in this process's code
// page; the driver runs with the edition's code page, which makes them the
// very bytes the program stored.
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

// What a top-level window of the program is, told by its controls.
enum class Shown {
    confirm,  // the confirmation dialog: control 1000 holds the question
    box,      // a message box: a static control 0xFFFF holds the text
    browser,  // the folder browser: a tree of folders
};

// One started program. A program still running when the object goes is
// ended, so a failing test leaves nothing behind for the next one.
class Program {
public:
    explicit Program(const std::string &exe);
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    bool started() const { return process_.hProcess != nullptr; }
    DWORD pid() const { return process_.dwProcessId; }

    // The first visible window of that kind, waited for; nullptr when the
    // program ends or the time runs out first.
    HWND wait_for(Shown kind, DWORD timeout_ms = 30000) const;
    // Waits until no visible window of that kind is left (false on timeout).
    bool wait_gone(HWND window, DWORD timeout_ms = 30000) const;
    // Waits for the end while watching that the program shows no window
    // (`except` aside, a window already dismissed that may still be closing).
    // False when it showed one or did not end in time; the exit code goes to
    // *code either way (STILL_ACTIVE while running).
    bool ends_showing_nothing(DWORD *code, HWND except = nullptr, DWORD timeout_ms = 30000) const;
    // Waits for the end; false on timeout.
    bool wait_end(DWORD *code, DWORD timeout_ms = 30000) const;

private:
    HWND find(Shown kind, HWND except) const;
    PROCESS_INFORMATION process_{};
};

std::string window_text(HWND window);
std::string item_text(HWND dialog, int id);
// True when a static control anywhere in the dialog shows exactly `text`.
bool has_static_text(HWND dialog, const std::string &text);

// Selects the folder browser's top item (the desktop); false without one.
bool choose_top_folder(HWND browser);
// A click on the dialog's button `id`, as the button reports it.
void click(HWND dialog, int id);
// A key pressed and released on the control that has the focus, as the
// dialog manager's own loop sees it.
void press_key(HWND dialog, WPARAM key);
// The close box of the caption.
void close_box(HWND window);

}  // namespace e2e
