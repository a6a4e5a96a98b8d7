// The running executable's path and the current directory.
#include <windows.h>

#include "platform/internal.h"
#include "platform/platform.h"

void process_module_path(char *dest)
{
    // A cut path names another file (and older systems leave it without a
    // terminator): leave the destination empty instead.
    const DWORD len = GetModuleFileNameA(nullptr, dest, MODULE_PATH_MAX);
    dest[len > 0 && len < MODULE_PATH_MAX ? len : 0] = 0;
}

int disk_current_dir(char *dest, int size)
{
    // A directory that does not fit is reported by its needed size, with the
    // buffer left undefined: leave it empty.
    const DWORD len = size > 0 ? GetCurrentDirectoryA(static_cast<DWORD>(size), dest) : 0;
    if (len > 0 && len < static_cast<DWORD>(size)) return 0;
    if (size > 0) dest[0] = 0;
    return -1;
}
