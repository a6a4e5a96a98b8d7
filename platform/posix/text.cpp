// Names between UTF-8 and the game's code pages, through glibc's iconv.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/platform.h"

namespace {

const char *charset(int code_page)
{
    return code_page == 936 ? "GBK" : code_page == 950 ? "BIG5" : nullptr;
}

int convert(const char *to, const char *from, const char *in, char *out, int size)
{
    if (!to || !from) return fail(ERR_BAD_NAME, -1, "no such code page");
    // Not even the terminator fits (an empty name would otherwise write it
    // past the buffer and report success).
    if (size <= 0) return fail(ERR_NAME_TOO_LONG, -1);
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return fail(ERR_FAILED, -1, "the conversion is not installed");
    char *src = const_cast<char *>(in);
    size_t src_left = std::strlen(in);
    char *dst = out;
    size_t dst_left = size > 0 ? static_cast<size_t>(size - 1) : 0;
    const size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    const int why = errno;
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) {
        if (why == E2BIG) return fail(ERR_NAME_TOO_LONG, -1);
        return fail(ERR_BAD_NAME, -1, "a character has no form in the code page");
    }
    // iconv counts characters it replaced by its own choice; a name must
    // come through exactly or not at all.
    if (r != 0) return fail(ERR_BAD_NAME, -1, "a character has no form in the code page");
    *dst = 0;
    return static_cast<int>(dst - out);
}

}  // namespace

int text_from_utf8(int code_page, const char *utf8, char *out, int size)
{
    return convert(charset(code_page), charset(code_page) ? "UTF-8" : nullptr, utf8, out, size);
}

int text_to_utf8(int code_page, const char *text, char *out, int size)
{
    return convert(charset(code_page) ? "UTF-8" : nullptr, charset(code_page), text, out, size);
}

// A name is its bytes here, whatever it is meant to be read as.
void disk_names_utf8(int) {}

int disk_names_split_trail_bytes() { return 0; }

// The words are the bytes the shell gave, UTF-8 on any current system.
char **cmdline_utf8_argv(int, char **argv) { return argv; }
