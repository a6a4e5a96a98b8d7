// The pak tool: one function per command, and the entry that dispatches to
// them. Commands print their results and errors themselves and return the
// exit status.
#pragma once

#include "tools/common/output.h"
#include "tools/pak/cli.h"

enum {
    PAK_EXIT_OK = TOOL_EXIT_OK,
    PAK_EXIT_FAILED = TOOL_EXIT_FAILED,
    PAK_EXIT_USAGE = TOOL_EXIT_USAGE,
};

// The whole tool, as main runs it. Leaves nothing mounted and the drive-strip
// switch off, so tests can call it again and again.
int pak_main(int argc, char **argv);

// Help (help.cpp): the overview for CMD_NONE, else the command's page.
void print_help(PakCommand command);
// "pak: <command>: <reason>" and a pointer to the help; returns PAK_EXIT_USAGE.
int usage_error(PakCommand command, const char *reason);

int cmd_info(const PakArgs &args);
int cmd_list(const PakArgs &args);
int cmd_extract(const PakArgs &args);
int cmd_cat(const PakArgs &args);
int cmd_verify(const PakArgs &args);
int cmd_create(const PakArgs &args);
int cmd_add(const PakArgs &args);
int cmd_delete(const PakArgs &args);
int cmd_rename(const PakArgs &args);
int cmd_compact(const PakArgs &args);
int cmd_attach(const PakArgs &args);
int cmd_detach(const PakArgs &args);
int cmd_sync(const PakArgs &args);
int cmd_diff(const PakArgs &args);

// The tools' version, set once in the build.
constexpr const char *PAK_VERSION = KORIN_TOOLS_VERSION;
