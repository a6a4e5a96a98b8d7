// Standard output and error for the command-line tools. WriteFile on the
// standard handles moves bytes unchanged, so "pak cat" output stays binary.
#include <windows.h>

#include "platform/error.h"
#include "platform/platform.h"

// Standard handles are not numbered slots that a later open could take over.
void console_start() {}

static HANDLE std_handle(int stream)
{
    return GetStdHandle(stream == CONSOLE_ERR ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

int console_write(int stream, const void *bytes, int count)
{
    const HANDLE h = std_handle(stream);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return count > 0 ? fail(ERR_FAILED, 0, "not open") : 0;
    const char *p = static_cast<const char *>(bytes);
    int done = 0;
    while (done < count) {
        DWORD n = 0;
        if (!WriteFile(h, p + done, static_cast<DWORD>(count - done), &n, nullptr)) {
            err_from_system();
            break;
        }
        if (n == 0) {
            err_set(ERR_IO);
            break;
        }
        done += static_cast<int>(n);
    }
    return done;
}

int console_is_terminal(int stream)
{
    const HANDLE h = std_handle(stream);
    return h != INVALID_HANDLE_VALUE && h != nullptr && GetFileType(h) == FILE_TYPE_CHAR ? 1 : 0;
}

int console_read(void *buffer, int count)
{
    const HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return fail(ERR_FAILED, -1, "not open");
    DWORD got = 0;
    if (ReadFile(h, buffer, static_cast<DWORD>(count), &got, nullptr)) return static_cast<int>(got);
    // A pipe whose writer is gone has simply ended.
    if (GetLastError() == ERROR_BROKEN_PIPE) return 0;
    return err_from_system(), -1;
}
