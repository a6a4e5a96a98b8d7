// Disk files and folders: one kernel call each, with the flags callers rely on.
// Names go to the wide calls, converted as names_code_page says (win32/wide.h).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

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
int opened(const WideName &name, HANDLE h)
{
    if (h != INVALID_HANDLE_VALUE) return from_system(h);
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(name.text);
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
    const WideName wide(name);
    if (!wide.ok) return -1;
    return opened(wide, CreateFileW(wide.text, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
    const WideName wide(name);
    if (!wide.ok) return -1;
    return opened(wide, CreateFileW(wide.text, access, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, flags, nullptr));
}

int disk_create_new(const char *name)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    // Sharing deletion only, so that an interruption can remove the file
    // while it is being written (win32/temp.cpp).
    const WideName wide(name);
    if (!wide.ok) return -1;
    return opened(wide, CreateFileW(wide.text, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

int disk_copy_mode(const char *from, const char *to)
{
    const WideName wide_from(from), wide_to(to);
    if (!wide_from.ok || !wide_to.ok) return -1;
    const DWORD attributes = GetFileAttributesW(wide_from.text);
    if (attributes == INVALID_FILE_ATTRIBUTES) return system_failed();
    const DWORD kept = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    return SetFileAttributesW(wide_to.text, kept ? kept : FILE_ATTRIBUTE_NORMAL) ? 0 : system_failed();
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

int disk_read_shared(int handle, int64_t offset, void *buffer, int count)
{
    if (offset < 0 || offset > DISK_POSITION_LIMIT) return fail(ERR_DAMAGED, -1, "an offset lies beyond the file");
    int done = 0;
    while (done < count) {
        // On a handle opened for synchronous use the offset is this read's
        // own; the system orders the reads of one handle.
        OVERLAPPED at{};
        const uint64_t position = static_cast<uint64_t>(offset) + static_cast<uint64_t>(done);
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD n = 0;
        if (!ReadFile(to_system(handle), static_cast<char *>(buffer) + done, static_cast<DWORD>(count - done), &n, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) return fail(ERR_DAMAGED, -1, "the file ends too soon");
            return system_failed();
        }
        if (n == 0) return fail(ERR_DAMAGED, -1, "the file ends too soon");
        done += static_cast<int>(n);
    }
    return 0;
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
    PLATFORM_CACHE(fault_cache_note_write(handle, buffer, static_cast<int>(done)));
    return static_cast<int>(done);
}

int disk_close(int handle)
{
    if (handle == -1) return fail(ERR_FAILED, -1, "no file open");
    PLATFORM_CACHE(fault_cache_note(CACHE_CLOSE, handle));
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
    const WideName wide(name);
    if (!wide.ok) return -1;
    return DeleteFileW(wide.text) ? 0 : system_failed();
}

int disk_link(const char *existing, const char *new_name)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    const WideName from(existing), to(new_name);
    if (!from.ok || !to.ok) return -1;
    return CreateHardLinkW(to.text, from.text, nullptr) ? 0 : system_failed();
}

int disk_rename(const char *old_name, const char *new_name)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return fail(ERR_IO, -1, "injected rename failure");
    const WideName from(old_name), to(new_name);
    if (!from.ok || !to.ok) return -1;
    return MoveFileW(from.text, to.text) ? 0 : system_failed();
}

int disk_mkdir(const char *path)
{
    const WideName wide(path);
    if (!wide.ok) return -1;
    return CreateDirectoryW(wide.text, nullptr) ? 0 : system_failed();
}

int disk_rmdir(const char *path)
{
    const WideName wide(path);
    if (!wide.ok) return -1;
    return RemoveDirectoryW(wide.text) ? 0 : system_failed();
}

int disk_flush(int handle)
{
    if (PLATFORM_FAULT(FAULT_FLUSH)) return fail(ERR_IO, -1, "injected flush failure");
    if (!PLATFORM_SYNC_SKIPPED() && !FlushFileBuffers(to_system(handle))) return system_failed();
    // A flushed file's name is on the disk with its content.
    PLATFORM_CACHE(fault_cache_note(CACHE_FLUSH, handle));
    PLATFORM_CACHE(fault_cache_note(CACHE_ENTRY_SYNC, handle));
    return 0;
}

int disk_set_attributes(const char *name, uint32_t attributes)
{
    const WideName wide(name);
    if (!wide.ok) return -1;
    return SetFileAttributesW(wide.text, attributes) ? 0 : system_failed();
}

int disk_replace(const char *source, const char *target)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return fail(ERR_IO, -1, "injected rename failure");
    const WideName from(source), to(target);
    if (!from.ok || !to.ok) return -1;
    return MoveFileExW(from.text, to.text, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : system_failed();
}

int64_t disk_file_size(const char *name)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    const WideName wide(name);
    if (!wide.ok) return -1;
    if (!GetFileAttributesExW(wide.text, GetFileExInfoStandard, &data)) return system_failed();
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return fail(ERR_IS_FOLDER, -1);
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int disk_path_kind(const char *name, DiskIdentity *identity)
{
    const WideName wide(name);
    if (!wide.ok) return -1;
    // No access asked: only the file's facts are read, links followed.
    const HANDLE h = CreateFileW(wide.text, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(wide.text);  // of the link itself
        if (error == ERROR_CANT_RESOLVE_FILENAME) return fail(ERR_LINK, -1, "a link loop");
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
            return fail(ERR_LINK, -1, "a link to nothing");
        SetLastError(error);
        return system_failed();
    }
    BY_HANDLE_FILE_INFORMATION info;
    const DWORD type = GetFileType(h);
    const BOOL got = GetFileInformationByHandle(h, &info);
    if (!got) err_from_system();
    CloseHandle(h);
    if (!got) return -1;
    if (identity)
        *identity = DiskIdentity{info.dwVolumeSerialNumber,
                                 (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    if (type != FILE_TYPE_DISK) return DISK_KIND_SPECIAL;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? DISK_KIND_FOLDER : DISK_KIND_FILE;
}

// ---- Writing beneath a folder without following links ----------------------
//
// Each folder below the tree's own is opened as itself
// (FILE_FLAG_OPEN_REPARSE_POINT), refused when it is a reparse point, and
// held without sharing deletion while files are written in it, so that
// nobody can rename it or put a link in its place meanwhile: a path through
// the held folders reaches only what was checked.
//
// Wine follows a host's symbolic link wherever it is, and shows it without
// the reparse attribute, so there the attribute catches nothing. What stops
// a planted link under Wine is the second check: each folder's final path,
// as the system resolves it from the open handle, must lie below the final
// path of the tree's own folder.

namespace {

constexpr int TREE_WIDE = PATH_BUFFER_SIZE * 2;   // wide characters in a path
constexpr int TREE_DEPTH = PATH_BUFFER_SIZE / 2;  // folders on one path

}  // namespace

struct DiskTree {
    HANDLE root;
    HANDLE held[TREE_DEPTH];  // the folders entered, from the root down
    int depth;
    wchar_t root_final[TREE_WIDE];
    int root_final_length;
    wchar_t here[TREE_WIDE];  // the folder entered, by the path as named
    int root_length;          // of the root's part of it
    int here_length;
    char root_path[PATH_BUFFER_SIZE];  // for the interruption's table only
    char entered[PATH_BUFFER_SIZE * 2];
    bool has_entered;
};

namespace {

// Appends count bytes of a narrow name to a wide path at `at`, in the names'
// code page. The new length, or -1.
int tree_widen(wchar_t *path, int at, const char *name, int count)
{
    // No room left would make the call below only count.
    if (at >= TREE_WIDE - 1) return fail(ERR_NAME_TOO_LONG, -1);
    const UINT code_page = names_code_page();
    const int n = count == 0 ? 0
                             : MultiByteToWideChar(code_page, code_page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, name,
                                                   count, path + at, TREE_WIDE - at - 1);
    if (count != 0 && n <= 0)
        return GetLastError() == ERROR_NO_UNICODE_TRANSLATION ? fail(ERR_BAD_NAME, -1, "not valid UTF-8")
                                                              : fail(ERR_NAME_TOO_LONG, -1);
    path[at + n] = 0;
    return at + n;
}

// The wide path of a name in the folder entered.
bool tree_path(const DiskTree *tree, const char *name, wchar_t *path)
{
    std::memcpy(path, tree->here, sizeof(wchar_t) * static_cast<size_t>(tree->here_length));
    path[tree->here_length] = L'\\';
    return tree_widen(path, tree->here_length + 1, name, static_cast<int>(std::strlen(name))) != -1;
}

bool tree_final(HANDLE h, wchar_t *path, int *length)
{
    const DWORD n = GetFinalPathNameByHandleW(h, path, TREE_WIDE, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) {
        err_from_system();
        return false;
    }
    if (n >= static_cast<DWORD>(TREE_WIDE)) return fail(ERR_NAME_TOO_LONG, false);
    *length = static_cast<int>(n);
    return true;
}

// Whether what h names lies below the tree's folder; when not, why.
bool tree_below(const DiskTree *tree, HANDLE h, const char *otherwise)
{
    wchar_t resolved[TREE_WIDE];
    int n;
    if (!tree_final(h, resolved, &n)) return false;
    const int r = tree->root_final_length;
    const bool drive_root = tree->root_final[r - 1] == L'\\';
    if (n > r && CompareStringOrdinal(resolved, r, tree->root_final, r, TRUE) == CSTR_EQUAL &&
        (drive_root || resolved[r] == L'\\'))
        return true;
    return fail(ERR_ACCESS_DENIED, false, otherwise);
}

void tree_leave(DiskTree *tree)
{
    while (tree->depth > 0) CloseHandle(tree->held[--tree->depth]);
    tree->here_length = tree->root_length;
    tree->here[tree->here_length] = 0;
    tree->has_entered = false;
}

// Without FILE_SHARE_DELETE: nobody renames or removes it while it is held.
HANDLE tree_open_folder(const wchar_t *path)
{
    return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The ANSI path the interruption's handler removes a temporary file by.
bool tree_full_path(const DiskTree *tree, const char *name, char *out)
{
    const int n = tree->entered[0]
                      ? std::snprintf(out, PATH_BUFFER_SIZE, "%s\\%s\\%s", tree->root_path, tree->entered, name)
                      : std::snprintf(out, PATH_BUFFER_SIZE, "%s\\%s", tree->root_path, name);
    return n > 0 && n < PATH_BUFFER_SIZE;
}

void tree_forget(const DiskTree *tree, const char *name)
{
    char full[PATH_BUFFER_SIZE];
    if (tree_full_path(tree, name, full)) disk_temp_forget(full);
}

// A new file in the folder entered. CREATE_NEW takes only a free name, and
// a link's name is not free, so nothing is made through one; the final
// path is checked all the same, for Wine.
HANDLE tree_create_file(const DiskTree *tree, const char *name, DWORD share)
{
    wchar_t path[TREE_WIDE];
    if (!tree_path(tree, name, path)) return INVALID_HANDLE_VALUE;
    const HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, share, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        err_from_system();
        return h;
    }
    if (tree_below(tree, h, "it lies outside the folder")) return h;
    FILE_DISPOSITION_INFO gone = {TRUE};
    SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

DiskTree *disk_tree_open(const char *folder)
{
    DiskTree *tree = static_cast<DiskTree *>(mem_alloc(sizeof(DiskTree)));
    if (!tree) return fail(ERR_NO_MEMORY, nullptr);
    ScopeGuard release([&] { mem_free(tree); });
    const size_t n = std::strlen(folder);
    if (n >= sizeof tree->root_path) return fail(ERR_NAME_TOO_LONG, nullptr);
    std::memcpy(tree->root_path, folder, n + 1);
    tree->entered[0] = 0;
    tree->has_entered = false;
    tree->depth = 0;
    const int w = tree_widen(tree->here, 0, folder, static_cast<int>(n));
    if (w == -1) return nullptr;
    tree->root_length = tree->here_length = w;
    // Links on the way to the folder are followed: its user named it.
    tree->root = CreateFileW(tree->here, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (tree->root == INVALID_HANDLE_VALUE) {
        err_from_system();
        return nullptr;
    }
    if (!tree_final(tree->root, tree->root_final, &tree->root_final_length)) {
        CloseHandle(tree->root);
        return nullptr;
    }
    release.dismiss();
    return tree;
}

void disk_tree_close(DiskTree *tree)
{
    if (!tree) return;
    tree_leave(tree);
    CloseHandle(tree->root);
    mem_free(tree);
}

int disk_tree_enter(DiskTree *tree, const char *path, int make)
{
    // Separators as the system finds them: never a double-byte character's
    // trail byte (UTF-8 has no lead bytes in this sense).
    const UINT code_page = names_code_page();
    const auto step = [code_page](const char *p) {
        return IsDBCSLeadByteEx(code_page, static_cast<BYTE>(*p)) && p[1] ? 2 : 1;
    };
    int name_at = 0;
    for (int i = 0; path[i]; i += step(path + i))
        if (path[i] == '\\' || path[i] == '/') name_at = i + 1;
    const int folder_length = name_at > 0 ? name_at - 1 : 0;
    if (folder_length >= static_cast<int>(sizeof tree->entered)) return fail(ERR_NAME_TOO_LONG, -1);
    // Entries come folder by folder: stay where the last one was written.
    if (tree->has_entered && static_cast<int>(std::strlen(tree->entered)) == folder_length &&
        std::memcmp(tree->entered, path, static_cast<size_t>(folder_length)) == 0)
        return name_at;
    tree_leave(tree);
    ScopeGuard undo([&] { tree_leave(tree); });
    for (int start = 0, end; start < folder_length; start = end + 1) {
        for (end = start; end < folder_length && path[end] != '\\' && path[end] != '/';) end += step(path + end);
        const char *part = path + start;
        const int length = end - start;
        if (length == 0 || (length == 1 && part[0] == '.')) continue;
        if (length == 2 && part[0] == '.' && part[1] == '.') return fail(ERR_BAD_NAME, -1, "a folder on its way is '..'");
        if (tree->depth == TREE_DEPTH) return fail(ERR_NAME_TOO_LONG, -1);
        tree->here[tree->here_length] = L'\\';
        const int w = tree_widen(tree->here, tree->here_length + 1, part, length);
        if (w == -1) return passed(-1);
        tree->here_length = w;
        HANDLE h = tree_open_folder(tree->here);
        if (h == INVALID_HANDLE_VALUE && make && GetLastError() == ERROR_FILE_NOT_FOUND) {
            if (!CreateDirectoryW(tree->here, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return system_failed();
            h = tree_open_folder(tree->here);
        }
        if (h == INVALID_HANDLE_VALUE) return system_failed();
        tree->held[tree->depth++] = h;
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(h, &info)) return system_failed();
        if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return fail(ERR_ACCESS_DENIED, -1, "a folder on its way is a link");
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return fail(ERR_NOT_FOUND, -1);
        if (!tree_below(tree, h, "a folder on its way lies outside the folder")) return passed(-1);
    }
    undo.dismiss();
    std::memcpy(tree->entered, path, static_cast<size_t>(folder_length));
    tree->entered[folder_length] = 0;
    tree->has_entered = true;
    return name_at;
}

int disk_tree_kind(DiskTree *tree, const char *name)
{
    wchar_t path[TREE_WIDE];
    if (!tree_path(tree, name, path)) return passed(-1);
    // A link's own attributes, never its target's.
    const DWORD a = GetFileAttributesW(path);
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? DISK_KIND_NONE : system_failed();
    }
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return DISK_KIND_LINK;
    return a & FILE_ATTRIBUTE_DIRECTORY ? DISK_KIND_FOLDER : DISK_KIND_FILE;
}

int disk_tree_create(DiskTree *tree, const char *name)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    const HANDLE h = tree_create_file(tree, name, FILE_SHARE_READ);
    return h == INVALID_HANDLE_VALUE ? passed(-1) : from_system(h);
}

namespace {

// The temporary files beside name that a killed run left: a plain file with
// one name, ours, marked as a working copy, below the tree, that nobody has open (a live run's handle
// shares no reading or writing); never through a reparse point. Names are
// taken lowest first, so the search ends at the first free one.
void tree_remove_left(DiskTree *tree, const char *name, const char *suffix)
{
    char left[PATH_BUFFER_SIZE];
    for (int n = 0; n < TEMP_TRIES; ++n) {
        wchar_t path[TREE_WIDE];
        if (!temp_name(left, sizeof left, name, n, suffix)) return;
        if (!tree_path(tree, left, path)) continue;
        // Another thread's finished copy, closed and waiting for its name.
        char full[PATH_BUFFER_SIZE];
        if (tree_full_path(tree, left, full) && temp_remembered(full)) continue;
        const HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) return;
        if (h == INVALID_HANDLE_VALUE) continue;
        BY_HANDLE_FILE_INFORMATION info;
        const int handle = static_cast<int>(reinterpret_cast<intptr_t>(h));
        if (GetFileInformationByHandle(h, &info) && info.nNumberOfLinks == 1 &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_TEMPORARY) &&
            !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
            tree_below(tree, h, "it lies outside the folder") && disk_made_by_us(handle) == 1) {
            FILE_DISPOSITION_INFO gone = {TRUE};
            SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
        }
        CloseHandle(h);
    }
}

}  // namespace

int disk_tree_create_temp(DiskTree *tree, char *dest, int size, const char *name, const char *suffix)
{
    tree_remove_left(tree, name, suffix);
    for (int n = 0; n < TEMP_TRIES; ++n) {
        if (!temp_name(dest, size, name, n, suffix)) return -1;
        char full[PATH_BUFFER_SIZE];
        if (!tree_full_path(tree, dest, full)) return fail(ERR_NAME_TOO_LONG, -1);
        if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
        temp_hold();
        // Sharing deletion, as disk_create_new: an interruption removes it.
        const HANDLE h = tree_create_file(tree, dest, FILE_SHARE_DELETE);
        const bool kept = h != INVALID_HANDLE_VALUE && temp_remember(full) == 0;
        if (h != INVALID_HANDLE_VALUE && !kept) {
            FILE_DISPOSITION_INFO gone = {TRUE};
            SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
            CloseHandle(h);
        }
        temp_release();
        if (kept) {
            const int handle = from_system(h);
            if (handle != -1) temp_mark(handle, true);
            return handle;
        }
        if (h != INVALID_HANDLE_VALUE) return fail(ERR_TOO_MANY, -1, "too many temporary files");
        if (err_last() != ERR_EXISTS) return passed(-1);
    }
    return fail(ERR_EXISTS, -1, "every temporary name beside it is taken");
}

int disk_tree_replace(DiskTree *tree, const char *source, const char *target)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return fail(ERR_IO, -1, "injected rename failure");
    wchar_t from[TREE_WIDE], to[TREE_WIDE];
    if (!tree_path(tree, source, from) || !tree_path(tree, target, to)) return passed(-1);
    const DWORD a = GetFileAttributesW(to);
    DWORD kept = 0;  // the attributes it takes; the working copy's mark goes
    if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (a & FILE_ATTRIBUTE_DIRECTORY) return fail(ERR_IS_FOLDER, -1);
        if (a & FILE_ATTRIBUTE_READONLY) return fail(ERR_ACCESS_DENIED, -1);
        kept = a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    }
    if (!SetFileAttributesW(from, kept ? kept : FILE_ATTRIBUTE_NORMAL)) return system_failed();
    // A link at target is replaced by the move, not written through.
    if (!MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return system_failed();
    tree_forget(tree, source);
    return 0;
}

int disk_tree_delete(DiskTree *tree, const char *name)
{
    if (PLATFORM_FAULT(FAULT_DELETE)) return fail(ERR_IO, -1, "injected delete failure");
    wchar_t path[TREE_WIDE];
    const int r = !tree_path(tree, name, path) ? passed(-1) : DeleteFileW(path) ? 0 : system_failed();
    tree_forget(tree, name);
    return r;
}
