// The update program's Windows front end: the main window, the confirmation
// dialog, the game folder and the result message. The update procedure
// itself (driver/update.h) knows nothing of windows.
#pragma once

#include <windows.h>

#include "driver/edition.h"
#include "driver/update.h"

// Resource ids, shared with resources/upd.rc.
enum {
    IDD_CONFIRM = 101,
    IDI_MAIN = 102,
    IDC_QUESTION = 1000,
};

// The main window: a 1 x 1 top-level window of class "UPD_AUTORUN" titled with
// the edition's title, found by a second copy's probe and owning the folder
// browser and its warning box. Null until WinMain has created it; kept for
// the life of the process.
extern HWND main_wnd;

LRESULT CALLBACK main_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Restricts the DLL search to the system folder, so that no DLL lying beside
// the program is loaded; the first call of WinMain (dll_search.cpp).
void dll_search_system_only();

// An edition's text for the wide-character calls, converted at run time from
// the edition's code page, so that it reads right on a system of any locale.
// File names are not converted: they stay in the system's ANSI code page, as
// the game itself uses them.
constexpr int WIDE_TEXT_SIZE = 512;
struct WideText {
    wchar_t text[WIDE_TEXT_SIZE];
    explicit WideText(const char *edition_text);
    operator const wchar_t *() const { return text; }
};

// Shows text in a message box with the edition's title, as every message of
// the program is shown: owned by owner (null: none), with style.
void show_box(HWND owner, const char *text, UINT style);

// The message for an outcome: the text of the first bit set in the order
// UF_DONE, UF_ALREADY_APPLIED, UF_NEWER_INSTALLED, UF_WRONG_VERSION,
// UF_GAME_DAMAGED, UF_PAYLOAD_DAMAGED, UF_FAILED; null when none is set.
const char *result_text(UpdateFlags flags, const EditionTexts &texts);

// ---- Game folder (game_folder.cpp) ------------------------------------------
// Buffers: the Windows folder 128 bytes, the configuration path 128 bytes,
// the test path of game_dir_has_exe 260 bytes, game_dir 260 bytes. A value
// that does not fit is refused, never cut: the folder then counts as not
// holding the game, and the user is asked with the folder browser.

// Reads GAMEDIR of section INI in "KORIN3.INI" of the Windows folder into
// game_dir; game_dir keeps its value when there is no such file, section or
// key, or when a value does not fit.
void game_dir_discover();
// The same with the Windows folder given.
void game_dir_read_config(const char *windows_dir);
// 1 when "Korin3.EXE" in that folder opens for reading as the update opens
// it (file_opens), and its full path fits PATH_BUFFER_SIZE; else 0.
int game_dir_has_exe(const char *folder);

// ---- Confirmation dialog (dialog.cpp) -----------------------------------------

// Dialog procedure of IDD_CONFIRM: OK makes sure that game_dir holds the
// game (asking with the folder browser as often as needed), runs update_run
// and ends the dialog; Cancel, Esc and the close box end it without a run.
INT_PTR CALLBACK confirm_dlg_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The shell's folder browser with the prompt as its title. Nonzero when the
// user chose a folder that has a file-system path, which is then in path
// (at least 260 bytes); 0 when cancelled or the choice has no path.
int ui_browse_folder(HWND owner, char *path, const char *prompt);
