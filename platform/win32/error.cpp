// GetLastError, mapped once to the layer's reasons.
#include <windows.h>

#include "platform/error.h"

void err_from_system()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NO_MORE_FILES: err_set(ERR_NOT_FOUND); return;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD: err_set(ERR_ACCESS_DENIED); return;
    case ERROR_WRITE_PROTECT: err_set(ERR_READ_ONLY_FS); return;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: err_set(ERR_HELD); return;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: err_set(ERR_DISK_FULL); return;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_DIR_NOT_EMPTY: err_set(ERR_EXISTS); return;
    case ERROR_FILE_TOO_LARGE: err_set(ERR_TOO_LARGE); return;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: err_set(ERR_NO_MEMORY); return;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW: err_set(ERR_NAME_TOO_LONG); return;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY: err_set(ERR_BAD_NAME); return;
    case ERROR_TOO_MANY_OPEN_FILES: err_set(ERR_TOO_MANY); return;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE: err_set(ERR_IO); return;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: err_set(ERR_BROKEN_PIPE); return;
    case ERROR_INVALID_HANDLE: err_set(ERR_FAILED, "not open"); return;
    default: err_set(ERR_FAILED); return;
    }
}
