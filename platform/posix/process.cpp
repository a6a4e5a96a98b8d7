// The running executable's path.
#include <unistd.h>

#include "platform/internal.h"

void process_module_path(char *dest)
{
    // A path that does not fit would name another file: leave it empty.
    const ssize_t len = readlink("/proc/self/exe", dest, MODULE_PATH_MAX);
    dest[len > 0 && len < MODULE_PATH_MAX ? len : 0] = 0;
}
