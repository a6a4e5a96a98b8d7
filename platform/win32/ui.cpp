// The common file dialogs and the message pump over the Win32 user interface.
#include <windows.h>

#include <commdlg.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/ui.h"

// Module state of the dialogs.
//   ui_owner:       owner of every dialog (the program's main window); null
//                   until ui_set_owner is called.
//   ui_file_buffer: UI_FILE_BUFFER_SIZE bytes taken by the first
//                   ui_file_dialog and kept for the life of the program; it
//                   holds the last dialog's result.
static HWND ui_owner;
static char *ui_file_buffer;

// The record without the fields that Windows 2000 added, as every system
// since accepts it.
constexpr DWORD OFN_SIZE_WITHOUT_W2K_FIELDS = 76;

void ui_set_owner(void *window) { ui_owner = static_cast<HWND>(window); }

void ui_flush_messages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
        if (!GetMessageA(&message, nullptr, 0, 0)) return;  // WM_QUIT taken
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// ui_add_default_ext with the room the path has (terminator included): an
// extension that would not fit is not added.
static void add_default_ext(char *path, const char *filter, size_t room)
{
    if (std::strchr(path, '.')) return;
    const char *dot = std::strchr(filter, '.');
    if (!dot) return;
    const char *close = std::strchr(dot, ')');
    if (!close) return;
    const size_t length = std::strlen(path);
    const size_t ext = static_cast<size_t>(close - dot);
    if (length + ext >= room) return;
    std::memcpy(path + length, dot, ext);
    path[length + ext] = 0;
}

void ui_add_default_ext(char *path, const char *filter)
{
    add_default_ext(path, filter, SIZE_MAX);
}

const char *ui_next_multi_name(const char *name)
{
    const char *next = name + std::strlen(name) + 1;
    return *next ? next : nullptr;
}

// Shows the dialog of the mode; 0 when it was cancelled or failed, or the
// mode is unknown.
static BOOL run_dialog(OPENFILENAMEA *ofn, int mode)
{
    switch (mode) {
    case UI_OPEN:
        ofn->Flags |= OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        return GetOpenFileNameA(ofn);
    case UI_SAVE:
        ofn->Flags |= OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;
        return GetSaveFileNameA(ofn);
    case UI_OPEN_MULTI:
        ofn->Flags |= OFN_ALLOWMULTISELECT | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
        return GetOpenFileNameA(ofn);
    default:
        return FALSE;
    }
}

// Hands a dialog's result back: the buffer already holds it; the folder and
// the choice are filled from it, and a single file is given its extension and,
// for UI_OPEN_MULTI, the multi-name list shape.
static void take_result(char *buffer, const char *filter, char *folder, char *choice, int mode,
                        DWORD filter_index)
{
    const size_t first = std::strlen(buffer);
    if (mode == UI_OPEN_MULTI && buffer[first + 1] != 0) {  // several files
        if (folder) {
            std::strcpy(folder, buffer);
            path_add_slash(folder);
        }
        if (choice) {
            choice[0] = static_cast<char>(filter_index);
            std::strcpy(choice + 1, buffer + first + 1);
        }
        return;
    }
    // Room for the second NUL that the multi-name shape needs.
    add_default_ext(buffer, filter, UI_FILE_BUFFER_SIZE - 1);
    if (folder) path_dir(folder, buffer);
    if (choice) {
        choice[0] = static_cast<char>(filter_index);
        path_file(choice + 1, buffer);
    }
    if (mode == UI_OPEN_MULTI) {
        size_t name_at = 0;
        size_t length = 0;
        for (; buffer[length]; length += path_char_len(buffer + length))
            if (buffer[length] == '\\' || buffer[length] == ':') name_at = length + 1;
        if (name_at > 0 && buffer[name_at - 1] == '\\') buffer[name_at - 1] = 0;
        buffer[length + 1] = 0;
    }
}

char *ui_file_dialog(const char *title, const char *filter, char *folder, char *choice, int mode,
                     const char *template_name, UiDialogHook hook)
{
    if (!ui_file_buffer) {
        ui_file_buffer = static_cast<char *>(mem_alloc(UI_FILE_BUFFER_SIZE));
        if (!ui_file_buffer) return nullptr;
    }

    DWORD filter_index = 1;
    if (choice) {
        if (choice[0] == 0) choice[1] = 0;
        else filter_index = static_cast<DWORD>(static_cast<signed char>(choice[0]));
    }
    ui_file_buffer[0] = 0;
    if (choice) {
        std::strncpy(ui_file_buffer, choice + 1, UI_FILE_BUFFER_SIZE - 1);
        ui_file_buffer[UI_FILE_BUFFER_SIZE - 1] = 0;
    }

    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = OFN_SIZE_WITHOUT_W2K_FIELDS;
    ofn.hwndOwner = ui_owner;
    ofn.hInstance = reinterpret_cast<HINSTANCE>(GetWindowLongA(ui_owner, GWL_HINSTANCE));
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = filter_index;
    ofn.lpstrFile = ui_file_buffer;
    ofn.nMaxFile = UI_FILE_BUFFER_SIZE;
    ofn.lpstrInitialDir = folder;
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY;
    if (template_name) {
        ofn.lpTemplateName = template_name;
        ofn.Flags |= OFN_ENABLETEMPLATE;
    }
    if (hook) {
        ofn.lpfnHook = reinterpret_cast<LPOFNHOOKPROC>(hook);
        ofn.Flags |= OFN_ENABLEHOOK;
    }

    char *result = nullptr;
    if (run_dialog(&ofn, mode)) {
        take_result(ui_file_buffer, filter, folder, choice, mode, ofn.nFilterIndex);
        result = ui_file_buffer;
    }
    ui_flush_messages();
    return result;
}
