// Standard output and error for the command-line tools.
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/platform.h"

void console_start()
{
    // A stream the caller closed is held on /dev/null opened for the other
    // direction: the next file the tool opens would otherwise take its number
    // and receive the output, and this way a write still fails.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
        if (held != -1 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}

int console_write(int stream, const void *bytes, int count)
{
    const int fd = stream == CONSOLE_ERR ? 2 : 1;
    const char *p = static_cast<const char *>(bytes);
    int done = 0;
    while (done < count) {
        const ssize_t n = write(fd, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) err_from_system();
        if (n == 0) err_set(ERR_IO);
        if (n <= 0) break;
        done += static_cast<int>(n);
    }
    return done;
}

int console_is_terminal(int stream)
{
    return isatty(stream == CONSOLE_ERR ? 2 : 1) ? 1 : 0;
}

int console_read(void *buffer, int count)
{
    for (;;) {
        const ssize_t n = read(0, buffer, static_cast<size_t>(count));
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR) return err_from_system(), -1;
    }
}
