// What pak writes: results to standard output, "pak: <what>: <reason>" lines
// to standard error, and a progress line on a terminal. Tests redirect all of
// it into a sink of their own.
#pragma once

#include "platform/platform.h"

void out_write(int stream, const void *bytes, int count);
void out_printf(int stream, const char *format, ...) __attribute__((format(printf, 2, 3)));
// "pak: <what>: <reason>" on standard error.
void out_error(const char *what, const char *format, ...) __attribute__((format(printf, 2, 3)));
// The last failure's reason as text ("access denied", "damaged: the
// directory runs past the end of the file"); valid until the next call.
const char *out_reason();
// "pak: <what>: <action>: <the last failure's reason>" on standard error.
void out_failure(const char *what, const char *action);
// An entry name as text: control characters (which could steer a terminal)
// are written as \xNN, every other byte as it is.
void out_name(int stream, const char *name);
// Writes out what standard output still holds.
void out_flush();

// A sink takes everything instead of the console; null restores the console.
typedef void (*OutSink)(int stream, const void *bytes, int count, void *context);
void out_set_sink(OutSink sink, void *context);

// "label: done/total" rewritten in place on standard error, only when that is
// a terminal (never in a pipe, a file or a test sink). progress_end clears it.
void progress_update(const char *label, long done, long total);
void progress_end();
