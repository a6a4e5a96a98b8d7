// Disk files and folders: one kernel call each, with the flags callers rely on.
#include <windows.h>

#include "platform/internal.h"
#include "platform/platform.h"

namespace {

HANDLE to_system(int handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }

// Moves a handle off the values archive handles use; -1 when that fails.
// Each duplicate gets a value of its own while the ones before it are held.
int from_system(HANDLE h)
{
    HANDLE held[RESERVED_HANDLE_LAST - RESERVED_HANDLE_FIRST + 1];
    int count = 0;
    const HANDLE self = GetCurrentProcess();
    while (h != INVALID_HANDLE_VALUE && handle_is_reserved(reinterpret_cast<intptr_t>(h))) {
        held[count++] = h;
        if (!DuplicateHandle(self, h, self, &h, 0, FALSE, DUPLICATE_SAME_ACCESS))
            h = INVALID_HANDLE_VALUE;
    }
    while (count > 0) CloseHandle(held[--count]);
    return h == INVALID_HANDLE_VALUE ? -1 : static_cast<int>(reinterpret_cast<intptr_t>(h));
}

}  // namespace

int disk_open(const char *name, int mode)
{
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    switch (mode & 0xF) {
    case DISK_WRITE: access = GENERIC_WRITE; share = 0; break;
    case DISK_READ_WRITE: access = GENERIC_READ | GENERIC_WRITE; share = 0; break;
    default: break;
    }
    return from_system(
        CreateFileA(name, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

int disk_create(const char *name, int attributes)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return -1;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    if (attributes != 0) {
        flags = static_cast<DWORD>(attributes) &
                (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        if (flags & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM)) access = GENERIC_READ;
    }
    return from_system(
        CreateFileA(name, access, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, flags, nullptr));
}

int disk_read(int handle, void *buffer, int count)
{
    DWORD done = 0;
    if (count < 0 || !ReadFile(to_system(handle), buffer, static_cast<DWORD>(count), &done, nullptr))
        return 0;
    return static_cast<int>(done);
}

int disk_write(int handle, const void *buffer, int count)
{
    if (PLATFORM_FAULT(FAULT_WRITE)) return 0;
    DWORD done = 0;
    if (count < 0 ||
        !WriteFile(to_system(handle), buffer, static_cast<DWORD>(count), &done, nullptr))
        return 0;
    return static_cast<int>(done);
}

int disk_close(int handle)
{
    if (handle == -1) return -1;
    return CloseHandle(to_system(handle)) ? 0 : -1;
}

uint32_t disk_seek(int handle, int32_t distance, int origin)
{
    return SetFilePointer(to_system(handle), distance, nullptr, static_cast<DWORD>(origin));
}

uint32_t disk_size(int handle) { return GetFileSize(to_system(handle), nullptr); }

int disk_delete(const char *name) { return DeleteFileA(name) ? 0 : -1; }

int disk_rename(const char *old_name, const char *new_name)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return -1;
    return MoveFileA(old_name, new_name) ? 0 : -1;
}

int disk_mkdir(const char *path) { return CreateDirectoryA(path, nullptr) ? 0 : -1; }

int disk_rmdir(const char *path) { return RemoveDirectoryA(path) ? 0 : -1; }

int disk_force_delete(const char *name)
{
    SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
    return disk_delete(name);
}

int disk_force_create(const char *name, int attributes)
{
    disk_force_delete(name);
    return disk_create(name, attributes);
}

int disk_flush(int handle) { return FlushFileBuffers(to_system(handle)) ? 0 : -1; }

int disk_set_attributes(const char *name, uint32_t attributes)
{
    return SetFileAttributesA(name, attributes) ? 0 : -1;
}
