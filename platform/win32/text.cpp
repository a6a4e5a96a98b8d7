// Names between UTF-8 and the game's code pages, through UTF-16 with the
// system's conversion; a character without a form fails instead of turning
// into a question mark.
#include <windows.h>

#include "platform/error.h"
#include "platform/platform.h"

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
