// Program entry: refuses a second copy of the same edition, creates the main
// window, finds the game folder, runs the confirmation dialog (whose OK runs
// the update) and reports the outcome in one message box. The exit code is
// always 0.
#include "driver/win32/app.h"
#include "platform/ui.h"

static const char WINDOW_CLASS[] = "UPD_AUTORUN";

static void show_message(const char *text)
{
    MessageBoxA(nullptr, text, edition.title, MB_TASKMODAL);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show)
{
    // Class and title together: a copy of another edition is not found.
    if (FindWindowA(WINDOW_CLASS, edition.title)) return 0;
    if (previous) {
        show_message(">> Cannot execute again <<");
        return 0;
    }

    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = main_wnd_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    window_class.lpszClassName = WINDOW_CLASS;
    if (!RegisterClassA(&window_class)) return 0;

    main_wnd = CreateWindowExA(0, WINDOW_CLASS, edition.title, WS_POPUP, 0, 0, 1, 1, nullptr,
                               nullptr, instance, nullptr);
    if (!main_wnd) return 0;
    ShowWindow(main_wnd, show);
    ui_set_owner(main_wnd);

    game_dir_discover();
    update_flags = 0;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONFIRM), main_wnd, confirm_dlg_proc, 0);

    if (const char *text = result_text(update_flags, edition)) show_message(text);
    return 0;
}
