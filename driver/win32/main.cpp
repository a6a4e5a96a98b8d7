// Program entry: refuses a second copy of the same edition, creates the main
// window, finds the game folder, runs the confirmation dialog (whose OK runs
// the update) and reports the outcome in one message box. The exit code is
// always 0.
#include "driver/win32/app.h"

#include "driver/payload.h"

static const wchar_t WINDOW_CLASS[] = L"UPD_AUTORUN";

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show)
{
    // Before anything can load a DLL by name.
    dll_search_system_only();
    // Kept open from here on, so that nobody can write, rename or replace the
    // file while the dialog waits: the payload installed is the one started.
    char self[PATH_BUFFER_SIZE];
    cmdline_arg("", 0, self);
    payload_open(self);

    // Class and title together: a copy of another edition is not found.
    const WideText title(edition.title);
    if (FindWindowW(WINDOW_CLASS, title)) return 0;
    if (previous) {
        show_box(nullptr, ">> Cannot execute again <<", MB_TASKMODAL);
        return 0;
    }

    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = main_wnd_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAIN));
    window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    window_class.lpszClassName = WINDOW_CLASS;
    if (!RegisterClassW(&window_class)) return 0;

    main_wnd = CreateWindowExW(0, WINDOW_CLASS, title, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    if (!main_wnd) return 0;
    ShowWindow(main_wnd, show);

    // The folder browser is a shell object: it needs COM, and OLE for its
    // drag and drop.
    const bool ole = SUCCEEDED(OleInitialize(nullptr));
    game_dir_discover();
    update_flags = 0;
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_CONFIRM), main_wnd, confirm_dlg_proc, 0);

    if (const char *text = result_text(update_flags, edition)) show_box(nullptr, text, MB_TASKMODAL);
    if (ole) OleUninitialize();
    return 0;
}
