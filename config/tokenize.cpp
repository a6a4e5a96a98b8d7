// The tokenizer: one token (section, key or directive) at a time from a
// stored text, ending names and values in place with NUL bytes.
#include <cstdint>
#include <cstring>

#include "config/config.h"
#include "platform/platform.h"

namespace {

// ---- Tokenizer ---------------------------------------------------------------

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_comment(const char *p) { return *p == ';' || (p[0] == '/' && p[1] == '/'); }

// Ends a name: a blank, '=', a comment or CR.
bool ends_name(const char *p) { return is_blank(*p) || *p == '=' || *p == '\r' || is_comment(p); }
// Ends a value: a comment or CR. An LF is an ordinary byte here.
bool ends_value(const char *p) { return *p == '\r' || is_comment(p); }

// Scanning through names and values is where loading spends its time: the
// platform's scan tests 16 bytes at once where it can, up to `end` (the end
// of the text); the rest goes byte by byte up to the CR that ends every
// stored text. A single '/' ends nothing.
char *scan_to_end(char *p, const char *end, bool name)
{
    static const char name_ends[] = "\r;/ \t=";
    for (;;) {
        if (end > p) p += text_find_any(p, static_cast<int>(end - p), name_ends, name ? 6 : 3);
        while (!(name ? ends_name(p) : ends_value(p)) && *p != '/') ++p;
        if (*p != '/' || p[1] == '/') return p;
        ++p;
    }
}

// One past the LF that ends the line p stands in.
char *past_line(char *p)
{
    while (*p != '\n') ++p;
    return p + 1;
}

// Reads a key line from its first byte; the result is past its line.
char *read_key_line(char *line, const char *end, const char *base, int32_t *name_out, int32_t *value_out)
{
    char *p = scan_to_end(line, end, true);
    const bool separator = is_blank(*p) || *p == '=';
    *name_out = static_cast<int32_t>(line - base);
    *value_out = 0;
    if (!separator) {  // a comment or CR right after the name: no value
        *p = 0;
        return past_line(p + 1);
    }
    *p++ = 0;
    while (is_blank(*p) || *p == '=') ++p;
    if (ends_value(p)) return past_line(p);

    char *value = p;
    p = scan_to_end(p, end, false);
    char *last = p - 1;  // last byte that is not a blank; the value's first is none
    while (is_blank(*last)) --last;
    last[1] = 0;
    *value_out = static_cast<int32_t>(value - base);
    return past_line(last + 1);
}

// True when the six bytes at p spell "define" in any letter case. Stops at
// the first difference, so it never runs past a line's CR.
bool is_define(const char *p)
{
    const char *word = "define";
    for (int i = 0; i < 6; ++i) {
        char c = p[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

}  // namespace

// Scanning inside a token relies on the CR LF that ends every stored text and
// never looks at length; only the search for a token's start is bounded.
int cfg_next_token(char *text, int32_t *position, int32_t length, int32_t *name_out,
                   int32_t *value_out, const char *base)
{
    int32_t pos = *position;
    for (;;) {
        if (pos >= length) return CFG_END;
        const char c = text[pos++];
        if (pos >= length) return CFG_END;
        if (is_blank(c) || c == '\r' || c == '\n') continue;

        char *start = text + pos - 1;
        if (is_comment(start)) {
            const void *lf = std::memchr(text + pos, '\n', static_cast<size_t>(length - pos));
            if (!lf) return CFG_END;
            pos = static_cast<int32_t>(static_cast<const char *>(lf) - text) + 1;
            continue;
        }

        char *next;
        int token;
        if (c == '[') {
            char *p = start + 1;
            while (*p != ']' && *p != '=' && *p != '\r' && !is_comment(p)) ++p;
            *p = 0;
            *name_out = static_cast<int32_t>(start + 1 - base);
            *value_out = 0;
            next = past_line(p + 1);
            token = CFG_SECTION;
        } else if (c == '#' && is_define(start + 1)) {
            // "#define NAME VALUE" is the key line "NAME VALUE"; anything
            // glued to the word is passed over with it.
            char *p = start + 1;
            while (!is_blank(*p) && *p != '=' && *p != ';' && *p != '\r' && *p != '\n') ++p;
            while (is_blank(*p)) ++p;
            if (*p == '\r' || *p == '\n') {
                pos = static_cast<int32_t>(past_line(p) - text);
                continue;
            }
            next = read_key_line(p, text + length, base, name_out, value_out);
            token = CFG_KEY;
        } else if (c == '#') {
            next = read_key_line(start + 1, text + length, base, name_out, value_out);
            token = CFG_DIRECTIVE;
        } else {
            next = read_key_line(start, text + length, base, name_out, value_out);
            token = CFG_KEY;
        }
        *position = static_cast<int32_t>(next - text);
        return token;
    }
}
