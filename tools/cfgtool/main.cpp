// cfgtool: shows configuration files as the program reads them.
//
//   cfgtool FILE...                          every section as [name], its keys
//                                            as name=value beneath it, in order
//   cfgtool FILE... --get SECTION KEY [N]    the value of the N-th KEY (default
//                                            1) in the first SECTION alone
//   cfgtool FILE... --get ... --int          that value read as a number,
//                                            macros of included files included
//   cfgtool FILE... --macros                 every macro as name=value
//   ... --codepage 936|950                   names and values in UTF-8
//
// Files load in the order given, into one store. A file name may separate its
// folders with '/' as well as '\'; it is passed on in the '\' form the program
// itself uses, so that includes are found beside the file. Names and values
// are written as stored, control bytes as \xNN. What is almost always a
// mistake is said on standard error (explain.h). Exit status: 0 done, 1 no
// such value (or not a number) or a file that cannot be loaded, 2 bad usage.
#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "config/config.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "tools/cfgtool/explain.h"
#include "tools/common/output.h"

namespace {

constexpr int kUsage = TOOL_EXIT_USAGE;
constexpr int kMissing = TOOL_EXIT_FAILED;

void error(const char *a, const char *b = "", const char *c = "") { out_printf(CONSOLE_ERR, "cfgtool: %s%s%s\n", a, b, c); }

void put(const char *text) { out_write(CONSOLE_OUT, text, static_cast<int>(std::strlen(text))); }

const char usage_text[] =
        "cfgtool " KORIN_TOOLS_VERSION ": a configuration file as the program sees it\n"
        "Usage: cfgtool FILE... [--get SECTION KEY [N] [--int] | --macros] [--codepage CP]\n"
        "  FILE...        configuration files, loaded in this order\n"
        "  (no option)    print every section as [name] and its keys as name=value\n"
        "  --get          print the value of the N-th KEY (N from 1, default 1) of the\n"
        "                 first SECTION; a key written without a value prints an empty\n"
        "                 line, since the program reads it as the empty text\n"
        "  --int          with --get: print the value as a number (a macro name counts)\n"
        "  --macros       print the macros of included files as name=value\n"
        "  --codepage CP  show names and values in UTF-8 from 936 (GBK) or 950 (Big5),\n"
        "                 and take SECTION and KEY in UTF-8\n"
        "  --version      print the version\n"
        "\n"
        "Names and values are printed as stored, their control bytes as \\xNN. Where the\n"
        "program reads something other than what was almost certainly meant, standard\n"
        "error says so as \"cfgtool: FILE:LINE: warning: ...\", in line order. A file or\n"
        "include that is no plain file (a FIFO, a device) is not read.\n"
        "\n"
        "Reading rules (what the program reads, whatever was meant):\n"
        "  line ends  lines end in CR LF. A name or value ends only at a CR: where a\n"
        "             line ends in LF alone it runs on over the lines that follow;\n"
        "             after a CR alone the program reads on to the next LF and skips\n"
        "             the lines between\n"
        "  [NAME]     starts a section; blanks inside the brackets belong to the name,\n"
        "             which ends at ']' (or where a key's name would); the rest of the\n"
        "             line is passed over\n"
        "  keys       a name ends at its first blank or '='; the blanks and '=' after\n"
        "             it are passed over and the rest, less trailing blanks, is the\n"
        "             value: \"my key = a value\" is the key \"my\" valued \"key = a value\"\n"
        "  ; and //   begin a comment anywhere, inside a value too; there is no\n"
        "             quoting: url=http://host/x reads \"http:\", a;b;c reads \"a\"\n"
        "  #define    #define NAME VALUE is the key NAME with the value VALUE\n"
        "  #include   #include FILE reads FILE (as given, then beside the configuration\n"
        "             file) for macros: each of its keys, in whatever section; an\n"
        "             include that is not found or inside an included file, and any\n"
        "             other # line, is passed over\n"
        "  files      FILEs load into one store, in order: keys before a file's first\n"
        "             [NAME] join the last section of the file before it (those of\n"
        "             the first file form a nameless section, shown as [])\n"
        "  repeats    names compare without regard to the case of A-Z; where a\n"
        "             section, a key of one section or a macro repeats, a lookup finds\n"
        "             the first\n"
        "  NUL        a NUL byte ends the name or value it stands in\n"
        "  numbers    decimal, or hexadecimal after 0x, with one '-' or '~' before;\n"
        "             they wrap at 32 bits (--int warns where a value does not fit)\n"
        "\n"
        "Exit status:\n"
        "  0    done, also for a key without a value\n"
        "  1    no such section, key or number, or a file that cannot be read\n"
        "  2    bad usage\n"
        "  141  the reader of standard output went away (Windows; POSIX: SIGPIPE)\n"
        "\n"
        "Examples:\n"
        "  cfgtool KORIN3.INI\n"
        "\n"
        "  cfgtool KORIN3.INI --get INI GAMEDIR\n"
        "\n"
        "  cfgtool game.ini --get Levels MAX 2 --int\n"
        "\n"
        "  cfgtool game.ini --macros --codepage 950\n";

// ---- Printing what the store holds -----------------------------------------------

void put_sink(void *, const char *bytes, size_t count)
{
    // Values of several megabytes go out in int-sized parts.
    while (count) {
        const int part = count > 0x40000000u ? 0x40000000 : static_cast<int>(count);
        out_write(CONSOLE_OUT, bytes, part);
        bytes += part;
        count -= static_cast<size_t>(part);
    }
}

// A name or value as shown (explain.h): on one line, in UTF-8 with a code page.
void put_shown(const char *text) { shown_text(text, std::strlen(text), put_sink, nullptr); }

int usage()
{
    out_write(CONSOLE_ERR, usage_text, static_cast<int>(sizeof usage_text - 1));
    return kUsage;
}

void print_sections()
{
    if (!cfg_entry_name(1)) return;
    for (int32_t section = 1; section; section = cfg_next_section(section, nullptr)) {
        put("[");
        put_shown(cfg_entry_name(section));
        put("]\n");
        for (int32_t key = cfg_next_key(section, nullptr, nullptr); key; key = cfg_next_key(key, nullptr, nullptr)) {
            put_shown(cfg_entry_name(key));
            put("=");
            put_shown(cfg_entry_value(key));
            put("\n");
        }
    }
}

void print_macros()
{
    const char *name = nullptr;
    const char *value = nullptr;
    for (int32_t m = cfg_next_macro(0, &name, &value); m; m = cfg_next_macro(m, &name, &value)) {
        put_shown(name);
        put("=");
        put_shown(value);
        put("\n");
    }
}

// The handle of the n-th key of that name in the section, as the lookup counts.
int32_t key_handle(int32_t section, const char *key, int32_t n)
{
    for (int32_t k = cfg_next_key(section, nullptr, nullptr); k; k = cfg_next_key(k, nullptr, nullptr))
        if (path_same_name(cfg_entry_name(k), key) && --n <= 0) return k;
    return 0;
}

// An occurrence counts from 1: 0 and below would name none.
bool occurrence(const char *text, int32_t *n)
{
    int64_t value = 0;
    for (const char *p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > INT32_MAX) return false;
    }
    if (!text[0] || value < 1) return false;
    *n = static_cast<int32_t>(value);
    return true;
}

// A SECTION or KEY typed in UTF-8, in the code page's form (kept until the end).
char *typed[2] = {nullptr, nullptr};
int stored_form(const char **word)
{
    const size_t n = std::strlen(*word);
    char *&slot = typed[typed[0] ? 1 : 0];
    slot = static_cast<char *>(mem_alloc(n + 4));
    if (slot && text_from_utf8(g_code_page, *word, slot, static_cast<int>(n + 4)) >= 0) {
        *word = slot;
        return 0;
    }
    error(*word, ": no form in the code page: ", slot ? err_text(err_last()) : "not enough memory");
    return -1;
}

int print_value(const char *section_name, const char *key, int32_t n, bool as_int)
{
    const int32_t section = cfg_find_section(section_name, 1);
    if (!section) {
        error("no section [", section_name, "]");
        return kMissing;
    }
    const char *value = cfg_get_string(key, n, section, nullptr);
    if (!value) {
        error("no key ", key, " in that section");
        return kMissing;
    }
    if (!as_int) {
        put_shown(value);
        put("\n");
        return 0;
    }
    int32_t number = 0;
    if (!cfg_stored_to_int(value, &number)) {
        error("the value of ", key, " is not a number");
        return kMissing;
    }
    explain_number(key_handle(section, key, n), value);
    char digits[16];
    format_int(static_cast<uint32_t>(number), digits, 10, 0, 0);
    put(digits);
    put("\n");
    return 0;
}

int run(int argc, char **argv)
{
    int files = 0;
    const char *get_section = nullptr;
    const char *get_key = nullptr;
    int32_t n = 1;
    bool as_int = false;
    bool macros = false;

    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) != 0 && std::strcmp(argv[i], "-h") != 0; ++i) ++files;
    for (; i < argc; ++i) {
        const char *arg = argv[i];
        if (!std::strcmp(arg, "--get") && i + 2 < argc && !get_key) {
            get_section = argv[++i];
            get_key = argv[++i];
            if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0 && !occurrence(argv[++i], &n)) {
                error("not an occurrence number (1 for the first): ", argv[i]);
                return usage();
            }
        } else if (!std::strcmp(arg, "--int")) {
            as_int = true;
        } else if (!std::strcmp(arg, "--macros")) {
            macros = true;
        } else if (!std::strcmp(arg, "--codepage") && i + 1 < argc) {
            const char *cp = argv[++i];
            if (std::strcmp(cp, "936") && std::strcmp(cp, "950")) {
                error("--codepage takes 936 (GBK) or 950 (Big5): ", cp);
                return usage();
            }
            g_code_page = cp[1] == '3' ? 936 : 950;
        } else if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            put(usage_text);
            return 0;
        } else if (!std::strcmp(arg, "--version")) {
            put("cfgtool " KORIN_TOOLS_VERSION "\n");
            return 0;
        } else {
            error("unknown or incomplete option: ", arg);
            return usage();
        }
    }
    if (files == 0 || (as_int && !get_key) || (macros && get_key)) return usage();
    // With a code page, names on the disk are UTF-8 as the words typed are
    // (on Windows through the wide calls), and the section and key are
    // looked up in their stored form.
    disk_names_utf8(g_code_page != 0);
    if (g_code_page && get_key && (stored_form(&get_section) != 0 || stored_form(&get_key) != 0)) return kMissing;

    for (int f = 1; f <= files; ++f) {
        // Shown as typed; passed on with every '/' as '\\' (no code page uses
        // '/' as a trail byte, so every one is a separator).
        char shown[PATH_BUFFER_SIZE * 2];
        shown_path(argv[f], shown, sizeof shown);
        for (char *p = argv[f]; *p; ++p)
            if (*p == '/') *p = '\\';
        if (explain_before_load(shown, argv[f]) != 0) return kMissing;
        // A file of 4 GiB or more would show the loader only its size's low bits.
        const bool too_large = disk_file_size(argv[f]) > DISK_POSITION_LIMIT;
        if (too_large) err_set(ERR_TOO_LARGE, "files end before 2 GiB");
        CfgLoadReport report = {explain_include, explain_text, nullptr};
        if (too_large || !cfg_load(argv[f], &report)) {
            out_error(shown, "cannot read: %s", out_reason());
            return kMissing;
        }
        if (explain_after_load() != 0) return kMissing;
    }
    if (get_key) return print_value(get_section, get_key, n, as_int);
    if (macros) print_macros();
    else print_sections();
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    console_start();
    out_program("cfgtool");
    // --codepage takes the words as UTF-8, which on Windows the runtime's
    // argv (the ANSI code page) cannot hold.
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--codepage")) argv = cmdline_utf8_argv(argc, argv);
    const int status = out_finish(run(argc, argv));
    cfg_free();
    explain_end();
    mem_free(typed[0]);
    mem_free(typed[1]);
    disk_names_utf8(0);
    return status;
}
