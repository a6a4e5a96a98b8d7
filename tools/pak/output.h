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
// Once a write to standard output failed, the rest is dropped.
// The exit status once the command returned status: flushes, and when a
// write to standard output failed says "pak: standard output: <reason>" and
// makes a success 1. A reader that closed the pipe ends it quietly with
// OUT_EXIT_PIPE_CLOSED, the status a shell shows for a program that SIGPIPE
// ended (which is what happens first on POSIX, where SIGPIPE keeps its
// default action; this is for Windows and for callers that ignore SIGPIPE).
// Resets the failure for the next run.
int out_finish(int status);
constexpr int OUT_EXIT_PIPE_CLOSED = 128 + 13;

// A sink takes everything instead of the console; null restores the console.
typedef void (*OutSink)(int stream, const void *bytes, int count, void *context);
void out_set_sink(OutSink sink, void *context);

// "label: done/total" rewritten in place on standard error, only when that is
// a terminal (never in a pipe, a file or a test sink). progress_end clears it.
void progress_update(const char *label, long done, long total);
void progress_end();
