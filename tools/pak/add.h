// What add and sync share: the files checked before anything is written,
// then packed (-j) and appended to a working copy in the order given.
#pragma once

#include "archive/archive.h"
#include "tools/pak/cli.h"
#include "tools/pak/edit_session.h"
#include "tools/pak/inputs.h"
#include "tools/pak/pack_pool.h"

typedef char StoredName[PAK_NAME_SIZE];

// Converts and checks the name and size of every input into names[i] and
// items[i] (path, size, store; standard input read), and refuses two inputs
// under one name: one as lookups compare names, or with exact the same
// bytes (case variants allowed); none with --keep-old. Says what is wrong
// with each; 0 with the bytes they may take in *total, or -1.
int add_check(const PakArgs &args, const InputList &inputs, PackItem *items, StoredName *names, long long *total,
              bool exact);
// Packs the items on args.jobs threads and appends each to the working copy
// as a new entry, in order; with replace, one replaces the newest live entry
// of its name. -v names each one (inputs' names). 0, or -1 after saying why.
int add_append(EditSession *session, const PakArgs &args, const AddInput *inputs, PackItem *items, StoredName *names,
               int count, bool replace);
