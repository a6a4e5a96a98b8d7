// The running executable's path.
#include <windows.h>

#include "platform/internal.h"

void process_module_path(char *dest)
{
    // A cut path names another file (and older systems leave it without a
    // terminator): leave the destination empty instead.
    const DWORD len = GetModuleFileNameA(nullptr, dest, MODULE_PATH_MAX);
    dest[len > 0 && len < MODULE_PATH_MAX ? len : 0] = 0;
}
