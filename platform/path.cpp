// Path strings. Only ':' and '\' separate components; '/' never does.
//
// In a double-byte build a lead byte 0x81-0xFE and the byte after it form one
// character: in Big5 and GBK many characters end in 0x5C, and scanning single
// bytes would take that trail byte for a backslash (a folder named C:\遊戲\功
// would never get its backslash). A lead byte pairs only with a byte that can
// follow it in GBK or Big5 (0x40-0x7E, 0x80-0xFE): before ':' or a control
// byte it stands alone, so that drive 0xA4's "\xA4:" keeps its colon.
#include <cstring>

#include "platform/platform.h"

int path_char_len(const char *p)
{
    const unsigned char c = static_cast<unsigned char>(p[0]);
    if (c == 0) return 0;
    if (!path_dbcs || c < 0x81 || c > 0xFE) return 1;
    const unsigned char t = static_cast<unsigned char>(p[1]);
    return (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFE) ? 2 : 1;
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

// Names compare as byte strings in which every byte that is not part of a
// double-byte character has A-Z taken as a-z. Both bytes of a double-byte
// character compare exactly: in Big5 地 (A6 61) and 再 (A6 41) differ only
// in a trail byte that looks like a letter.
int path_name_order(const char *a, const char *b)
{
    const auto *x = reinterpret_cast<const unsigned char *>(a);
    const auto *y = reinterpret_cast<const unsigned char *>(b);
    bool x_trail = false, y_trail = false;
    for (;; ++x, ++y) {
        int cx = *x, cy = *y;
        if (!x_trail && cx >= 'A' && cx <= 'Z') cx += 'a' - 'A';
        if (!y_trail && cy >= 'A' && cy <= 'Z') cy += 'a' - 'A';
        if (cx != cy) return cx - cy;
        if (cx == 0) return 0;
        x_trail = !x_trail && path_char_len(reinterpret_cast<const char *>(x)) == 2;
        y_trail = !y_trail && path_char_len(reinterpret_cast<const char *>(y)) == 2;
    }
}

int path_same_name(const char *a, const char *b) { return path_name_order(a, b) == 0; }

int host_path_absolute(const char *path)
{
    if (HOST_SEPARATOR == '/') return path[0] == '/';
    return path[0] == '\\' || path[0] == '/' || (path[0] && path[1] == ':');
}

const char *host_base_name(const char *path)
{
    const char *base = path;
    for (const char *p = path; *p; p += path_char_len(p))
        if (*p == '/' || (HOST_SEPARATOR == '\\' && ((*p == '\\' && path_char_len(p) == 1) || *p == ':'))) base = p + 1;
    return base;
}
