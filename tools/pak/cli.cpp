#include "tools/pak/cli.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/archive.h"

namespace {

struct OptionSpec {
    PakOption id;
    char short_name;  // 0: none
    const char *long_name;
    bool takes_value;
};

const OptionSpec option_table[OPT_COUNT] = {
    {OPT_HELP, 'h', "help", false},
    {OPT_LONG, 'l', "long", false},
    {OPT_ALL, 'a', "all", false},
    {OPT_JSON, 0, "json", false},
    {OPT_DIR, 'C', "directory", true},
    {OPT_RAW, 0, "raw", false},
    {OPT_DRIVES, 0, "drives", true},
    {OPT_PACKED_DIR, 0, "packed-dir", false},
    {OPT_USER_VALUE, 0, "user-value", true},
    {OPT_AS, 0, "as", true},
    {OPT_STORE, 0, "store", false},
    {OPT_KEEP_OLD, 0, "keep-old", false},
    {OPT_JOBS, 'j', "jobs", true},
    {OPT_FORCE, 0, "force", false},
    {OPT_VERSION, 0, "version", false},
    {OPT_VERBOSE, 'v', "verbose", false},
    {OPT_KEEP, 0, "keep", false},
    {OPT_PREFIX, 0, "prefix", true},
    {OPT_EXCLUDE, 0, "exclude", true},
    {OPT_CODEPAGE, 0, "codepage", true},
    {OPT_APPENDED, 0, "appended", false},
    {OPT_OUTPUT, 'o', "output", true},
    {OPT_PROGRAM, 0, "program", true},
    {OPT_DRY_RUN, 'n', "dry-run", false},
    {OPT_AT, 0, "at", true},
    {OPT_LEVEL, 0, "level", true},
};

constexpr uint32_t bit(PakOption o) { return 1u << o; }

constexpr uint32_t READING = bit(OPT_APPENDED);
constexpr uint32_t NAMES = bit(OPT_CODEPAGE);

const CommandInfo command_table[] = {
    {CMD_INFO, "info", bit(OPT_JSON) | READING, 1, 1},
    {CMD_LIST, "list", bit(OPT_LONG) | bit(OPT_ALL) | bit(OPT_JSON) | READING | NAMES, 1, -1},
    {CMD_EXTRACT, "extract",
     bit(OPT_DIR) | bit(OPT_RAW) | bit(OPT_VERBOSE) | bit(OPT_KEEP) | bit(OPT_JOBS) | bit(OPT_FORCE) | READING | NAMES,
     1, -1},
    {CMD_CAT, "cat", bit(OPT_FORCE) | bit(OPT_AT) | READING | NAMES, 2, 2},
    {CMD_VERIFY, "verify", READING, 1, 1},
    {CMD_CREATE, "create", bit(OPT_DRIVES) | bit(OPT_PACKED_DIR) | bit(OPT_USER_VALUE), 1, 1},
    {CMD_ADD, "add",
     bit(OPT_AS) | bit(OPT_STORE) | bit(OPT_KEEP_OLD) | bit(OPT_JOBS) | bit(OPT_FORCE) | bit(OPT_DIR) |
         bit(OPT_PREFIX) | bit(OPT_EXCLUDE) | bit(OPT_VERBOSE) | bit(OPT_LEVEL) | NAMES,
     2, -1},
    {CMD_DELETE, "delete", bit(OPT_AT) | NAMES, 2, -1},
    {CMD_RENAME, "rename", bit(OPT_AT) | NAMES, 3, 3},
    {CMD_COMPACT, "compact", bit(OPT_FORCE), 1, 1},
    {CMD_ATTACH, "attach", bit(OPT_FORCE), 2, 2},
    {CMD_DETACH, "detach", bit(OPT_OUTPUT) | bit(OPT_PROGRAM) | bit(OPT_FORCE) | READING, 1, 1},
    {CMD_SYNC, "sync",
     bit(OPT_DIR) | bit(OPT_PREFIX) | bit(OPT_EXCLUDE) | bit(OPT_STORE) | bit(OPT_JOBS) | bit(OPT_VERBOSE) |
         bit(OPT_FORCE) | bit(OPT_DRY_RUN) | bit(OPT_LEVEL) | NAMES,
     1, -1},
    {CMD_DIFF, "diff", bit(OPT_JSON) | READING | NAMES, 2, 2},
};

const OptionSpec *find_long(const char *name, size_t length)
{
    for (const OptionSpec &o : option_table)
        if (std::strlen(o.long_name) == length && std::memcmp(o.long_name, name, length) == 0)
            return &o;
    return nullptr;
}

const OptionSpec *find_short(char c)
{
    for (const OptionSpec &o : option_table)
        if (o.short_name == c) return &o;
    return nullptr;
}

struct Parser {
    int argc;
    char **argv;
    int next;  // index of the next argument to read
    PakArgs *out;
    char *error;
    int error_size;

    int fail(const char *format, const char *detail)
    {
        std::snprintf(error, static_cast<size_t>(error_size), format, detail);
        return -1;
    }

    // Records option o; value is its inline argument ("--as=x", "-j4"), or
    // null to take the next argument when it needs one.
    int take(const OptionSpec &o, const char *value, const char *spelling)
    {
        const CommandInfo *info = cli_command_info(out->command);
        if (o.id != OPT_HELP && o.id != OPT_VERSION && (!info || !(info->options & bit(o.id))))
            return fail("option %s does not apply to this command", spelling);
        if (o.takes_value) {
            if (!value) {
                if (next >= argc) return fail("option %s needs a value", spelling);
                value = argv[next++];
            }
        } else if (value) {
            return fail("option %s takes no value", spelling);
        }
        out->present[o.id] = true;
        out->value[o.id] = value;
        if (o.id == OPT_EXCLUDE) out->excludes[-++out->exclude_count] = value;
        return 0;
    }

    int long_option(const char *arg)
    {
        const char *name = arg + 2;
        const char *equals = std::strchr(name, '=');
        const size_t length = equals ? static_cast<size_t>(equals - name) : std::strlen(name);
        const OptionSpec *o = find_long(name, length);
        if (!o) return fail("unknown option %s", arg);
        return take(*o, equals ? equals + 1 : nullptr, arg);
    }

    // "-la", "-j4", "-C dir", "-Cdir"
    int short_options(const char *arg)
    {
        for (const char *p = arg + 1; *p; ++p) {
            const OptionSpec *o = find_short(*p);
            char spelling[3] = {'-', *p, 0};
            if (!o) return fail("unknown option %s", spelling);
            if (o->takes_value) return take(*o, p[1] ? p + 1 : nullptr, spelling);
            if (take(*o, nullptr, spelling) != 0) return -1;
        }
        return 0;
    }
};

}  // namespace

const CommandInfo *cli_command(const char *name)
{
    for (const CommandInfo &c : command_table)
        if (std::strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

const CommandInfo *cli_command_info(PakCommand id)
{
    for (const CommandInfo &c : command_table)
        if (c.id == id) return &c;
    return nullptr;
}

int cli_parse(int argc, char **argv, const char **positional_space, PakArgs *out, char *error,
              int error_size)
{
    std::memset(out, 0, sizeof *out);
    out->positional = positional_space;
    out->excludes = positional_space + argc;  // grows downwards; fixed up at the end
    error[0] = 0;
    Parser p{argc, argv, 1, out, error, error_size};

    if (argc < 2) return p.fail("%s", "no command given");
    const char *first = argv[1];
    if (std::strcmp(first, "help") == 0) {
        // "pak help" and "pak help COMMAND" mean "--help".
        out->present[OPT_HELP] = true;
        if (argc > 2) {
            const CommandInfo *c = cli_command(argv[2]);
            if (!c) return p.fail("unknown command '%s'", argv[2]);
            out->command = c->id;
        }
        return 0;
    }
    if (first[0] == '-') {
        if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
            out->present[OPT_HELP] = true;
            return 0;
        }
        if (std::strcmp(first, "--version") == 0) {
            if (argc > 2) return p.fail("--version takes nothing after it: %s", argv[2]);
            out->present[OPT_VERSION] = true;
            return 0;
        }
        return p.fail("expected a command before %s", first);
    }
    const CommandInfo *command = cli_command(first);
    if (!command) return p.fail("unknown command '%s'", first);
    out->command = command->id;

    p.next = 2;
    bool operands_only = false;
    while (p.next < argc) {
        const char *arg = argv[p.next++];
        if (!operands_only && std::strcmp(arg, "--") == 0) {
            operands_only = true;
        } else if (!operands_only && arg[0] == '-' && arg[1] == '-') {
            if (p.long_option(arg) != 0) return -1;
        } else if (!operands_only && arg[0] == '-' && arg[1] != 0) {
            if (p.short_options(arg) != 0) return -1;
        } else {
            out->positional[out->positional_count++] = arg;
        }
    }
    // Given from last to first at the far end: turned round into their order.
    out->excludes -= out->exclude_count;
    std::reverse(out->excludes, out->excludes + out->exclude_count);
    if (out->present[OPT_HELP] || out->present[OPT_VERSION]) return 0;

    // --at N stands for the entry's NAME.
    const int n = out->positional_count + (out->present[OPT_AT] ? 1 : 0);
    if (n < command->min_positional)
        return p.fail("%s", "missing operand");
    if (command->max_positional >= 0 && n > command->max_positional)
        return p.fail("%s", "too many operands");
    out->jobs = 1;
    if (out->present[OPT_JOBS] && cli_parse_jobs(out->value[OPT_JOBS], &out->jobs) != 0)
        return p.fail("%s", "-j takes a number of threads from 1 to 64");
    const char *cp = out->value[OPT_CODEPAGE];
    if (cp && std::strcmp(cp, "936") && std::strcmp(cp, "950")) return p.fail("%s", "--codepage takes 936 (GBK) or 950 (Big5)");
    out->code_page = cp ? std::atoi(cp) : 0;
    uint32_t level = BLOCK_LEVEL_DEFAULT;
    if (out->present[OPT_LEVEL] &&
        (cli_parse_u32(out->value[OPT_LEVEL], &level) != 0 || level < 1 || level > static_cast<uint32_t>(block_level_best())))
    {
        char range[16];
        std::snprintf(range, sizeof range, "%d", block_level_best());
        return p.fail("--level takes a number from 1 (fastest) to %s (smallest)", range);
    }
    out->level = static_cast<int>(level);
    return 0;
}

int cli_parse_drives(const char *text, int *first, int *last)
{
    const size_t n = std::strlen(text);
    const auto byte = [](char c) { return static_cast<int>(static_cast<unsigned char>(c)); };
    if (n == 1) {
        *first = *last = byte(text[0]);
        return 0;
    }
    if (n == 3 && text[1] == '-' && byte(text[0]) <= byte(text[2])) {
        *first = byte(text[0]);
        *last = byte(text[2]);
        return 0;
    }
    return -1;
}

int cli_parse_jobs(const char *text, int *jobs)
{
    uint32_t v = 0;
    if (cli_parse_u32(text, &v) != 0 || v < 1 || v > CLI_MAX_JOBS) return -1;
    *jobs = static_cast<int>(v);
    return 0;
}
