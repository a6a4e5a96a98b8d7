// Disk files and folders over POSIX, with the results the Windows build gives
// its callers: a file without write bits is read-only (refused for writing,
// overwriting and deleting, to root as well), and handles keep Windows'
// sharing rules through flock: a handle that may write shares the file with
// nobody, a reader shares it with readers only, and an open file can be
// neither deleted nor renamed.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix/native.h"

static_assert(DISK_SEEK_SET == SEEK_SET && DISK_SEEK_CUR == SEEK_CUR && DISK_SEEK_END == SEEK_END);

NativeName::NativeName(const char *name) : ok(false)
{
    size_t used = 0;
    for (const char *p = name; *p;) {
        const int n = path_char_len(p);
        if (used + static_cast<size_t>(n) >= sizeof path) return;
        if (n == 1 && *p == '\\') path[used] = '/';
        else std::memcpy(path + used, p, static_cast<size_t>(n));
        used += static_cast<size_t>(n);
        p += n;
    }
    path[used] = 0;
    ok = true;
}

namespace {

// Takes the flock that stands for the handle's Windows sharing mode.
bool lock_shared(int fd, bool writes)
{
    return flock(fd, (writes ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
}

// Moves a descriptor off the values archive handles use; -1 when that fails.
int off_reserved(int fd)
{
    if (!handle_is_reserved(fd)) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, RESERVED_HANDLE_LAST + 1);
    close(fd);
    return moved;
}

}  // namespace

bool held_open(const char *path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    ScopeGuard close_fd([&] { close(fd); });
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

int disk_open(const char *name, int mode)
{
    const NativeName path(name);
    if (!path.ok) return -1;
    const int low = mode & 0xF;
    const bool writes = low == DISK_WRITE || low == DISK_READ_WRITE;
    const int access = low == DISK_WRITE ? O_WRONLY : low == DISK_READ_WRITE ? O_RDWR : O_RDONLY;
    const int fd = open(path.path, access | O_CLOEXEC);
    if (fd < 0) return -1;
    ScopeGuard close_fd([&] { close(fd); });
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    if ((writes && is_read_only(st)) || !lock_shared(fd, writes)) return -1;
    close_fd.dismiss();
    return off_reserved(fd);
}

int disk_create(const char *name, int attributes)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return -1;
    const NativeName path(name);
    if (!path.ok) return -1;
    const bool read_only = attributes & DISK_ATTR_READONLY;
    const bool writes = !(attributes & (DISK_ATTR_READONLY | DISK_ATTR_SYSTEM));
    struct stat st;
    const bool existed = stat(path.path, &st) == 0;
    if (existed && is_read_only(st)) return -1;  // Windows will not overwrite it

    const int fd = open(path.path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    ScopeGuard undo([&] {
        close(fd);
        if (!existed) unlink(path.path);
    });
    // Cutting the file needs it to itself, as on Windows.
    if (!lock_shared(fd, true) || ftruncate(fd, 0) != 0 || fstat(fd, &st) != 0) return -1;
    if (read_only && fchmod(fd, st.st_mode & ~0222) != 0) return -1;
    if (writes) {
        undo.dismiss();
        return off_reserved(fd);
    }
    // A handle that may only read: reopen, and share with readers from now on.
    const int reader = open(path.path, O_RDONLY | O_CLOEXEC);
    if (reader < 0) return -1;
    ScopeGuard close_reader([&] { close(reader); });
    if (flock(fd, LOCK_SH) != 0 || !lock_shared(reader, false)) return -1;
    close(fd);
    undo.dismiss();
    close_reader.dismiss();
    return off_reserved(reader);
}

int disk_read(int handle, void *buffer, int count)
{
    int done = 0;
    while (done < count) {
        const ssize_t n = read(handle, static_cast<char *>(buffer) + done,
                               static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 0;
        if (n == 0) break;
        done += static_cast<int>(n);
    }
    return done;
}

int disk_write(int handle, const void *buffer, int count)
{
    if (PLATFORM_FAULT(FAULT_WRITE)) return 0;
    int done = 0;
    while (done < count) {
        const ssize_t n = write(handle, static_cast<const char *>(buffer) + done,
                                static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;
        done += static_cast<int>(n);
    }
    return done;
}

int disk_close(int handle)
{
    if (handle == -1) return -1;
    return close(handle) == 0 ? 0 : -1;
}

uint32_t disk_seek(int handle, int32_t distance, int origin)
{
    // lseek knows more origins than the three of Windows.
    if (origin < DISK_SEEK_SET || origin > DISK_SEEK_END) return DISK_FAILED;
    const off_t was = lseek(handle, 0, SEEK_CUR);
    if (was < 0) return DISK_FAILED;
    const off_t now = lseek(handle, distance, origin);
    if (now < 0) return DISK_FAILED;
    // Positions are 32-bit, and all ones is the failure value.
    if (now >= static_cast<off_t>(DISK_FAILED)) {
        lseek(handle, was, SEEK_SET);
        return DISK_FAILED;
    }
    return static_cast<uint32_t>(now);
}

uint32_t disk_size(int handle)
{
    struct stat st;
    if (fstat(handle, &st) != 0) return DISK_FAILED;
    return static_cast<uint32_t>(st.st_size);
}

int disk_delete(const char *name)
{
    const NativeName path(name);
    struct stat st;
    if (!path.ok || lstat(path.path, &st) != 0) return -1;
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && is_read_only(st)) || held_open(path.path))
        return -1;
    return unlink(path.path) == 0 ? 0 : -1;
}

int disk_rename(const char *old_name, const char *new_name)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return -1;
    const NativeName from(old_name);
    const NativeName to(new_name);
    if (!from.ok || !to.ok || held_open(from.path)) return -1;
    if (renameat2(AT_FDCWD, from.path, AT_FDCWD, to.path, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // A file system without the no-replace rename: check, then rename.
    struct stat st;
    if (lstat(to.path, &st) == 0) return -1;
    return rename(from.path, to.path) == 0 ? 0 : -1;
}

int disk_mkdir(const char *path)
{
    const NativeName native(path);
    return native.ok && mkdir(native.path, 0777) == 0 ? 0 : -1;
}

int disk_rmdir(const char *path)
{
    const NativeName native(path);
    return native.ok && rmdir(native.path) == 0 ? 0 : -1;
}

int disk_force_delete(const char *name)
{
    disk_set_attributes(name, FILE_ATTR_NORMAL);
    return disk_delete(name);
}

int disk_force_create(const char *name, int attributes)
{
    disk_force_delete(name);
    return disk_create(name, attributes);
}

int disk_flush(int handle)
{
    // Windows flushes only a handle that may write.
    const int flags = fcntl(handle, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return -1;
    return fsync(handle) == 0 ? 0 : -1;
}

int disk_set_attributes(const char *name, uint32_t attributes)
{
    const NativeName path(name);
    struct stat st;
    if (!path.ok || stat(path.path, &st) != 0) return -1;
    // Only read-only means something here; hidden, system and archive are
    // not kept. Windows does not enforce a folder's read-only bit.
    if (S_ISDIR(st.st_mode)) return 0;
    const mode_t mode = attributes & FILE_ATTR_READONLY ? st.st_mode & ~0222 : st.st_mode | S_IWUSR;
    return chmod(path.path, mode & 07777) == 0 ? 0 : -1;
}
