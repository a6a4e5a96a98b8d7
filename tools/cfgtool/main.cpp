// cfgtool: shows configuration files as the program reads them.
//
//   cfgtool FILE...                          every section as [name], its keys
//                                            as name=value beneath it, in order
//   cfgtool FILE... --get SECTION KEY [N]    the value of the N-th KEY (default
//                                            1) in the first SECTION alone
//   cfgtool FILE... --get ... --int          that value read as a number,
//                                            macros of included files included
//   cfgtool FILE... --macros                 every macro as name=value
//
// Files load in the order given, into one store. A file name may separate its
// folders with '/' as well as '\'; it is passed on in the '\' form the program
// itself uses, so that includes are found beside the file. Bytes are written
// exactly as stored. Exit status: 0 done, 1 no such value (or not a number), 2 bad
// usage or a file that cannot be loaded.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "config/config.h"
#include "platform/error.h"
#include "platform/platform.h"

namespace {

constexpr int kUsage = 2;
constexpr int kMissing = 1;

// A reader that closed the pipe: the status a shell shows for a program
// that SIGPIPE ended, which is what happens first on POSIX (SIGPIPE keeps its
// default action); this one is for Windows and callers that ignore SIGPIPE.
constexpr int kPipeClosed = 128 + 13;

// Standard output, collected in blocks: one console write per line would
// make large files slow. After a failed write the rest is dropped.
struct Output {
    char buffer[64 * 1024];
    int used = 0;
    bool failed = false;
    bool pipe_closed = false;
    char reason[256] = "";

    void write(const char *bytes, int count)
    {
        if (failed || console_write(CONSOLE_OUT, bytes, count) == count) return;
        failed = true;
        pipe_closed = err_last() == ERR_BROKEN_PIPE;
        const char *detail = err_detail();
        std::snprintf(reason, sizeof reason, "%s%s%s", err_text(err_last()), detail ? ": " : "", detail ? detail : "");
    }
    void flush()
    {
        if (used) write(buffer, used);
        used = 0;
    }
    void put(const char *bytes, size_t count)
    {
        if (count > sizeof buffer - static_cast<size_t>(used)) flush();
        if (count > sizeof buffer) {
            // Values of several megabytes go out directly, in int-sized parts.
            while (count) {
                const int part = count > 0x40000000u ? 0x40000000 : static_cast<int>(count);
                write(bytes, part);
                bytes += part;
                count -= static_cast<size_t>(part);
            }
            return;
        }
        std::memcpy(buffer + used, bytes, count);
        used += static_cast<int>(count);
    }
    void put(const char *text) { put(text, std::strlen(text)); }
};

Output out;

void error(const char *a, const char *b = "", const char *c = "")
{
    for (const char *text : {"cfgtool: ", a, b, c, "\n"})
        console_write(CONSOLE_ERR, text, static_cast<int>(std::strlen(text)));
}

const char usage_text[] =
        "usage: cfgtool FILE... [--get SECTION KEY [N] [--int] | --macros]\n"
        "  FILE...      configuration files, loaded in this order\n"
        "  (no option)  print every section as [name] and its keys as name=value\n"
        "  --get        print the value of the N-th KEY (default 1) of the first SECTION\n"
        "  --int        with --get: print the value as a number (a macro name counts)\n"
        "  --macros     print the macros of included files as name=value\n";

int usage()
{
    console_write(CONSOLE_ERR, usage_text, static_cast<int>(sizeof usage_text - 1));
    return kUsage;
}

void print_sections()
{
    if (!cfg_entry_name(1)) return;
    for (int32_t section = 1; section; section = cfg_next_section(section, nullptr)) {
        out.put("[");
        out.put(cfg_entry_name(section));
        out.put("]\n");
        for (int32_t key = cfg_next_key(section, nullptr, nullptr); key; key = cfg_next_key(key, nullptr, nullptr)) {
            out.put(cfg_entry_name(key));
            out.put("=");
            out.put(cfg_entry_value(key));
            out.put("\n");
        }
    }
}

void print_macros()
{
    const char *name = nullptr;
    const char *value = nullptr;
    for (int32_t m = cfg_next_macro(0, &name, &value); m; m = cfg_next_macro(m, &name, &value)) {
        out.put(name);
        out.put("=");
        out.put(value);
        out.put("\n");
    }
}

int print_value(const char *section_name, const char *key, int32_t n, bool as_int)
{
    const int32_t section = cfg_find_section(section_name, 1);
    if (!section) {
        error("no section [", section_name, "]");
        return kMissing;
    }
    if (!as_int) {
        const char *value = cfg_get_string(key, n, section, nullptr);
        if (!value) {
            error("no key ", key, " in that section");
            return kMissing;
        }
        out.put(value);
        out.put("\n");
        return 0;
    }
    if (!cfg_get_string(key, n, section, nullptr)) {
        error("no key ", key, " in that section");
        return kMissing;
    }
    int32_t number = 0;
    if (!cfg_get_int(key, n, section, &number)) {
        error("the value of ", key, " is not a number");
        return kMissing;
    }
    char digits[16];
    format_int(static_cast<uint32_t>(number), digits, 10, 0, 0);
    out.put(digits);
    out.put("\n");
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
    for (; i < argc && std::strncmp(argv[i], "--", 2) != 0; ++i) ++files;
    for (; i < argc; ++i) {
        const char *arg = argv[i];
        if (!std::strcmp(arg, "--get") && i + 2 < argc && !get_key) {
            get_section = argv[++i];
            get_key = argv[++i];
            if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
                if (!parse_int(argv[++i], &n)) {
                    error("not an occurrence number: ", argv[i]);
                    return usage();
                }
            }
        } else if (!std::strcmp(arg, "--int")) {
            as_int = true;
        } else if (!std::strcmp(arg, "--macros")) {
            macros = true;
        } else if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            out.put(usage_text);
            return 0;
        } else {
            error("unknown or incomplete option: ", arg);
            return usage();
        }
    }
    if (files == 0 || (as_int && !get_key) || (macros && get_key)) return usage();

    for (int f = 1; f <= files; ++f) {
        // No code page uses '/' as a trail byte, so every one is a separator.
        for (char *p = argv[f]; *p; ++p)
            if (*p == '/') *p = '\\';
        if (!cfg_load(argv[f])) {
            const char *detail = err_detail();
            for (const char *text : std::initializer_list<const char *>{"cfgtool: ", argv[f], ": cannot read: ", err_text(err_last()),
                                     detail ? ": " : "", detail ? detail : "", "\n"})
                console_write(CONSOLE_ERR, text, static_cast<int>(std::strlen(text)));
            return kUsage;
        }
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
    int status = run(argc, argv);
    out.flush();
    cfg_free();
    if (out.pipe_closed) return kPipeClosed;
    if (out.failed) {
        error("standard output: ", out.reason);
        if (status == 0) status = 1;
    }
    return status;
}
