// Path strings. Only ':' and '\' separate components; '/' never does.
//
// In a double-byte build a lead byte 0x81-0xFE and the byte after it form one
// character: in Big5 and GBK many characters end in 0x5C, and scanning single
// bytes would take that trail byte for a backslash (a folder named C:\遊戲\功
// would never get its backslash).
#include <cstring>

#include "platform/platform.h"

int path_char_len(const char *p)
{
    const unsigned char c = static_cast<unsigned char>(p[0]);
    if (c == 0) return 0;
    if (path_dbcs && c >= 0x81 && c <= 0xFE && p[1] != 0) return 2;
    return 1;
}

static bool is_separator(char c) { return c == ':' || c == '\\'; }

// One past the last separator of s, or s when it has none.
static const char *file_part(const char *s)
{
    const char *part = s;
    for (const char *p = s; *p; p += path_char_len(p))
        if (is_separator(*p)) part = p + 1;
    return part;
}

char *path_dir(char *dest, const char *source)
{
    if (!source[0]) {
        dest[0] = 0;
        return nullptr;
    }
    const size_t keep = static_cast<size_t>(file_part(source) - source);
    if (dest != source) std::memmove(dest, source, keep);
    dest[keep] = 0;
    return dest;
}

int path_file(char *dest, const char *source)
{
    const char *part = file_part(source);
    const size_t n = std::strlen(part) + 1;
    std::memmove(dest, part, n);
    return static_cast<int>(n);
}

int path_ext(char *dest, const char *source)
{
    dest[0] = 0;
    for (const char *p = file_part(source); *p; p += path_char_len(p)) {
        if (*p == '.') {
            const size_t n = std::strlen(p + 1) + 1;
            std::memmove(dest, p + 1, n);
            return static_cast<int>(n);
        }
    }
    return 0;
}

int path_add_slash(char *path)
{
    if (!path[0]) return 0;
    // The last character, not the last byte: a trail byte 0x5C is no backslash.
    char *last = path;
    char *p = path;
    while (*p) {
        last = p;
        p += path_char_len(p);
    }
    if (!(p - last == 1 && *last == '\\')) {
        p[0] = '\\';
        p[1] = 0;
    }
    return 0;
}

int path_same_name(const char *a, const char *b)
{
    for (;;) {
        const int n = path_char_len(a);
        if (n != path_char_len(b)) return 0;
        if (n == 0) return 1;
        // Both bytes of a double-byte character match exactly; single bytes
        // ignore the case of A-Z only.
        if (n == 2) {
            if (a[0] != b[0] || a[1] != b[1]) return 0;
        } else {
            char x = *a, y = *b;
            if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
            if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
            if (x != y) return 0;
        }
        a += n;
        b += n;
    }
}
