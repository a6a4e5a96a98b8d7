// The common Open and Save file dialogs and the message pump (Windows only;
// implemented in platform/win32/ui.cpp). Neither the update program nor the
// tools use them; only tests call them, and they complete the layer's interface.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define UI_CALLBACK __stdcall
#else
#define UI_CALLBACK
#endif

// A file dialog's hook procedure (the system's LPOFNHOOKPROC).
typedef uintptr_t(UI_CALLBACK *UiDialogHook)(void *dialog, unsigned message, uintptr_t wparam,
                                             intptr_t lparam);

// Dialog modes of ui_file_dialog.
enum {
    UI_OPEN = 0,        // one existing file
    UI_SAVE = 1,        // a file to write; replacing one asks first
    UI_OPEN_MULTI = 2,  // one or several existing files
};

enum { UI_FILE_BUFFER_SIZE = 20480 };

// The window that owns the dialogs: the program's main window, set once it
// exists. Null until then (the dialogs then have no owner).
// (not called by the product, which shows no file dialog)
void ui_set_owner(void *window);

// Dispatches whatever waits in the calling thread's queue, then returns. A
// WM_QUIT found there is taken from the queue and ends the pumping.
void ui_flush_messages();

// The file dialogs below belong to the layer's interface; the product calls
// none of them.
//
// Shows an Open or Save dialog and returns the module-wide file buffer
// (UI_FILE_BUFFER_SIZE bytes, overwritten by the next call), or null when the
// dialog was cancelled or failed or the mode is unknown.
//   title:  caption, or null for the system's.
//   filter: description/pattern pairs, each zero-terminated, ended by an
//           extra NUL.
//   folder: null, or a buffer of at least 260 bytes: the starting folder on
//           entry, the chosen file's folder with a trailing '\' on success.
//   choice: null, or a FileChoice: byte 0 the filter index (1 = first pair,
//           0 = none yet, which also empties the name), then a zero-terminated
//           file name; receives the filter left selected and the chosen name.
//           It needs room for a file name of 260 bytes.
//   mode:   UI_OPEN, UI_SAVE or UI_OPEN_MULTI.
//   template_name, hook: a dialog template of the program's resources and a
//           hook procedure, each optional.
// A single file comes back as its path, with the filter's default extension
// added when the name has no dot. Several files (UI_OPEN_MULTI) come back as a
// multi-name list: the folder, NUL, each name followed by NUL, and a final NUL;
// UI_OPEN_MULTI gives one chosen file the same shape.
char *ui_file_dialog(const char *title, const char *filter, char *folder, char *choice, int mode,
                     const char *template_name, UiDialogHook hook);

// Appends the default extension of a filter to a path that has no '.'
// anywhere: the bytes of the filter's first description from its first '.'
// up to the first ')' after it ("Bitmap (*.bmp)" gives ".bmp"). Nothing
// happens when the path has a dot or the description no such pair. The path
// needs room for the extension.
void ui_add_default_ext(char *path, const char *filter);

// The name after `name` in a multi-name list, or null when `name` is the last.
// From the list's start (the folder) successive calls give each file name.
const char *ui_next_multi_name(const char *name);
