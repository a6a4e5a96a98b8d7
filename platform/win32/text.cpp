// Names between UTF-8 and the game's code pages, through UTF-16 with the
// system's conversion; a character without a form fails instead of turning
// into a question mark.
#include <windows.h>
#include <shellapi.h>

#include "platform/error.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace {

constexpr int WIDE_MAX = 1024;

int convert(UINT to, UINT from, const char *in, char *out, int size)
{
    if (size <= 0) return fail(ERR_NAME_TOO_LONG, -1);
    wchar_t wide[WIDE_MAX];
    const int n = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in, -1, wide, WIDE_MAX);
    if (n <= 0)
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? fail(ERR_NAME_TOO_LONG, -1)
                                                           : fail(ERR_BAD_NAME, -1, "not valid in its code page");
    BOOL defaulted = FALSE;
    // UTF-8 takes neither flag nor a default-character query.
    const bool to_utf8 = to == CP_UTF8;
    const int m = WideCharToMultiByte(to, to_utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, n, out, size, nullptr,
                                      to_utf8 ? nullptr : &defaulted);
    if (m <= 0)
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? fail(ERR_NAME_TOO_LONG, -1)
                                                           : fail(ERR_BAD_NAME, -1, "a character has no form in the code page");
    if (defaulted) return fail(ERR_BAD_NAME, -1, "a character has no form in the code page");
    return m - 1;  // the terminator came along
}

}  // namespace

int text_from_utf8(int code_page, const char *utf8, char *out, int size)
{
    if (code_page != 936 && code_page != 950) return fail(ERR_BAD_NAME, -1, "no such code page");
    return convert(static_cast<UINT>(code_page), CP_UTF8, utf8, out, size);
}

int text_to_utf8(int code_page, const char *text, char *out, int size)
{
    if (code_page != 936 && code_page != 950) return fail(ERR_BAD_NAME, -1, "no such code page");
    return convert(CP_UTF8, static_cast<UINT>(code_page), text, out, size);
}

// ---- Names of the disk calls ------------------------------------------------

namespace {

bool names_utf8 = false;

}  // namespace

UINT names_code_page() { return names_utf8 ? CP_UTF8 : CP_ACP; }

void disk_names_utf8(int on) { names_utf8 = on != 0; }

int disk_names_split_trail_bytes()
{
    if (names_utf8) return 0;
    CPINFO info;
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1 ? 1 : 0;
}

WideName::WideName(const char *name) : ok(false)
{
    const UINT code_page = names_code_page();
    const int n = MultiByteToWideChar(code_page, code_page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, name, -1, text,
                                      static_cast<int>(sizeof text / sizeof text[0]));
    if (n > 0) ok = true;
    else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) err_set(ERR_NAME_TOO_LONG);
    else err_set(ERR_BAD_NAME, "not valid UTF-8");
}

bool narrow_name(const wchar_t *wide, char *out, int size)
{
    const int n = WideCharToMultiByte(names_code_page(), 0, wide, -1, out, size, nullptr, nullptr);
    if (n > 0) return true;
    if (size > 0) out[0] = 0;
    return false;
}

char **cmdline_utf8_argv(int argc, char **argv)
{
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return argv;
    char **utf8 = count == argc ? static_cast<char **>(mem_alloc(sizeof(char *) * (static_cast<size_t>(argc) + 1))) : nullptr;
    for (int i = 0; utf8 && i < argc; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        utf8[i] = n > 0 ? static_cast<char *>(mem_alloc(static_cast<size_t>(n))) : nullptr;
        if (!utf8[i] || WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, utf8[i], n, nullptr, nullptr) != n) utf8 = nullptr;
    }
    LocalFree(wide);
    if (!utf8) return argv;  // a word fails or the count differs: as the runtime gave them
    utf8[argc] = nullptr;
    return utf8;
}
