// Names as people type and read them: '/' for '\', and with --codepage
// UTF-8 on the command line and the disk for GBK (936) or Big5 (950) stored.
#pragma once

#include "platform/platform.h"
#include "tools/pak/cli.h"

// A name typed on the command line in stored form: every '/' as '\' (no
// trail byte of either code page is a '/'), then converted from UTF-8 when
// code_page is not 0. 0, or -1 after naming it and saying why.
int typed_name(const char *typed, int code_page, char *out, int size);
// The same for a NAME or PATTERN that finds entries, less a leading "./"
// (or ".\"), as add names its entries: "./-v" is the way to type a name that
// begins with '-'.
int typed_entry_name(const char *typed, int code_page, char *out, int size);

// The patterns list and extract take (operands after the archive), in
// stored form, each with whether it matched an entry.
struct TypedPatterns {
    char (*patterns)[PATH_BUFFER_SIZE];  // mem_alloc'd; null when none
    bool *used;
    int count;
};
// Reads them; 0, or -1 after saying why. typed_patterns_free either way.
int typed_patterns(const PakArgs &args, int code_page, TypedPatterns *out);
void typed_patterns_free(TypedPatterns *t);
// Whether the stored name is wanted: no patterns, or one matches (each that
// does is marked used).
bool typed_patterns_want(TypedPatterns *t, const char *stored);
// "no entry matches in ARCHIVE" for each pattern that matched nothing;
// whether there was one.
bool typed_patterns_unmatched(const TypedPatterns &t, const PakArgs &args, int code_page, const char *archive);

// What "no such entry" adds for a name typed as typed: how to ask for a name
// whose stored form differs from the typed one ("" when nothing helps).
const char *no_entry_hint(const char *typed, int code_page, const char *archive);

// The stored name as UTF-8 when code_page is not 0, else as it is. 0, or -1
// when it has no UTF-8 form (out then holds it as it is).
int shown_name(const char *stored, int code_page, char *out, int size);
