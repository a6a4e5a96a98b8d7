// A pinned folder on Windows. The folder is held open without sharing
// deletion, so it can be neither renamed nor removed, and NTFS renames no
// folder above an open handle either: its final path (GetFinalPathNameByHandleW,
// every link on the way resolved) names the same folder for as long as the
// handle is held. Every file is then opened by that path plus its name,
// without following a reparse point, and kept only when the file's own final
// path lies directly in the folder. Wine follows a Unix link even then and
// reports no reparse point for it; the final-path check is what stops a link
// there, and the reparse check is what stops one on Windows.
#include <windows.h>
#include <aclapi.h>
#include <winternl.h>

#include <cstring>
#include <cwchar>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace {

constexpr int PINNED_SLOTS = 4;
constexpr int WIDE_PATH = 32768;

struct Pinned {
    int handle;             // -1 when free
    wchar_t *final_path;    // "\\?\C:\dir" or "\\?\UNC\server\share\dir", no trailing separator
};
Pinned pinned[PINNED_SLOTS] = {{-1, nullptr}, {-1, nullptr}, {-1, nullptr}, {-1, nullptr}};

HANDLE to_system(int handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }
int from_handle(HANDLE h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)); }

int system_failed()
{
    err_from_system();
    return -1;
}

Pinned *find_pinned(int folder)
{
    for (Pinned &p : pinned)
        if (p.handle == folder && p.final_path) return &p;
    return nullptr;
}

bool plain_name(const char *name)
{
    if (!name[0] || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    for (const char *p = name; *p; p += path_char_len(p))
        if (*p == '/' || *p == '\\' || *p == ':') return false;
    return true;
}

// The system's final path of an open file or folder, in a heap block; null
// with the reason when it cannot be had.
wchar_t *final_path(HANDLE h)
{
    wchar_t *path = static_cast<wchar_t *>(mem_alloc(WIDE_PATH * sizeof(wchar_t)));
    if (!path) return fail(ERR_NO_MEMORY, nullptr);
    const DWORD n = GetFinalPathNameByHandleW(h, path, WIDE_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= WIDE_PATH) {
        err_from_system();
        mem_free(path);
        return nullptr;
    }
    return path;
}

// A drive or network path; not a device, a volume by GUID or the object
// namespace, where a mount point could lead.
bool ordinary_path(const wchar_t *p)
{
    if (std::wcsncmp(p, L"\\\\?\\", 4) != 0) return false;
    p += 4;
    const bool drive = ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z')) && p[1] == L':' &&
                       (p[2] == L'\\' || p[2] == 0);
    return drive || _wcsnicmp(p, L"UNC\\", 4) == 0;
}

// The folder's path and name, as the wide calls take them.
wchar_t *path_in(const Pinned &folder, const char *name)
{
    const size_t base = std::wcslen(folder.final_path);
    wchar_t *path = static_cast<wchar_t *>(mem_alloc(WIDE_PATH * sizeof(wchar_t)));
    if (!path) return fail(ERR_NO_MEMORY, nullptr);
    std::memcpy(path, folder.final_path, base * sizeof(wchar_t));
    path[base] = L'\\';
    // The name as the other disk calls read it (wide.h).
    const UINT code_page = names_code_page();
    const int n = MultiByteToWideChar(code_page, code_page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, name, -1,
                                      path + base + 1, static_cast<int>(WIDE_PATH - base - 1));
    if (n <= 0) {
        mem_free(path);
        return fail(ERR_BAD_NAME, nullptr);
    }
    return path;
}

// The file open as h is a plain file with one name, directly in the folder.
bool trusted_file(const Pinned &folder, HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return system_failed(), false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return fail(ERR_LINK, false, "a reparse point");
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return fail(ERR_IS_FOLDER, false);
    if (info.nNumberOfLinks != 1) return fail(ERR_LINK, false, "the file has a second name");
    wchar_t *path = final_path(h);
    if (!path) return false;
    const size_t base = std::wcslen(folder.final_path);
    const bool inside = std::wcslen(path) > base + 1 && _wcsnicmp(path, folder.final_path, base) == 0 &&
                        path[base] == L'\\' && !std::wcschr(path + base + 1, L'\\');
    mem_free(path);
    return inside ? true : fail(ERR_LINK, false, "the file lies outside the folder");
}

// The rename through a handle, in the system's own call. kernel32's wrapper
// (SetFileInformationByHandle with FileRenameInfo) takes a drive path only
// where it converts one, which not every Windows from 7 on does; the native
// call has taken an NT path ("\??\C:\...") the same way since NT. ntdll is
// in every process before the program starts, so asking it for the call
// loads nothing.
typedef NTSTATUS(NTAPI *SetInformationFile)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
typedef ULONG(NTAPI *StatusToError)(NTSTATUS);

bool native_rename(HANDLE h, const wchar_t *dos_path, bool replace)
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto set_information = ntdll ? reinterpret_cast<SetInformationFile>(
                                             reinterpret_cast<void *>(GetProcAddress(ntdll, "NtSetInformationFile")))
                                       : nullptr;
    const auto to_error = ntdll ? reinterpret_cast<StatusToError>(
                                      reinterpret_cast<void *>(GetProcAddress(ntdll, "RtlNtStatusToDosError")))
                                : nullptr;
    if (!set_information || !to_error) return fail(ERR_FAILED, false, "the system offers no rename by handle");
    // "\\?\C:\dir\name" and "\\?\UNC\..." are "\??\C:\dir\name" and "\??\UNC\..." in NT terms.
    const size_t chars = std::wcslen(dos_path);
    const size_t size = sizeof(FILE_RENAME_INFORMATION) + chars * sizeof(wchar_t);
    FILE_RENAME_INFORMATION *info = static_cast<FILE_RENAME_INFORMATION *>(mem_alloc(size));
    if (!info) return fail(ERR_NO_MEMORY, false);
    std::memset(info, 0, size);
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<ULONG>(chars * sizeof(wchar_t));
    std::memcpy(info->FileName, dos_path, (chars + 1) * sizeof(wchar_t));
    info->FileName[1] = L'?';
    IO_STATUS_BLOCK io;
    const NTSTATUS status = set_information(h, &io, info, static_cast<ULONG>(size), FileRenameInformation);
    mem_free(info);
    if (status >= 0) return true;
    SetLastError(to_error(status));
    return system_failed(), false;
}

int opened_in(const Pinned &folder, HANDLE h)
{
    if (h == INVALID_HANDLE_VALUE) return system_failed();
    if (!trusted_file(folder, h) || handle_is_reserved(reinterpret_cast<intptr_t>(h))) {
        const ErrReason reason = handle_is_reserved(reinterpret_cast<intptr_t>(h)) ? ERR_TOO_MANY : err_last();
        CloseHandle(h);
        return fail(reason == ERR_NONE ? ERR_FAILED : reason, -1);
    }
    return from_handle(h);
}

// Opens (or makes) name in the folder as itself, never through a reparse
// point, and keeps it only when it is a trusted file of the folder.
int open_in(const Pinned &folder, const char *name, DWORD access, DWORD share, DWORD disposition)
{
    wchar_t *path = path_in(folder, name);
    if (!path) return passed(-1);
    const HANDLE h = CreateFileW(path, access, share, nullptr, disposition,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD error = GetLastError();
    mem_free(path);
    SetLastError(error);
    return opened_in(folder, h);
}

}  // namespace

int disk_folder_pin(const char *path)
{
    const WideName wide(path);
    if (!wide.ok) return -1;
    Pinned *slot = nullptr;
    for (Pinned &p : pinned)
        if (p.handle == -1) slot = &p;
    if (!slot) return fail(ERR_TOO_MANY, -1);
    // Others may read and add files; nobody may rename or remove the folder.
    const HANDLE h = CreateFileW(wide.text, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                 nullptr);
    if (h == INVALID_HANDLE_VALUE) return system_failed();
    BY_HANDLE_FILE_INFORMATION info;
    wchar_t *final = GetFileInformationByHandle(h, &info) ? final_path(h) : nullptr;
    if (!final || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !ordinary_path(final)) {
        const ErrReason reason = !final ? err_last() : ERR_BAD_NAME;
        mem_free(final);
        CloseHandle(h);
        return fail(reason, -1, final ? "the folder is no drive or network path" : nullptr);
    }
    const size_t n = std::wcslen(final);
    if (n > 0 && final[n - 1] == L'\\') final[n - 1] = 0;
    slot->handle = from_handle(h);
    slot->final_path = final;
    return slot->handle;
}

int disk_folder_unpin(int folder)
{
    Pinned *p = find_pinned(folder);
    if (!p) return fail(ERR_FAILED, -1, "no such pinned folder");
    mem_free(p->final_path);
    *p = {-1, nullptr};
    return CloseHandle(to_system(folder)) ? 0 : system_failed();
}

int disk_open_in(int folder, const char *name, int mode)
{
    const Pinned *p = find_pinned(folder);
    if (!p) return fail(ERR_FAILED, -1, "no such pinned folder");
    if (!plain_name(name)) return fail(ERR_BAD_NAME, -1);
    DWORD access = GENERIC_READ, share = FILE_SHARE_READ;
    switch (mode & 0xF) {
    case DISK_WRITE: access = GENERIC_WRITE; share = 0; break;
    case DISK_READ_WRITE: access = GENERIC_READ | GENERIC_WRITE; share = 0; break;
    default: break;
    }
    // Deleting, renaming, attributes and the owner all go through this handle.
    const int opened = open_in(*p, name, access | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | READ_CONTROL,
                               share, OPEN_EXISTING);
    if (opened != -1) PLATFORM_CACHE(fault_cache_note(CACHE_OPEN, opened, name));
    return opened;
}

int disk_create_in(int folder, const char *name)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    const Pinned *p = find_pinned(folder);
    if (!p) return fail(ERR_FAILED, -1, "no such pinned folder");
    if (!plain_name(name)) return fail(ERR_BAD_NAME, -1);
    // CREATE_NEW takes no name that exists, a link's included.
    const int made = open_in(*p, name, GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL, 0, CREATE_NEW);
    if (made != -1) PLATFORM_CACHE(fault_cache_note(CACHE_CREATE, made, name));
    return made;
}

int disk_free_in(int folder, const char *name)
{
    const Pinned *p = find_pinned(folder);
    if (!p || !plain_name(name)) return 0;
    wchar_t *path = path_in(*p, name);
    if (!path) return 0;
    // A link is seen as itself, even a dangling one.
    const DWORD attributes = GetFileAttributesW(path);
    const DWORD error = GetLastError();
    mem_free(path);
    return attributes == INVALID_FILE_ATTRIBUTES && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
}

int disk_rename_in(int folder, int handle, const char *name, const char *to, bool replace)
{
    (void)name;  // only the cache log of the tests reads it
    if (PLATFORM_FAULT(FAULT_RENAME)) return fail(ERR_IO, -1, "injected rename failure");
    const Pinned *p = find_pinned(folder);
    if (!p) return fail(ERR_FAILED, -1, "no such pinned folder");
    if (!plain_name(to)) return fail(ERR_BAD_NAME, -1);
    wchar_t *path = path_in(*p, to);
    if (!path) return passed(-1);
    const bool renamed = native_rename(to_system(handle), path, replace);
    mem_free(path);
    if (!renamed) return passed(-1);
    PLATFORM_CACHE(fault_cache_note(CACHE_RENAME, handle, name, to));
    // As MOVEFILE_WRITE_THROUGH: the new name is on the disk before we go on.
    // A handle that only reads cannot flush; NTFS logs the rename all the same.
    if (PLATFORM_SYNC_SKIPPED() || FlushFileBuffers(to_system(handle))) PLATFORM_CACHE(fault_cache_note(CACHE_ENTRY_SYNC, handle));
    else if (GetLastError() != ERROR_ACCESS_DENIED) return system_failed();
    return 0;
}

int disk_delete_in(int folder, int handle, const char *name)
{
    (void)name;  // only the cache log of the tests reads it
    if (PLATFORM_FAULT(FAULT_DELETE)) return fail(ERR_IO, -1, "injected delete failure");
    if (!find_pinned(folder)) return fail(ERR_FAILED, -1, "no such pinned folder");
    FILE_DISPOSITION_INFO info = {TRUE};
    if (!SetFileInformationByHandle(to_system(handle), FileDispositionInfo, &info, sizeof info)) return system_failed();
    PLATFORM_CACHE(fault_cache_note(CACHE_DELETE, handle, name));
    return 0;
}

int disk_flush_name_in(int folder, int handle)
{
    if (PLATFORM_FAULT(FAULT_FLUSH)) return fail(ERR_IO, -1, "injected flush failure");
    if (!find_pinned(folder)) return fail(ERR_FAILED, -1, "no such pinned folder");
    if (!PLATFORM_SYNC_SKIPPED() && !FlushFileBuffers(to_system(handle))) return system_failed();
    PLATFORM_CACHE(fault_cache_note(CACHE_ENTRY_SYNC, handle));
    return 0;
}

int disk_set_handle_attributes(int handle, uint32_t attributes)
{
    FILE_BASIC_INFO info = {};
    info.FileAttributes = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                        FILE_ATTRIBUTE_ARCHIVE);
    if (!info.FileAttributes) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(to_system(handle), FileBasicInfo, &info, sizeof info) ? 0 : system_failed();
}

int disk_made_by_us(int handle)
{
    PSID file_owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(to_system(handle), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &file_owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS)
        return fail(ERR_FAILED, -1, "the file's owner cannot be read");
    HANDLE token;
    int mine = -1;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        // What this process creates is owned by its token's default owner (the
        // Administrators group when elevated).
        alignas(void *) unsigned char buffer[256];
        DWORD got;
        if (GetTokenInformation(token, TokenOwner, buffer, sizeof buffer, &got))
            mine = EqualSid(file_owner, reinterpret_cast<TOKEN_OWNER *>(buffer)->Owner) ? 1 : 0;
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return mine < 0 ? fail(ERR_FAILED, -1, "this program's owner cannot be read") : mine;
}

int disk_handle_attributes(int handle)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(to_system(handle), &info)) return system_failed();
    const DWORD kept = info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                FILE_ATTRIBUTE_ARCHIVE);
    return kept ? static_cast<int>(kept) : static_cast<int>(FILE_ATTR_NORMAL);
}

int disk_mode_like_in(int folder, const char *name, int handle)
{
    const Pinned *p = find_pinned(folder);
    if (!p) return fail(ERR_FAILED, -1, "no such pinned folder");
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (plain_name(name)) {
        wchar_t *path = path_in(*p, name);
        if (!path) return passed(-1);
        attributes = GetFileAttributesW(path);  // a link's own attributes
        mem_free(path);
    }
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        attributes = FILE_ATTRIBUTE_NORMAL;
    attributes &= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    // Read-only is set once the file stands at its name: NTFS would refuse
    // to delete it should the rename fail.
    if (disk_set_handle_attributes(handle, attributes & ~FILE_ATTRIBUTE_READONLY) != 0) return passed(-1);
    return attributes ? static_cast<int>(attributes) : static_cast<int>(FILE_ATTR_NORMAL);
}
