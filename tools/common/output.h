// What a tool writes: results to standard output, collected in blocks (one
// console write a line would make large listings slow), "<tool>: <what>:
// <reason>" lines to standard error, names with their control bytes shown,
// a progress line on a terminal, and the exit status once a reader closed
// the pipe. Shared by the tools; tests redirect all of it into a sink.
#pragma once

#include "platform/platform.h"

// The exit statuses every tool gives.
enum {
    TOOL_EXIT_OK = 0,
    TOOL_EXIT_FAILED = 1,
    TOOL_EXIT_USAGE = 2,
    // A reader that closed the pipe: the status a shell shows for a program
    // that SIGPIPE ended (which is what happens first on POSIX, where SIGPIPE
    // keeps its default action; this is for Windows and for callers that
    // ignore SIGPIPE).
    OUT_EXIT_PIPE_CLOSED = 128 + 13,
};

// The tool's name, which every error line starts with; set once before the
// first one (a string that outlives the run).
void out_program(const char *name);

void out_write(int stream, const void *bytes, int count);
void out_printf(int stream, const char *format, ...) __attribute__((format(printf, 2, 3)));
// "<tool>: <what>: <text>" on standard error.
void out_error(const char *what, const char *format, ...) __attribute__((format(printf, 2, 3)));
// "<tool>: <what>: <name>: <text>" on standard error, the name as out_name
// writes it; without what, "<tool>: <name>: <text>".
void out_name_error(const char *what, const char *name, const char *format, ...) __attribute__((format(printf, 3, 4)));
// out_error, then TOOL_EXIT_FAILED: a command says why and stops in one
// return.
int out_fail(const char *what, const char *format, ...) __attribute__((format(printf, 2, 3)));
// The last failure's reason as text ("access denied", "damaged: the
// directory runs past the end of the file"); valid until the next call.
const char *out_reason();
// "<tool>: <what>: <action>: <the last failure's reason>" on standard error.
void out_failure(const char *what, const char *action);
// out_failure, then TOOL_EXIT_FAILED.
int out_fail_reason(const char *what, const char *action);
// A name as text: control characters (which could steer a terminal) are
// written as \xNN, every other byte as it is.
void out_name(int stream, const char *name);
// Writes out what standard output still holds.
void out_flush();
// Once a write to standard output failed, the rest is dropped.
// The exit status once the command returned status: flushes, and when a
// write to standard output failed says "<tool>: standard output: <reason>"
// and makes a success 1; a closed pipe ends it quietly with
// OUT_EXIT_PIPE_CLOSED. Resets the failure for the next run.
int out_finish(int status);

// A sink takes everything instead of the console; null restores the console.
typedef void (*OutSink)(int stream, const void *bytes, int count, void *context);
void out_set_sink(OutSink sink, void *context);

// "label: done/total" rewritten in place on standard error, only when that is
// a terminal (never in a pipe, a file or a test sink). progress_end clears it.
void progress_update(const char *label, long done, long total);
void progress_end();
