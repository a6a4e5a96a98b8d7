// Disk files and folders: one kernel call each, with the flags callers rely on.
#include <windows.h>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"

namespace {

HANDLE to_system(int handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }

// Moves a handle off the values archive handles use; -1 when that fails.
// Each duplicate gets a value of its own while the ones before it are held.
int from_system(HANDLE h)
{
    HANDLE held[DISK_RESERVED_HANDLE_COUNT];
    int count = 0;
    const HANDLE self = GetCurrentProcess();
    while (h != INVALID_HANDLE_VALUE && handle_is_reserved(reinterpret_cast<intptr_t>(h))) {
        held[count++] = h;
        if (!DuplicateHandle(self, h, self, &h, 0, FALSE, DUPLICATE_SAME_ACCESS))
            h = INVALID_HANDLE_VALUE;
    }
    if (h == INVALID_HANDLE_VALUE) err_from_system();
    while (count > 0) CloseHandle(held[--count]);
    return h == INVALID_HANDLE_VALUE ? -1 : static_cast<int>(reinterpret_cast<intptr_t>(h));
}

// The reason of the call that just failed, and -1.
int system_failed()
{
    err_from_system();
    return -1;
}

// Windows refuses to open a folder as a file with "access denied"; say what
// it is instead.
int opened(const char *name, HANDLE h)
{
    if (h != INVALID_HANDLE_VALUE) return from_system(h);
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesA(name);
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return fail(ERR_IS_FOLDER, -1);
    SetLastError(error);
    return system_failed();
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
    return opened(name, CreateFileA(name, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

int disk_create(const char *name, int attributes)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    if (attributes != 0) {
        flags = static_cast<DWORD>(attributes) &
                (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        if (flags & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM)) access = GENERIC_READ;
    }
    return opened(name, CreateFileA(name, access, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, flags, nullptr));
}

int disk_create_new(const char *name)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    // Sharing deletion only, so that an interruption can remove the file
    // while it is being written (win32/temp.cpp).
    return opened(name, CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

int disk_copy_mode(const char *from, const char *to)
{
    const DWORD attributes = GetFileAttributesA(from);
    if (attributes == INVALID_FILE_ATTRIBUTES) return system_failed();
    const DWORD kept = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    return SetFileAttributesA(to, kept ? kept : FILE_ATTRIBUTE_NORMAL) ? 0 : system_failed();
}

int disk_read(int handle, void *buffer, int count)
{
    DWORD done = 0;
    if (count < 0) return fail(ERR_FAILED, 0, "negative count");
    if (!ReadFile(to_system(handle), buffer, static_cast<DWORD>(count), &done, nullptr)) {
        err_from_system();
        return 0;
    }
    return static_cast<int>(done);
}

int disk_write(int handle, const void *buffer, int count)
{
    if (PLATFORM_FAULT(FAULT_WRITE)) return fail(ERR_IO, 0, "injected write failure");
    DWORD done = 0;
    if (count < 0) return fail(ERR_FAILED, 0, "negative count");
    if (!WriteFile(to_system(handle), buffer, static_cast<DWORD>(count), &done, nullptr)) {
        err_from_system();
        return 0;
    }
    if (static_cast<int>(done) != count) err_set(ERR_DISK_FULL);
    return static_cast<int>(done);
}

int disk_close(int handle)
{
    if (handle == -1) return fail(ERR_FAILED, -1, "no file open");
    return CloseHandle(to_system(handle)) ? 0 : system_failed();
}

uint32_t disk_seek(int handle, int32_t distance, int origin)
{
    const DWORD at = SetFilePointer(to_system(handle), distance, nullptr, static_cast<DWORD>(origin));
    if (at == INVALID_SET_FILE_POINTER) err_from_system();
    return at;
}

uint32_t disk_size(int handle)
{
    const DWORD size = GetFileSize(to_system(handle), nullptr);
    if (size == INVALID_FILE_SIZE) err_from_system();
    return size;
}

int disk_delete(const char *name)
{
    if (PLATFORM_FAULT(FAULT_DELETE)) return fail(ERR_IO, -1, "injected delete failure");
    return DeleteFileA(name) ? 0 : system_failed();
}

int disk_link(const char *existing, const char *new_name)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    return CreateHardLinkA(new_name, existing, nullptr) ? 0 : system_failed();
}

int disk_rename(const char *old_name, const char *new_name)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return fail(ERR_IO, -1, "injected rename failure");
    return MoveFileA(old_name, new_name) ? 0 : system_failed();
}

int disk_mkdir(const char *path) { return CreateDirectoryA(path, nullptr) ? 0 : system_failed(); }

int disk_rmdir(const char *path) { return RemoveDirectoryA(path) ? 0 : system_failed(); }

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

int disk_flush(int handle)
{
    if (PLATFORM_FAULT(FAULT_FLUSH)) return fail(ERR_IO, -1, "injected flush failure");
    return FlushFileBuffers(to_system(handle)) ? 0 : system_failed();
}

int disk_set_attributes(const char *name, uint32_t attributes)
{
    return SetFileAttributesA(name, attributes) ? 0 : system_failed();
}

int disk_replace(const char *source, const char *target)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return fail(ERR_IO, -1, "injected rename failure");
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : system_failed();
}

int64_t disk_file_size(const char *name)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return system_failed();
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return fail(ERR_IS_FOLDER, -1);
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
