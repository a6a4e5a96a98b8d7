#include "tools/pak/codepage.h"

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

int shown_name(const char *stored, int code_page, char *out, int size)
{
    if (code_page && text_to_utf8(code_page, stored, out, size) >= 0) return 0;
    std::strncpy(out, stored, static_cast<size_t>(size) - 1);
    out[size - 1] = 0;
    return code_page ? -1 : 0;
}
