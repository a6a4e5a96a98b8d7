// What cfgtool says about a file beyond the store's content: where the
// program reads something other than what was almost certainly meant, as
// "cfgtool: FILE:LINE: warning: ...", in line order; and names shown in
// UTF-8 from the game's code page.
#pragma once

#include <cstddef>
#include <cstdint>

// 936 (GBK) or 950 (Big5) when names are shown in UTF-8; 0 shows the bytes.
extern int g_code_page;

// Text from a file as it is shown: in UTF-8 with a code page (as stored when
// it has no UTF-8 form), control bytes as \xNN so that it stays on its line.
typedef void (*TextSink)(void *context, const char *bytes, size_t count);
void shown_text(const char *text, size_t count, TextSink sink, void *context);

// A path as the user's system writes it: '\' is '/' on POSIX.
void shown_path(const char *path, char *out, int size);

// Before path is loaded: refuses (-1, said on standard error) a file that is
// no plain file (a FIFO or device, which a load would wait on). 0 otherwise,
// also when the file is not found (the load then says why).
int explain_before_load(const char *shown, const char *path);
// For cfg_load's report: the file's text as the load read it (so that the
// file is opened once), whose warnings are kept, and each include as the
// load met it. An include that is no plain file is said at once.
void explain_text(void *context, const char *text, int32_t length);
void explain_include(void *context, const char *name, bool opened);
// After the load: the includes, the repeated names, then every warning about
// the file, in line order; -1 when an include named no plain file.
int explain_after_load();
// Said by --int: a number that does not fit 32 bits, as the program wraps it.
// key is the record that holds it (its value, or the macro it names).
void explain_number(int32_t key, const char *value);
// Releases what the warnings kept.
void explain_end();
