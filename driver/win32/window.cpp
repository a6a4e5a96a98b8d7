// The main window's procedure, the edition's texts made wide for the wide
// Windows calls, and the result message box (WinMain is in main.cpp).
#include "driver/win32/app.h"

HWND main_wnd;

LRESULT CALLBACK main_wnd_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

WideText::WideText(const char *edition_text)
{
    text[0] = 0;
    // The edition's code page is present on every Windows since Vista; the
    // system's own code page is the fallback should it not be.
    if (!MultiByteToWideChar(static_cast<UINT>(edition.code_page), MB_ERR_INVALID_CHARS, edition_text, -1, text,
                             WIDE_TEXT_SIZE) &&
        !MultiByteToWideChar(CP_ACP, 0, edition_text, -1, text, WIDE_TEXT_SIZE))
        text[0] = 0;
    text[WIDE_TEXT_SIZE - 1] = 0;
}

void show_box(HWND owner, const char *text, UINT style)
{
    MessageBoxW(owner, WideText(text), WideText(edition.title), style);
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
