#include "tools/pak/codepage.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "tools/common/output.h"
#include "tools/pak/pak.h"
#include "tools/pak/view.h"

int typed_name(const char *typed, int code_page, char *out, int size)
{
    const size_t n = std::strlen(typed);
    char *slashed = static_cast<char *>(mem_alloc(n + 1));
    if (!slashed) return out_error(typed, "not enough memory"), -1;
    for (size_t i = 0; i <= n; ++i) slashed[i] = typed[i] == '/' ? '\\' : typed[i];
    int r = 0;
    if (code_page) {
        r = text_from_utf8(code_page, slashed, out, size) < 0 ? -1 : 0;
        if (r != 0) out_error(typed, "no form in code page %d: %s", code_page, out_reason());
    } else if (n + 1 > static_cast<size_t>(size)) {
        out_error(typed, "the name is too long");
        r = -1;
    } else {
        std::memcpy(out, slashed, n + 1);
    }
    mem_free(slashed);
    return r;
}

int typed_entry_name(const char *typed, int code_page, char *out, int size)
{
    while (typed[0] == '.' && (typed[1] == '/' || typed[1] == '\\')) typed += 2;
    return typed_name(typed, code_page, out, size);
}

int typed_patterns(const PakArgs &args, int code_page, TypedPatterns *out)
{
    *out = TypedPatterns{nullptr, nullptr, args.positional_count - 1};
    if (out->count == 0) return 0;
    const size_t n = static_cast<size_t>(out->count);
    out->patterns = static_cast<char(*)[PATH_BUFFER_SIZE]>(mem_alloc(PATH_BUFFER_SIZE * n));
    out->used = static_cast<bool *>(mem_alloc(n));
    if (!out->patterns || !out->used) {
        out_error(cli_command_info(args.command)->name, "not enough memory");
        return -1;
    }
    for (int p = 0; p < out->count; ++p) {
        out->used[p] = false;
        if (typed_entry_name(args.positional[1 + p], code_page, out->patterns[p], PATH_BUFFER_SIZE) != 0) return -1;
    }
    return 0;
}

void typed_patterns_free(TypedPatterns *t)
{
    mem_free(t->patterns);
    mem_free(t->used);
    *t = TypedPatterns{nullptr, nullptr, 0};
}

bool typed_patterns_want(TypedPatterns *t, const char *stored)
{
    bool wanted = t->count == 0;
    for (int p = 0; p < t->count; ++p)
        if (entry_matches(t->patterns[p], stored)) wanted = t->used[p] = true;
    return wanted;
}

bool typed_patterns_unmatched(const TypedPatterns &t, const PakArgs &args, int code_page, const char *archive)
{
    bool unmatched = false;
    for (int p = 0; p < t.count; ++p) {
        if (t.used[p]) continue;
        const char *typed = args.positional[1 + p];
        out_error(typed, "no entry matches in %s%s", archive, no_entry_hint(typed, code_page, archive));
        unmatched = true;
    }
    return unmatched;
}

const char *no_entry_hint(const char *typed, int code_page, const char *archive)
{
    static char hint[PATH_BUFFER_SIZE + 120];
    if (code_page) {
        std::snprintf(hint, sizeof hint, " (looked for its %s form; 'pak list %s --codepage %d' shows the stored names)",
                      code_page == 936 ? "GBK" : "Big5", archive, code_page);
        return hint;
    }
    // UTF-8 beyond ASCII: a lead byte 0xC2-0xF4 and its continuation bytes.
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(typed); *p; ++p)
        if (*p >= 0xC2 && *p <= 0xF4 && (p[1] & 0xC0) == 0x80)
            return " (names beyond ASCII are stored in the game's code page: give --codepage 950 for Big5 or 936 for GBK)";
    return "";
}

int shown_name(const char *stored, int code_page, char *out, int size)
{
    if (code_page && text_to_utf8(code_page, stored, out, size) >= 0) return 0;
    std::strncpy(out, stored, static_cast<size_t>(size) - 1);
    out[size - 1] = 0;
    return code_page ? -1 : 0;
}
