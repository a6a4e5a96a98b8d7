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
// exactly as stored. Files are read exactly as the program reads them; what
// is almost always a mistake is said on standard error as
// "cfgtool: FILE: warning: ...": lines ending in LF or CR alone, a UTF-8
// byte-order mark, an include that finds no file or has a quoted name, a
// number that does not fit 32 bits. Exit status: 0 done, 1 no such value (or
// not a number) or a file that cannot be loaded, 2 bad usage.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "archive/archive.h"
#include "config/config.h"
#include "platform/error.h"
#include "platform/platform.h"

namespace {

constexpr int kUsage = 2;
constexpr int kMissing = 1;
constexpr int kMaxFiles = 64;  // beyond this, warnings about a number name no file

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
        "cfgtool " KORIN_TOOLS_VERSION ": a configuration file as the program sees it\n"
        "Usage: cfgtool FILE... [--get SECTION KEY [N] [--int] | --macros]\n"
        "  FILE...      configuration files, loaded in this order\n"
        "  (no option)  print every section as [name] and its keys as name=value\n"
        "  --get        print the value of the N-th KEY (default 1) of the first SECTION\n"
        "  --int        with --get: print the value as a number (a macro name counts)\n"
        "  --macros     print the macros of included files as name=value\n"
        "  --version    print the version\n";

// ---- Warnings: what the program reads differently from what was meant ----------

void put_err(const char *text) { console_write(CONSOLE_ERR, text, static_cast<int>(std::strlen(text))); }

// A name from a file, its control bytes (which could steer a terminal) as \xNN.
void put_err_name(const char *name)
{
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p) {
        char c[5] = {static_cast<char>(*p), 0};
        if (*p < 0x20 || *p == 0x7F) std::snprintf(c, sizeof c, "\\x%02X", *p);
        put_err(c);
    }
}

// "cfgtool: FILE: warning: " before, the name, after.
void warn_name(const char *file, const char *before, const char *name, const char *after)
{
    for (const char *text : {"cfgtool: ", file, ": warning: ", before}) put_err(text);
    put_err_name(name);
    put_err(after);
    put_err("\n");
}

void warn(const char *file, const char *a, const char *b = "") { warn_name(file, a, "", b); }

// The includes a load met, in order, for warnings said after the file's own.
struct SeenInclude {
    const char *name;  // in the store: valid until the next load
    bool opened;
};
SeenInclude *seen = nullptr;
int seen_count = 0, seen_capacity = 0;

void note_include(void *, const char *name, bool opened)
{
    if (seen_count == seen_capacity) {
        const int capacity = seen_capacity ? 2 * seen_capacity : 16;
        void *grown = mem_realloc(seen, static_cast<size_t>(capacity) * sizeof *seen);
        if (!grown) return;  // a warning less, never a wrong one
        seen = static_cast<SeenInclude *>(grown);
        seen_capacity = capacity;
    }
    seen[seen_count++] = {name, opened};
}

// The file's bytes as the load read them, ended in CR LF.
void warn_about_text(void *file, const char *text, int32_t length)
{
    const char *path = static_cast<const char *>(file);
    const int32_t size = length - 2;  // the file's own bytes
    if (size >= 3 && !std::memcmp(text, "\xEF\xBB\xBF", 3))
        warn(path, "the file starts with a UTF-8 byte-order mark, which the program reads as part of the first name");

    int32_t line = 1, lone_lf = 0, lone_cr = 0, first_lf = 0, first_cr = 0;
    for (int32_t i = 0; i < size; ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            if (!lone_lf++) first_lf = line;
        } else if (text[i] == '\r' && (i + 1 >= size || text[i + 1] != '\n')) {
            if (!lone_cr++) first_cr = line;
        }
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= size || text[i + 1] != '\n'))) ++line;
    }
    char numbers[80];
    if (lone_lf) {
        std::snprintf(numbers, sizeof numbers, "%d line%s (the first is line %d) end%s", lone_lf, lone_lf > 1 ? "s" : "", first_lf,
                      lone_lf > 1 ? "" : "s");
        warn(path, numbers, " in LF alone: the program ends a value only at a CR, so a value there runs on over "
                            "the lines that follow");
    }
    if (lone_cr) {
        std::snprintf(numbers, sizeof numbers, "%d line%s (the first is line %d) end%s", lone_cr, lone_cr > 1 ? "s" : "", first_cr,
                      lone_cr > 1 ? "" : "s");
        warn(path, numbers, " in CR alone: the program reads on from there to the next LF, so the lines "
                            "between are skipped");
    }

}

// The includes the load met.
void warn_about_includes(const char *path)
{
    for (int i = 0; i < seen_count; ++i) {
        const char *include = seen[i].name;
        if (include[0] == '"') warn_name(path, "the include name ", include, " is quoted; the quotes are part of the name the program looks for");
        if (!seen[i].opened) warn_name(path, "the include ", include, " finds no file; the program skips it");
    }
}

// Whether text reads as a number (as parse_int reads it) whose digits do not
// fit 32 bits, which the program wraps.
bool number_too_wide(const char *text)
{
    int32_t ignored;
    if (!parse_int(text, &ignored)) return false;
    const char *p = text;
    while (*p == ' ' || *p == '-' || *p == '~') ++p;
    const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    if (hex) p += 2;
    uint64_t value = 0;
    for (; *p; ++p) {
        const int digit = *p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFu) return true;
    }
    return false;
}

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

// The files loaded, each with the last entry handle its load added, so that
// a warning about a value can name the file it stands in.
struct Loaded {
    const char *path;
    int32_t last_handle;
};
Loaded loaded[kMaxFiles];
int loaded_count = 0;

const char *file_of(int32_t handle)
{
    for (int f = 0; f < loaded_count; ++f)
        if (handle <= loaded[f].last_handle) return loaded[f].path;
    return loaded_count ? loaded[loaded_count - 1].path : "";
}

// The handle of the n-th key of that name in the section, as the lookup counts.
int32_t key_handle(int32_t section, const char *key, int32_t n)
{
    for (int32_t k = cfg_next_key(section, nullptr, nullptr); k; k = cfg_next_key(k, nullptr, nullptr))
        if (path_same_name(cfg_entry_name(k), key) && --n <= 0) return k;
    return section;
}

// A number the program wraps: the value itself, or the macro it names.
void warn_if_too_wide(int32_t section, const char *key, int32_t n, const char *value, int32_t number)
{
    const char *text = value;
    if (!parse_int(value, &number)) {
        text = nullptr;
        const char *name = nullptr, *macro = nullptr;
        for (int32_t m = cfg_next_macro(0, &name, &macro); m && !text; m = cfg_next_macro(m, &name, &macro))
            if (path_same_name(name, value)) text = macro;
    }
    if (!text || !number_too_wide(text)) return;
    char reads[16];
    format_int(static_cast<uint32_t>(number), reads, 10, 0, 0);
    for (const char *part : std::initializer_list<const char *>{"cfgtool: ", file_of(key_handle(section, key, n)), ": warning: ", key, " = "})
        put_err(part);
    put_err_name(text);
    for (const char *part : std::initializer_list<const char *>{" does not fit 32 bits; the program reads it as ", reads, "\n"})
        put_err(part);
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
        out.put(value);
        out.put("\n");
        return 0;
    }
    int32_t number = 0;
    if (!cfg_stored_to_int(value, &number)) {
        error("the value of ", key, " is not a number");
        return kMissing;
    }
    warn_if_too_wide(section, key, n, value, number);
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
    for (; i < argc && std::strncmp(argv[i], "--", 2) != 0 && std::strcmp(argv[i], "-h") != 0; ++i) ++files;
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
        } else if (!std::strcmp(arg, "--version")) {
            out.put("cfgtool " KORIN_TOOLS_VERSION "\n");
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
        // A file of 4 GiB or more would show the loader only its size's low bits.
        const bool too_large = disk_file_size(argv[f]) > DISK_POSITION_LIMIT;
        if (too_large) err_set(ERR_TOO_LARGE, "files end before 2 GiB");
        seen_count = 0;
        CfgLoadReport report = {note_include, warn_about_text, argv[f]};
        if (too_large || !cfg_load(argv[f], &report)) {
            const char *detail = err_detail();
            for (const char *text : std::initializer_list<const char *>{"cfgtool: ", argv[f], ": cannot read: ", err_text(err_last()),
                                     detail ? ": " : "", detail ? detail : "", "\n"})
                console_write(CONSOLE_ERR, text, static_cast<int>(std::strlen(text)));
            return kMissing;
        }
        warn_about_includes(argv[f]);
        if (loaded_count < kMaxFiles) {
            int32_t last = loaded_count ? loaded[loaded_count - 1].last_handle : 0;
            while (cfg_entry_name(last + 1)) ++last;
            loaded[loaded_count++] = {argv[f], last};
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
    mem_free(seen);
    if (out.pipe_closed) return kPipeClosed;
    if (out.failed) {
        error("standard output: ", out.reason);
        if (status == 0) status = 1;
    }
    return status;
}
