// The main window and the result message.
#include "driver/win32/app.h"

HWND main_wnd;

LRESULT CALLBACK main_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

const char *result_text(UpdateFlags flags, const EditionTexts &texts)
{
    // In priority order: only the first bit set is reported.
    static const struct {
        UpdateFlags bit;
        const char *EditionTexts::*text;
    } messages[] = {
        {UF_DONE, &EditionTexts::msg_done},
        {UF_ALREADY_APPLIED, &EditionTexts::msg_already_applied},
        {UF_NEWER_INSTALLED, &EditionTexts::msg_newer_installed},
        {UF_WRONG_VERSION, &EditionTexts::msg_wrong_version},
        {UF_GAME_DAMAGED, &EditionTexts::msg_game_damaged},
        {UF_PAYLOAD_DAMAGED, &EditionTexts::msg_payload_damaged},
        {UF_FAILED, &EditionTexts::msg_failed},
    };
    for (const auto &m : messages)
        if (flags & m.bit) return texts.*m.text;
    return nullptr;
}
