// A pinned folder over POSIX: every step goes relative to the folder's
// descriptor and never follows a link, so that the native tests meet what
// the Windows build meets. Sharing keeps the flock emulation of disk.cpp.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix/native.h"

namespace {

int system_failed()
{
    err_from_system();
    return -1;
}

// A file name of the folder: one component, never "." or "..".
bool plain_name(const char *name)
{
    if (!name[0] || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    for (const char *p = name; *p; p += path_char_len(p))
        if (*p == '/' || *p == '\\' || *p == ':') return false;
    return true;
}

// What the handle is must still stand under name: renames and deletes go by
// name here, so they check it first.
bool still_named(int folder, int handle, const char *name)
{
    struct stat by_name, by_handle;
    if (fstatat(folder, name, &by_name, AT_SYMLINK_NOFOLLOW) != 0 || fstat(handle, &by_handle) != 0)
        return system_failed(), false;
    if (by_name.st_dev != by_handle.st_dev || by_name.st_ino != by_handle.st_ino)
        return fail(ERR_LINK, false, "the name no longer names the file opened");
    return true;
}

// Something other than one of our handles holds what stands at name.
bool held_at(int folder, const char *name)
{
    const int fd = openat(folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat st;
    const bool held = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) != 0 &&
                      errno == EWOULDBLOCK;
    close(fd);
    return held;
}

// A rename or delete is durable once the folder itself is flushed. (The
// cache log names the file whose change called for it.)
int folder_synced(int folder, int handle)
{
    (void)handle;
    if (!PLATFORM_SYNC_SKIPPED() && fsync(folder) != 0) return system_failed();
    PLATFORM_CACHE(fault_cache_note(CACHE_FOLDER_SYNC, handle));
    return 0;
}

}  // namespace

int disk_folder_pin(const char *path)
{
    const NativeName native(path);
    if (!native.ok) return passed(-1);
    const int fd = open(native.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return system_failed();
    return off_reserved(fd);
}

int disk_folder_unpin(int folder) { return close(folder) == 0 ? 0 : system_failed(); }

int disk_open_in(int folder, const char *name, int mode)
{
    if (!plain_name(name)) return fail(ERR_BAD_NAME, -1);
    const int low = mode & 0xF;
    const bool writes = low == DISK_WRITE || low == DISK_READ_WRITE;
    const int access = low == DISK_WRITE ? O_WRONLY : low == DISK_READ_WRITE ? O_RDWR : O_RDONLY;
    // Non-blocking, so that a FIFO planted under the name cannot stall us.
    const int fd = openat(folder, name, access | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return system_failed();
    ScopeGuard close_fd([&] { close(fd); });
    struct stat st;
    if (fstat(fd, &st) != 0) return system_failed();
    if (S_ISDIR(st.st_mode)) return fail(ERR_IS_FOLDER, -1);
    if (!S_ISREG(st.st_mode)) return fail(ERR_LINK, -1, "not a plain file");
    if (st.st_nlink != 1) return fail(ERR_LINK, -1, "the file has a second name");
    if (writes && is_read_only(st)) return fail(ERR_ACCESS_DENIED, -1);
    if (flock(fd, (writes ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) return system_failed();
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return system_failed();
    close_fd.dismiss();
    const int h = off_reserved(fd);
    if (h != -1) PLATFORM_CACHE(fault_cache_note(CACHE_OPEN, h, name));
    return h;
}

int disk_create_in(int folder, const char *name)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    if (!plain_name(name)) return fail(ERR_BAD_NAME, -1);
    const int fd = openat(folder, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return system_failed();
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        err_from_system();
        close(fd);
        unlinkat(folder, name, 0);
        return passed(-1);
    }
    const int h = off_reserved(fd);
    if (h != -1) PLATFORM_CACHE(fault_cache_note(CACHE_CREATE, h, name));
    return h;
}

int disk_free_in(int folder, const char *name)
{
    struct stat st;
    return plain_name(name) && fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT ? 1 : 0;
}

int disk_rename_in(int folder, int handle, const char *name, const char *to, bool replace)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return fail(ERR_IO, -1, "injected rename failure");
    if (!plain_name(name) || !plain_name(to)) return fail(ERR_BAD_NAME, -1);
    if (!still_named(folder, handle, name)) return passed(-1);
    if (!replace) {
        if (renameat2(folder, name, folder, to, RENAME_NOREPLACE) != 0) return system_failed();
        PLATFORM_CACHE(fault_cache_note(CACHE_RENAME, handle, name, to));
        return folder_synced(folder, handle);
    }
    struct stat st;
    if (fstatat(folder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) return fail(ERR_IS_FOLDER, -1);
        if (S_ISREG(st.st_mode) && is_read_only(st)) return fail(ERR_ACCESS_DENIED, -1);
        if (held_at(folder, to)) return fail(ERR_HELD, -1);
    }
    if (renameat(folder, name, folder, to) != 0) return system_failed();
    PLATFORM_CACHE(fault_cache_note(CACHE_RENAME, handle, name, to));
    return folder_synced(folder, handle);
}

int disk_delete_in(int folder, int handle, const char *name)
{
    if (PLATFORM_FAULT(FAULT_DELETE)) return fail(ERR_IO, -1, "injected delete failure");
    if (!plain_name(name)) return fail(ERR_BAD_NAME, -1);
    struct stat st;
    if (fstat(handle, &st) != 0) return system_failed();
    if (is_read_only(st)) return fail(ERR_ACCESS_DENIED, -1);
    if (!still_named(folder, handle, name)) return passed(-1);
    if (unlinkat(folder, name, 0) != 0) return system_failed();
    PLATFORM_CACHE(fault_cache_note(CACHE_DELETE, handle, name));
    return folder_synced(folder, handle);
}

int disk_flush_name_in(int folder, int handle)
{
    if (PLATFORM_FAULT(FAULT_FLUSH)) return fail(ERR_IO, -1, "injected flush failure");
    return folder_synced(folder, handle);
}

int disk_set_handle_attributes(int handle, uint32_t attributes)
{
    struct stat st;
    if (fstat(handle, &st) != 0) return system_failed();
    if (!S_ISREG(st.st_mode)) return 0;
    const mode_t mode = attributes & FILE_ATTR_READONLY ? st.st_mode & ~0222 : st.st_mode | S_IWUSR;
    return fchmod(handle, mode & 07777) == 0 ? 0 : system_failed();
}

int disk_made_by_us(int handle)
{
    struct stat st;
    if (fstat(handle, &st) != 0) return system_failed();
    return st.st_uid == geteuid() ? 1 : 0;
}

int disk_handle_attributes(int handle)
{
    struct stat st;
    if (fstat(handle, &st) != 0) return system_failed();
    return S_ISREG(st.st_mode) && is_read_only(st) ? FILE_ATTR_READONLY : FILE_ATTR_NORMAL;
}

int disk_mode_like_in(int folder, const char *name, int handle)
{
    struct stat st;
    mode_t mode;
    int attributes = FILE_ATTR_NORMAL;
    if (plain_name(name) && fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
        mode = st.st_mode & 07777;
        // Writable by its owner until the caller makes it read-only again.
        if (is_read_only(st)) attributes = FILE_ATTR_READONLY, mode |= S_IWUSR;
    } else {
        // The umask can only be read by setting it.
        const mode_t mask = umask(022);
        umask(mask);
        mode = 0644 & ~mask;
    }
    return fchmod(handle, mode) == 0 ? attributes : system_failed();
}
