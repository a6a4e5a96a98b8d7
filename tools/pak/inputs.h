// What "pak add" stores: the operands walked into a list of host files, each
// with the name it is stored under, before anything is checked or written.
#pragma once

#include "tools/pak/cli.h"

struct AddInput {
    char *path;  // host file (mem_alloc); "-" for standard input
    char *name;  // stored name as typed, UTF-8 when --codepage (mem_alloc)
    const char *refusal;  // why the file cannot be stored, found on the walk; or null
};

struct InputList {
    AddInput *items;
    int count;
    int capacity;
    char **roots = nullptr;  // per operand, the stored name as typed it stands for ("" for all)
    int root_count = 0;
};

// A folder adds every file beneath it, its entries in byte order; each file
// is named by its path as given ('/' as '\', a leading "./" and doubled
// separators dropped), with --prefix before it, --as for a single file.
// Operands are read under -C DIR when relative. --exclude patterns ('*'
// within a part, '?', ASCII case ignored) match a file or folder name, or
// with a '\' in them the whole name below the operand's own. The exit status: PAK_EXIT_OK, or another after saying why
// (the list is then empty).
int inputs_collect(const PakArgs &args, InputList *list);
void inputs_free(InputList *list);

// The typed name in stored form: '/' as '\', leading ".\" and doubled or
// trailing separators dropped; read as UTF-8 when utf8, else by the build's
// double-byte rule. out has room for strlen(typed) + 1 bytes.
void inputs_normal_name(const char *typed, char *out, bool utf8);
