// The configuration reader: INI-style files with sections, keys, comments and
// the directives "define" and "include", loaded into one module-wide store and
// looked up by section and key. Files are read through the virtual files, so a
// configuration file may also be an entry of a mounted archive.
//
// Unlike the rest of the system the reader answers 1 or 0, and its handles are
// 0 when nothing was found. A failed cfg_load leaves its reason in err_last()
// (platform/error.h): the open's (not found, a folder, held, ...), too large,
// or out of memory.
//
// Routines marked "(not called by the product)" belong to the system's
// interface and are used by the tools and tests only.
#pragma once

#include <cstdint>

enum CfgToken {
    CFG_END = 0,
    CFG_SECTION = 1,
    CFG_KEY = 2,
    CFG_DIRECTIVE = 3,
};

// ---- Loading (load.cpp) ----------------------------------------------------------

// What a load saw, for a tool that explains a file (the product passes none).
struct CfgLoadReport {
    // Called for each include directive, in order, with whether it opened;
    // name is valid until the next load.
    void (*include)(void *context, const char *name, bool opened);
    // Called once the file is read, before parsing changes the stored text in
    // place: its bytes, and the CR LF that ends every stored text.
    void (*text)(void *context, const char *text, int32_t length);
    void *context;
};

// Appends a file to the store: 1, or 0 when it opens nowhere (the reason of
// the name as given) or cannot be held (too large, out of memory). An include
// that opens nowhere is skipped; the load still succeeds.
int32_t cfg_load(const char *path, CfgLoadReport *report = nullptr);
void cfg_free();
void cfg_set_include_folder(const char *folder);
// Opens an include as the last load looks for it: as given, beside the
// configuration file, then in the include folder. A handle, or -1.
int cfg_open_include(const char *name);
// The text must end in CR LF, as every stored text does: scanning inside a
// token relies on it.
int cfg_next_token(char *text, int32_t *position, int32_t length, int32_t *name_out,
                   int32_t *value_out, const char *base);

// ---- Pieces, for tools (pieces.cpp) -----------------------------------------------
// For a tool that explains a file: what a load would read, with nothing opened
// and no store changed.

// The configuration folder a load of path would take (128 bytes; empty when
// it cannot be had), as cfg_load sets it.
void cfg_folder_of(const char *path, char *folder);
// The n-th place a load looks for a file of that name, n from 0: as given,
// then beside the configuration file (folder), then in the include folder
// (includes only). False when that place is not tried.
bool cfg_search_place(const char *folder, const char *name, int n, char *out, int size);

// One part of a text as the tokenizer reads it. Offsets are from the start
// of the text; every byte of the text belongs to at most one piece.
enum { CFG_SKIPPED = 4 };  // a comment, or a directive line dropped whole
struct CfgPiece {
    int kind;              // CFG_SECTION, CFG_KEY, CFG_DIRECTIVE or CFG_SKIPPED
    int32_t start;         // the piece's first byte ('[' and '#' included)
    int32_t end;           // past what the tokenizer passed over: its line's LF
    int32_t name, name_end;    // the bytes it scanned as the name (a NUL among
                               // them ends the name the program reads there)
    int32_t value, value_end;  // the value as scanned, trailing blanks dropped;
                               // value == -1 for none
};
// Reads a text of length bytes (a file's own, without the CR LF a load
// appends) as cfg_load reads it, on a copy, calling visit for each piece in
// text order. Offsets may reach length + 1 (the appended CR LF). 0, or -1
// when the copy cannot be had.
int cfg_walk_pieces(const char *text, int32_t length, void (*visit)(void *context, const CfgPiece &piece), void *context);

// ---- Lookup (lookup.cpp) -----------------------------------------------------------
// Handles are a record's position + 1, 0 for none. Destinations have no size
// argument (the caller makes room for the longest value) and may be null.

int32_t cfg_find_section(const char *name, int32_t n);
int32_t cfg_find_next_section(const char *name, int32_t section);
const char *cfg_get_string(const char *key, int32_t n, int32_t section, char *dest);
int cfg_get_int(const char *key, int32_t n, int32_t section, int32_t *out);
int cfg_value_to_int(const char *text, int32_t *out);
// A value that cfg_get_string returned, read as cfg_get_int reads it.
int cfg_stored_to_int(const char *value, int32_t *out);
// (the rest of this section: not called by the product)
int cfg_find_macro(char *dest, const char *name);
int32_t cfg_next_section(int32_t section, char *name_dest);
int32_t cfg_next_key(int32_t handle, char *name_dest, char *value_dest);
int32_t cfg_count_sections(const char *name, int32_t section);
int32_t cfg_count_keys(const char *name, int32_t section);

// In-place access for callers that cannot size a copy's buffer (a tool printing
// whatever a file holds): the name and the value ("" for none) of a section or
// key record, or null for a handle that names none; and the macros in
// definition order, starting with handle 0. Addresses are valid until the next
// cfg_load or cfg_free.
const char *cfg_entry_name(int32_t handle);
const char *cfg_entry_value(int32_t handle);
int32_t cfg_next_macro(int32_t handle, const char **name, const char **value);

// ---- Numbers (number.cpp) ------------------------------------------------------------

int parse_int(const char *text, int32_t *out);
void format_int(uint32_t value, char *dest, int32_t base, int32_t width, int fill);  // (not called by the product)
int32_t int_sqrt(int32_t x);  // (not called by the product)

// ---- Tests ----------------------------------------------------------------------------

// cfg_free, and both folders emptied.
void cfg_reset();
