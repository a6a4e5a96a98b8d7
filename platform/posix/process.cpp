// The running executable's path and the current directory.
#include <unistd.h>

#include "platform/internal.h"
#include "platform/platform.h"

void process_module_path(char *dest)
{
    // A path that does not fit would name another file: leave it empty.
    const ssize_t len = readlink("/proc/self/exe", dest, MODULE_PATH_MAX);
    dest[len > 0 && len < MODULE_PATH_MAX ? len : 0] = 0;
}

int disk_current_dir(char *dest, int size)
{
    if (size > 0 && getcwd(dest, static_cast<size_t>(size))) return 0;
    if (size > 0) dest[0] = 0;
    return -1;
}
