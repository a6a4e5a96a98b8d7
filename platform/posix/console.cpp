// Standard output and error for the command-line tools.
#include <cerrno>
#include <unistd.h>

#include "platform/platform.h"

int console_write(int stream, const void *bytes, int count)
{
    const int fd = stream == CONSOLE_ERR ? 2 : 1;
    const char *p = static_cast<const char *>(bytes);
    int done = 0;
    while (done < count) {
        const ssize_t n = write(fd, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<int>(n);
    }
    return done;
}

int console_is_terminal(int stream)
{
    return isatty(stream == CONSOLE_ERR ? 2 : 1) ? 1 : 0;
}
