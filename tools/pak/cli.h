// Command line of the pak tool: the commands, their options, and the parsing
// of one command line into a PakArgs. Pure functions, no output.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum PakCommand {
    CMD_NONE,  // no command: "pak --help" or a bare "pak"
    CMD_INFO,
    CMD_LIST,
    CMD_EXTRACT,
    CMD_CAT,
    CMD_VERIFY,
    CMD_CREATE,
    CMD_ADD,
    CMD_DELETE,
    CMD_RENAME,
    CMD_COMPACT,
    CMD_ATTACH,
    CMD_DETACH,
    CMD_SYNC,
    CMD_DIFF,
    CMD_COUNT,
};

enum PakOption {
    OPT_HELP,
    OPT_LONG,        // list -l
    OPT_ALL,         // list -a
    OPT_JSON,        // info, list
    OPT_DIR,         // extract -C DIR
    OPT_RAW,         // extract --raw
    OPT_DRIVES,      // create --drives FIRST[-LAST]
    OPT_PACKED_DIR,  // create --packed-dir
    OPT_USER_VALUE,  // create --user-value N
    OPT_AS,          // add --as NAME
    OPT_STORE,       // add --store
    OPT_KEEP_OLD,    // add --keep-old
    OPT_JOBS,        // add, extract -j N
    OPT_FORCE,       // add --force: store a name extract would refuse; attach --force: to a non-program;
                     // detach --force: over existing outputs
                     // extract, cat --force: a damaged-looking packed block as stored data;
                     // compact --force: over an existing backup
    OPT_VERSION,     // --version, any command or none
    OPT_VERBOSE,     // add, extract -v: one line per entry
    OPT_KEEP,        // extract --keep: never overwrite a file
    OPT_PREFIX,      // add --prefix P
    OPT_EXCLUDE,     // add --exclude PATTERN, repeatable
    OPT_CODEPAGE,    // --codepage 936|950: UTF-8 names on the command line and disk
    OPT_APPENDED,    // read commands: the archive is attached to a program of any name
    OPT_OUTPUT,      // detach -o ARCHIVE
    OPT_PROGRAM,     // detach --program OUT
    OPT_DRY_RUN,     // sync --dry-run: say what would change, change nothing
    OPT_AT,          // cat, delete, rename --at N: the record at position N
    OPT_LEVEL,       // add, sync --level N
    OPT_COUNT,
};

struct CommandInfo {
    PakCommand id;
    const char *name;
    uint32_t options;    // bit (1 << PakOption) for each option it takes
    int min_positional;  // operands, the archive included
    int max_positional;  // -1: no limit
};

struct PakArgs {
    PakCommand command;
    bool present[OPT_COUNT];
    const char *value[OPT_COUNT];  // the option's argument, or null
    const char **positional;       // operands in the order given
    int positional_count;
    const char **excludes;         // every --exclude, in the order given
    int exclude_count;
    int jobs;       // -j, checked: 1 to CLI_MAX_JOBS (1 without it)
    int code_page;  // --codepage, checked: 936 or 950 (0 without it)
    int level;      // add --level, checked: 1 to block_level_best() (BLOCK_LEVEL_DEFAULT without it)
};

// The command called name, or null.
const CommandInfo *cli_command(const char *name);
const CommandInfo *cli_command_info(PakCommand id);

// Parses argv[1..argc-1]. positional_space must have room for argc pointers;
// out->positional points into it, and out->excludes into its far end (the
// two never meet: each argument is one or the other at most). Options may stand anywhere among the
// operands; "--" ends them. "-j4" and "--as=NAME" are accepted as well as
// "-j 4" and "--as NAME". With --help present the operand counts are not
// checked; the values of -j and --codepage are. Result 0, or -1 with the
// reason in error (a usage error).
int cli_parse(int argc, char **argv, const char **positional_space, PakArgs *out, char *error,
              int error_size);

// Value parsers: 0 and the value, or -1 for text that is not one.
// A u32 in decimal or 0x-hexadecimal, nothing else around it.
inline int cli_parse_u32(const char *text, uint32_t *value) { return text_to_u32(text, 0, value); }
// "#" or "A-Z": one byte, or two bytes joined by '-', the first not above the
// second.
int cli_parse_drives(const char *text, int *first, int *last);
// A thread count from 1 to CLI_MAX_JOBS.
constexpr int CLI_MAX_JOBS = 64;
int cli_parse_jobs(const char *text, int *jobs);
