#include "tools/pak/codepage.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "tools/pak/output.h"
#include "tools/pak/pak.h"

int code_page_of(const PakArgs &args, int *code_page)
{
    *code_page = 0;
    if (!args.present[OPT_CODEPAGE]) return PAK_EXIT_OK;
    const char *v = args.value[OPT_CODEPAGE];
    if (std::strcmp(v, "936") && std::strcmp(v, "950"))
        return usage_error(args.command, "--codepage takes 936 (GBK) or 950 (Big5)");
    *code_page = v[1] == '3' ? 936 : 950;
    return PAK_EXIT_OK;
}

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
