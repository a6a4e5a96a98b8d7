#include "tools/common/output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/error.h"

namespace {

constexpr int PROGRESS_WIDTH = 72;

struct OutputState {
    OutSink sink;        // null: the console
    void *context;       // handed to sink
    char pending[4096];  // standard output not yet written
    int pending_length;  // 0..sizeof pending
    bool progress_shown; // a progress line stands on the terminal
    bool out_failed;     // a write to standard output failed; later ones are dropped
    bool out_pipe_closed;    // ... because the reader closed the pipe
    char out_reason[256];    // ... and why, for the closing message
    const char *program;     // what error lines start with
    int err_terminal;        // standard error is a terminal: 1, 0, or -1 until asked (once a run)
};
OutputState g_out = {nullptr, nullptr, {}, 0, false, false, false, {}, "tool", -1};

void emit(int stream, const void *bytes, int count)
{
    if (g_out.sink) {
        g_out.sink(stream, bytes, count, g_out.context);
        return;
    }
    if (stream == CONSOLE_OUT && g_out.out_failed) return;
    // Standard error has nowhere to report its own failure.
    if (console_write(stream, bytes, count) == count || stream != CONSOLE_OUT) return;
    g_out.out_failed = true;
    g_out.out_pipe_closed = err_last() == ERR_BROKEN_PIPE;
    std::snprintf(g_out.out_reason, sizeof g_out.out_reason, "%s", out_reason());
}

void clear_progress()
{
    if (!g_out.progress_shown) return;
    g_out.progress_shown = false;
    // Spaces rather than terminal escapes: old Windows consoles print those.
    char erase[PROGRESS_WIDTH + 2];
    erase[0] = '\r';
    std::memset(erase + 1, ' ', PROGRESS_WIDTH);
    erase[PROGRESS_WIDTH + 1] = '\r';
    emit(CONSOLE_ERR, erase, static_cast<int>(sizeof erase));
}

void vprint(int stream, const char *format, va_list args)
{
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        out_write(stream, small, n);
        return;
    }
    char *big = static_cast<char *>(mem_alloc(static_cast<size_t>(n) + 1));
    if (!big) {
        out_write(stream, small, static_cast<int>(sizeof small - 1));
        return;
    }
    std::vsnprintf(big, static_cast<size_t>(n) + 1, format, args);
    out_write(stream, big, n);
    mem_free(big);
}

}  // namespace

void out_write(int stream, const void *bytes, int count)
{
    if (stream != CONSOLE_OUT) {
        // Errors appear after the results printed before them.
        out_flush();
        clear_progress();
        emit(stream, bytes, count);
        return;
    }
    clear_progress();
    const char *p = static_cast<const char *>(bytes);
    while (count > 0 && !g_out.out_failed) {
        const int room = static_cast<int>(sizeof g_out.pending) - g_out.pending_length;
        const int n = count < room ? count : room;
        std::memcpy(g_out.pending + g_out.pending_length, p, static_cast<size_t>(n));
        g_out.pending_length += n;
        p += n;
        count -= n;
        if (g_out.pending_length == static_cast<int>(sizeof g_out.pending)) out_flush();
    }
}

void out_printf(int stream, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vprint(stream, format, args);
    va_end(args);
}

void out_program(const char *name) { g_out.program = name; }

namespace {

void error_line(const char *what, const char *format, va_list args)
{
    out_printf(CONSOLE_ERR, "%s: %s: ", g_out.program, what);
    vprint(CONSOLE_ERR, format, args);
    out_write(CONSOLE_ERR, "\n", 1);
}

}  // namespace

void out_error(const char *what, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    error_line(what, format, args);
    va_end(args);
}

int out_fail(const char *what, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    error_line(what, format, args);
    va_end(args);
    return TOOL_EXIT_FAILED;
}

void out_name_error(const char *what, const char *name, const char *format, ...)
{
    out_printf(CONSOLE_ERR, "%s: ", g_out.program);
    if (what) out_printf(CONSOLE_ERR, "%s: ", what);
    out_name(CONSOLE_ERR, name);
    out_write(CONSOLE_ERR, ": ", 2);
    va_list args;
    va_start(args, format);
    vprint(CONSOLE_ERR, format, args);
    va_end(args);
    out_write(CONSOLE_ERR, "\n", 1);
}

const char *out_reason()
{
    static char text[256];
    const char *detail = err_detail();
    std::snprintf(text, sizeof text, "%s%s%s", err_text(err_last()), detail ? ": " : "", detail ? detail : "");
    return text;
}

void out_failure(const char *what, const char *action) { out_error(what, "%s: %s", action, out_reason()); }

int out_fail_reason(const char *what, const char *action)
{
    out_failure(what, action);
    return TOOL_EXIT_FAILED;
}

void out_name(int stream, const char *name)
{
    const char *run = name;
    for (const char *p = name;; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != 0x7F) continue;
        out_write(stream, run, static_cast<int>(p - run));
        if (c == 0) return;
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        out_write(stream, escaped, 4);
        run = p + 1;
    }
}

void out_flush()
{
    if (g_out.pending_length > 0) emit(CONSOLE_OUT, g_out.pending, g_out.pending_length);
    g_out.pending_length = 0;
}

int out_finish(int status)
{
    out_flush();
    const bool failed = g_out.out_failed, pipe_closed = g_out.out_pipe_closed;
    g_out.out_failed = g_out.out_pipe_closed = false;
    if (!failed) return status;
    if (pipe_closed) return OUT_EXIT_PIPE_CLOSED;
    out_error("standard output", "%s", g_out.out_reason);
    return status == 0 ? 1 : status;
}

void out_set_sink(OutSink sink, void *context)
{
    out_flush();
    g_out.sink = sink;
    g_out.context = context;
    g_out.progress_shown = false;
    g_out.err_terminal = -1;
}

void progress_update(const char *label, long done, long total)
{
    if (g_out.sink) return;
    if (g_out.err_terminal < 0) g_out.err_terminal = console_is_terminal(CONSOLE_ERR) ? 1 : 0;
    if (!g_out.err_terminal) return;
    out_flush();
    char text[PROGRESS_WIDTH + 1];
    std::snprintf(text, sizeof text, "%s: %ld/%ld", label, done, total);
    char line[PROGRESS_WIDTH + 2];
    std::snprintf(line, sizeof line, "\r%-*s", PROGRESS_WIDTH, text);
    emit(CONSOLE_ERR, line, static_cast<int>(std::strlen(line)));
    g_out.progress_shown = true;
}

void progress_end()
{
    clear_progress();
    g_out.err_terminal = -1;
}
