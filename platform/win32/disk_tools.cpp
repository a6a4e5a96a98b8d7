// File operations that only the command-line tools need.
#include <windows.h>

#include "platform/internal.h"
#include "platform/platform.h"

int disk_replace(const char *source, const char *target)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return -1;
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}

int64_t disk_file_size(const char *name)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
