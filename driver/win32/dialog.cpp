// The confirmation dialog and the folder browser.
#include <shlobj.h>

#include "driver/retry.h"
#include "driver/win32/app.h"

static void centre_on_screen(HWND dialog)
{
    RECT r;
    GetWindowRect(dialog, &r);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

// Asks until game_dir holds the game; false when the user cancelled the
// browser. The browser and the warning belong to the main window, so the
// dialog is disabled meanwhile: a second OK or a Cancel pressed behind the
// browser would otherwise run the update twice, or after the user cancelled.
static bool choose_game_dir(HWND dialog)
{
    EnableWindow(dialog, FALSE);
    bool chosen = false;
    while (ui_browse_folder(main_wnd, game_dir, edition.browse_prompt)) {
        if (game_dir_has_exe(game_dir)) {
            chosen = true;
            break;
        }
        show_box(main_wnd, edition.wrong_folder, MB_OK);
    }
    EnableWindow(dialog, TRUE);
    if (!chosen) SetForegroundWindow(dialog);
    return chosen;
}

// Passes a wait between two tries of a held file with the thread's messages
// flowing, so that the system does not take the dialog for hung. Its buttons
// are disabled meanwhile; a quit request is left for the dialog's own loop.
static void wait_answering(int ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const DWORD spent = GetTickCount() - start;
        if (spent >= static_cast<DWORD>(ms)) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms) - spent, QS_ALLINPUT);
    }
}

INT_PTR CALLBACK confirm_dlg_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    // While the update waits for a file that another program holds, the
    // dialog's messages keep flowing (so that the system does not take it
    // for hung), but no button of it may act.
    static bool updating = false;
    if (message == WM_INITDIALOG) {
        centre_on_screen(dialog);
        SetWindowTextW(dialog, WideText(edition.title));
        SetDlgItemTextW(dialog, IDC_QUESTION, WideText(edition.question));
        SetDlgItemTextW(dialog, IDOK, WideText(edition.ok));
        SetDlgItemTextW(dialog, IDCANCEL, WideText(edition.cancel));
        return TRUE;  // the system puts the focus on the default button
    }
    if (message != WM_COMMAND || updating) return FALSE;
    if (wparam == IDCANCEL) {
        EndDialog(dialog, 1);
        return TRUE;
    }
    if (wparam == IDOK) {
        if (!game_dir_has_exe(game_dir) && !choose_game_dir(dialog)) return FALSE;
        updating = true;
        EnableWindow(dialog, FALSE);
        retry_set_wait(wait_answering);
        update_run();
        retry_set_wait(nullptr);
        EnableWindow(dialog, TRUE);
        updating = false;
        EndDialog(dialog, 1);
    }
    return FALSE;
}

int ui_browse_folder(HWND owner, char *path, const char *prompt)
{
    // The prompt in wide characters; the path in the ANSI code page, as
    // every file name of the program.
    const WideText title(prompt);
    wchar_t display_name[MAX_PATH];
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.pszDisplayName = display_name;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST items = SHBrowseForFolderW(&info);
    if (!items) return 0;
    const int found = SHGetPathFromIDListA(items, path);
    IMalloc *allocator;
    if (SUCCEEDED(CoGetMalloc(MEMCTX_TASK, &allocator))) {
        allocator->Free(items);
        allocator->Release();
    }
    return found;
}
