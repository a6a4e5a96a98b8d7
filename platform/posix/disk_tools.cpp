// File operations that only the command-line tools need, with the results
// the Windows build gives: a file held open, or a read-only target, is not
// replaced.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix/native.h"

int disk_replace(const char *source, const char *target)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return -1;
    const NativeName from(source);
    const NativeName to(target);
    if (!from.ok || !to.ok || held_open(from.path) || held_open(to.path)) return -1;
    struct stat st;
    if (lstat(to.path, &st) == 0 && (S_ISDIR(st.st_mode) || is_read_only(st))) return -1;
    return std::rename(from.path, to.path) == 0 ? 0 : -1;
}

int64_t disk_file_size(const char *name)
{
    const NativeName path(name);
    struct stat st;
    if (!path.ok || stat(path.path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}
