#include "tools/pak/names.h"

#include <cstring>

#include "archive/format.h"
#include "platform/platform.h"

namespace {

bool is_sep(char c) { return c == '\\' || c == '/'; }

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens these as devices whatever extension follows, and trims
// trailing spaces before it looks ("CON .txt" is the console too).
bool is_device(const char *part, int n)
{
    int base = 0;
    while (base < n && part[base] != '.') ++base;
    while (base > 0 && part[base - 1] == ' ') --base;
    static const char *const plain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char *d : plain) {
        const int len = static_cast<int>(std::strlen(d));
        if (base != len) continue;
        int i = 0;
        while (i < len && upper(part[i]) == d[i]) ++i;
        if (i == len) return true;
    }
    // COM0-9 and LPT0-9, with the superscript digits 1-3 of code page 1252.
    if (base == 4) {
        const char a = upper(part[0]), b = upper(part[1]), c = upper(part[2]);
        const unsigned char d = static_cast<unsigned char>(part[3]);
        const bool com = a == 'C' && b == 'O' && c == 'M';
        const bool lpt = a == 'L' && b == 'P' && c == 'T';
        if ((com || lpt) && ((d >= '0' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3)) return true;
    }
    return false;
}

ExtractName check_part(const char *part, int n)
{
    if (n == 0) return XN_EMPTY_PART;
    const char last = part[n - 1];
    if (last == '.' || last == ' ') return XN_DOTS;
    if (is_device(part, n)) return XN_DEVICE;
    return XN_OK;
}

// Whether a byte 0x5C stands as the trail of a double-byte character.
bool has_trail_5c(const char *s)
{
    for (const char *q = s; *q; q += path_char_len(q))
        if (path_char_len(q) == 2 && q[1] == '\\') return true;
    return false;
}

// One past the last byte of the part that starts at p.
const char *part_end(const char *p, CharLength len = path_char_len)
{
    while (*p && !(len(p) == 1 && *p == '\\')) p += len(p);
    return p;
}

bool same_char(const char *a, int n, const char *b, int m)
{
    if (n != m) return false;
    if (n >= 2) return std::memcmp(a, b, static_cast<size_t>(n)) == 0;
    return upper(*a) == upper(*b);
}

// One part against one pattern part: '*' any run, '?' one character. Only
// the last star is taken back, which suffices within one part.
bool part_matches(const char *p, const char *pe, const char *s, const char *se, CharLength len)
{
    const char *after_star = nullptr, *star_took = nullptr;
    while (s < se) {
        if (p < pe && *p == '*') {
            while (p < pe && *p == '*') ++p;
            after_star = p;
            star_took = s;
            continue;
        }
        const int n = p < pe ? len(p) : 0, m = len(s);
        if (p < pe && ((n == 1 && *p == '?') || same_char(p, n, s, m))) {
            p += n, s += m;
            continue;
        }
        if (!after_star) return false;
        p = after_star;
        s = star_took += len(star_took);
    }
    while (p < pe && *p == '*') ++p;
    return p == pe;
}

bool is_part(const char *p, const char *pe, const char *text)
{
    const size_t n = std::strlen(text);
    return static_cast<size_t>(pe - p) == n && std::memcmp(p, text, n) == 0;
}

}  // namespace

ExtractName extract_name_check(const char *name, int length, char separator, char *out, int out_size, bool bytewise)
{
    // A terminated copy: directory records need not hold a terminator.
    char s[PAK_NAME_SIZE * 4 + 1];
    int n = 0;
    while (n < length && n < static_cast<int>(sizeof s) - 1 && name[n]) ++n;
    if (n < length && name[n] && n == static_cast<int>(sizeof s) - 1) return XN_TOO_LONG;
    std::memcpy(s, name, static_cast<size_t>(n));
    s[n] = 0;

    const char *p = s;
    if (n >= 2 && s[1] == ':') {
        p += 2;
        if (*p == '\\') ++p;
    }
    const int rest = n - static_cast<int>(p - s);
    if (rest == 0) return XN_EMPTY;
    if (is_sep(p[0])) return XN_ABSOLUTE;

    for (const char *q = p; *q; ++q) {
        const unsigned char c = static_cast<unsigned char>(*q);
        if (c == ':') return XN_DRIVE;
        // Every byte: a bogus trail byte must not smuggle a control byte in.
        if (c < 0x20) return XN_BAD_CHAR;
    }

    // The parts as the double-byte walk reads them, copied out with the
    // host separator.
    int k = 0;
    const char *part = p;
    for (const char *q = p;; q += path_char_len(q)) {
        const int step = path_char_len(q);
        const bool end = step == 0;
        if (step == 1) {
            const unsigned char c = static_cast<unsigned char>(*q);
            if (c < 0x20 || std::strchr("<>\"|?*", c)) return XN_BAD_CHAR;
        }
        if (!end && !(step == 1 && is_sep(*q))) continue;
        const int len = static_cast<int>(q - part);
        const ExtractName v = check_part(part, len);
        if (v != XN_OK) return v;
        if (k + len + 2 > out_size) return XN_TOO_LONG;
        if (k > 0) out[k++] = separator;
        std::memcpy(out + k, part, static_cast<size_t>(len));
        k += len;
        if (end) break;
        part = q + 1;
    }
    // No trail byte is '/', so without a trail byte 0x5C both readings agree.
    if (bytewise && has_trail_5c(p)) return XN_SPLIT;
    out[k] = 0;
    return XN_OK;
}

const char *extract_name_reason(ExtractName verdict)
{
    switch (verdict) {
    case XN_OK: return "ok";
    case XN_EMPTY: return "the name is empty";
    case XN_TOO_LONG: return "the name is too long";
    case XN_ABSOLUTE: return "an absolute name would land outside the folder";
    case XN_DRIVE: return "a drive-qualified name would land outside the folder";
    case XN_DOTS: return "a '.' or '..' part (or one ending in a dot or space) would land outside the folder";
    case XN_EMPTY_PART: return "the name has an empty part";
    case XN_DEVICE: return "the name is a Windows device name";
    case XN_BAD_CHAR: return "the name holds a character that file names cannot";
    case XN_SPLIT:
        return "a character of the name ends in the byte of '\\', which this system's code page takes for a "
               "separator; give --codepage 936 or 950";
    }
    return "bad name";
}

bool foreign_drive(const char *name, int first_drive, int last_drive)
{
    const int c = static_cast<unsigned char>(name[0]);
    return c && name[1] == ':' && (c < first_drive || c > last_drive);
}

bool stored_name_ok(const char *name)
{
    const size_t n = std::strlen(name);
    return n >= 1 && n <= PAK_NAME_SIZE - 1;
}

bool names_equal(const char *a, const char *b) { return path_same_name(a, b) != 0; }

bool pattern_matches(const char *pattern, const char *name)
{
    for (const char *p = pattern, *s = name;;) {
        const char *pe = part_end(p);
        if (is_part(p, pe, "**")) {
            if (!*pe) return true;
            for (const char *t = s;; t = part_end(t) + 1) {
                if (pattern_matches(pe + 1, t)) return true;
                if (!*part_end(t)) return false;
            }
        }
        if (!*pe && is_part(p, pe, "*")) return true;
        const char *se = part_end(s);
        if (!part_matches(p, pe, s, se, path_char_len)) return false;
        if (!*pe || !*se) return !*pe && !*se;
        p = pe + 1, s = se + 1;
    }
}

bool parts_match(const char *pattern, const char *name, CharLength len)
{
    for (;;) {
        const char *pe = part_end(pattern, len), *se = part_end(name, len);
        if (!part_matches(pattern, pe, name, se, len)) return false;
        if (!*pe || !*se) return !*pe && !*se;
        pattern = pe + 1, name = se + 1;
    }
}
