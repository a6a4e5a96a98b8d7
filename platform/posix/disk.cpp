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

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix/native.h"

static_assert(DISK_SEEK_SET == SEEK_SET && DISK_SEEK_CUR == SEEK_CUR && DISK_SEEK_END == SEEK_END);

NativeName::NativeName(const char *name) : ok(false)
{
    size_t used = 0;
    for (const char *p = name; *p;) {
        const int n = path_char_len(p);
        if (used + static_cast<size_t>(n) >= sizeof path) {
            err_set(ERR_NAME_TOO_LONG);
            return;
        }
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
    if (flock(fd, (writes ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return true;
    err_from_system();
    return false;
}

// The failure reason of the system call that just failed, and its result.
int system_failed()
{
    err_from_system();
    return -1;
}

}  // namespace

int off_reserved(int fd)
{
    if (!handle_is_reserved(fd)) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, DISK_RESERVED_HANDLE_FIRST + DISK_RESERVED_HANDLE_COUNT);
    if (moved < 0) err_from_system();
    close(fd);
    return moved;
}

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
    if (!path.ok) return passed(-1);
    const int low = mode & 0xF;
    const bool writes = low == DISK_WRITE || low == DISK_READ_WRITE;
    const int access = low == DISK_WRITE ? O_WRONLY : low == DISK_READ_WRITE ? O_RDWR : O_RDONLY;
    // A folder opens for reading here but never on Windows. A pipe put in a
    // file's place would hold a blocking open until a writer came.
    const int fd = open(path.path, access | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return system_failed();
    ScopeGuard close_fd([&] { close(fd); });
    struct stat st;
    if (fstat(fd, &st) != 0) return system_failed();
    if (S_ISDIR(st.st_mode)) return fail(ERR_IS_FOLDER, -1);
    if (!S_ISREG(st.st_mode)) return fail(ERR_FAILED, -1, "a pipe, socket or device, not a file");
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return system_failed();
    if (writes && is_read_only(st)) return fail(ERR_ACCESS_DENIED, -1);
    if (!lock_shared(fd, writes)) return passed(-1);
    close_fd.dismiss();
    return off_reserved(fd);
}

int disk_create(const char *name, int attributes)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    const NativeName path(name);
    if (!path.ok) return passed(-1);
    const bool read_only = attributes & DISK_ATTR_READONLY;
    const bool writes = !(attributes & (DISK_ATTR_READONLY | DISK_ATTR_SYSTEM));
    struct stat st;
    const bool existed = stat(path.path, &st) == 0;
    if (existed && is_read_only(st)) return fail(ERR_ACCESS_DENIED, -1);  // Windows will not overwrite it
    if (existed && S_ISDIR(st.st_mode)) return fail(ERR_IS_FOLDER, -1);

    const int fd = open(path.path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return system_failed();
    ScopeGuard undo([&] {
        close(fd);
        if (!existed) unlink(path.path);
    });
    // Cutting the file needs it to itself, as on Windows.
    if (!lock_shared(fd, true)) return passed(-1);
    if (ftruncate(fd, 0) != 0 || fstat(fd, &st) != 0) return system_failed();
    if (read_only && fchmod(fd, st.st_mode & ~0222) != 0) return system_failed();
    if (writes) {
        undo.dismiss();
        return off_reserved(fd);
    }
    // A handle that may only read: reopen, and share with readers from now on.
    const int reader = open(path.path, O_RDONLY | O_CLOEXEC);
    if (reader < 0) return system_failed();
    ScopeGuard close_reader([&] { close(reader); });
    if (flock(fd, LOCK_SH) != 0) return system_failed();
    if (!lock_shared(reader, false)) return passed(-1);
    close(fd);
    undo.dismiss();
    close_reader.dismiss();
    return off_reserved(reader);
}

int disk_create_new(const char *name)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    const NativeName path(name);
    if (!path.ok) return passed(-1);
    const int fd = open(path.path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return system_failed();
    if (!lock_shared(fd, true)) {
        close(fd);
        unlink(path.path);
        return passed(-1);
    }
    return off_reserved(fd);
}

int disk_copy_mode(const char *from, const char *to)
{
    const NativeName source(from);
    const NativeName target(to);
    struct stat st;
    if (!source.ok || !target.ok) return passed(-1);
    if (stat(source.path, &st) != 0) return system_failed();
    return chmod(target.path, st.st_mode & 0777) == 0 ? 0 : system_failed();
}

int disk_read(int handle, void *buffer, int count)
{
    int done = 0;
    while (done < count) {
        const ssize_t n = read(handle, static_cast<char *>(buffer) + done,
                               static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            err_from_system();
            return 0;
        }
        if (n == 0) break;
        done += static_cast<int>(n);
    }
    return done;
}

int disk_read_shared(int handle, int64_t offset, void *buffer, int count)
{
    if (offset < 0 || offset > DISK_POSITION_LIMIT) return fail(ERR_DAMAGED, -1, "an offset lies beyond the file");
    int done = 0;
    while (done < count) {
        const ssize_t n = pread(handle, static_cast<char *>(buffer) + done, static_cast<size_t>(count - done),
                                static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return system_failed();
        if (n == 0) return fail(ERR_DAMAGED, -1, "the file ends too soon");
        done += static_cast<int>(n);
    }
    return 0;
}

int disk_write(int handle, const void *buffer, int count)
{
    if (PLATFORM_FAULT(FAULT_WRITE)) return fail(ERR_IO, 0, "injected write failure");
    int done = 0;
    while (done < count) {
        const ssize_t n = write(handle, static_cast<const char *>(buffer) + done,
                                static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) err_from_system();
            else err_set(ERR_IO);
            return 0;
        }
        done += static_cast<int>(n);
    }
    PLATFORM_CACHE(fault_cache_note_write(handle, buffer, done));
    return done;
}

int disk_close(int handle)
{
    if (handle == -1) return fail(ERR_FAILED, -1, "no file open");
    PLATFORM_CACHE(fault_cache_note(CACHE_CLOSE, handle));
    return close(handle) == 0 ? 0 : system_failed();
}

uint32_t disk_seek(int handle, int32_t distance, int origin)
{
    // lseek knows more origins than the three of Windows.
    if (origin < DISK_SEEK_SET || origin > DISK_SEEK_END) return fail(ERR_FAILED, DISK_FAILED, "no such seek origin");
    const off_t was = lseek(handle, 0, SEEK_CUR);
    const off_t now = was < 0 ? -1 : lseek(handle, distance, origin);
    if (now < 0) {
        err_from_system();
        return DISK_FAILED;
    }
    // Positions are 32-bit, and all ones is the failure value.
    if (now >= static_cast<off_t>(DISK_FAILED)) {
        lseek(handle, was, SEEK_SET);
        return fail(ERR_TOO_LARGE, DISK_FAILED);
    }
    return static_cast<uint32_t>(now);
}

uint32_t disk_size(int handle)
{
    struct stat st;
    if (fstat(handle, &st) != 0) {
        err_from_system();
        return DISK_FAILED;
    }
    return static_cast<uint32_t>(st.st_size);
}

int disk_delete(const char *name)
{
    if (PLATFORM_FAULT(FAULT_DELETE)) return fail(ERR_IO, -1, "injected delete failure");
    const NativeName path(name);
    struct stat st;
    if (!path.ok) return passed(-1);
    if (lstat(path.path, &st) != 0) return system_failed();
    if (S_ISDIR(st.st_mode)) return fail(ERR_IS_FOLDER, -1);
    if (S_ISREG(st.st_mode) && is_read_only(st)) return fail(ERR_ACCESS_DENIED, -1);
    if (held_open(path.path)) return fail(ERR_HELD, -1);
    return unlink(path.path) == 0 ? 0 : system_failed();
}

int disk_rename(const char *old_name, const char *new_name)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return fail(ERR_IO, -1, "injected rename failure");
    const NativeName from(old_name);
    const NativeName to(new_name);
    if (!from.ok || !to.ok) return passed(-1);
    if (held_open(from.path)) return fail(ERR_HELD, -1);
    if (renameat2(AT_FDCWD, from.path, AT_FDCWD, to.path, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return system_failed();
    // A file system without the no-replace rename: check, then rename.
    struct stat st;
    if (lstat(to.path, &st) == 0) return fail(ERR_EXISTS, -1);
    return rename(from.path, to.path) == 0 ? 0 : system_failed();
}

int disk_link(const char *existing, const char *new_name)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    const NativeName from(existing);
    const NativeName to(new_name);
    if (!from.ok || !to.ok) return passed(-1);
    return link(from.path, to.path) == 0 ? 0 : system_failed();
}

int disk_mkdir(const char *path)
{
    const NativeName native(path);
    if (!native.ok) return passed(-1);
    return mkdir(native.path, 0777) == 0 ? 0 : system_failed();
}

int disk_rmdir(const char *path)
{
    const NativeName native(path);
    if (!native.ok) return passed(-1);
    return rmdir(native.path) == 0 ? 0 : system_failed();
}

int disk_flush(int handle)
{
    if (PLATFORM_FAULT(FAULT_FLUSH)) return fail(ERR_IO, -1, "injected flush failure");
    // Windows flushes only a handle that may write.
    const int flags = fcntl(handle, F_GETFL);
    if (flags < 0) return system_failed();
    if ((flags & O_ACCMODE) == O_RDONLY) return fail(ERR_ACCESS_DENIED, -1);
    if (!PLATFORM_SYNC_SKIPPED() && fsync(handle) != 0) return system_failed();
    PLATFORM_CACHE(fault_cache_note(CACHE_FLUSH, handle));
    return 0;
}

int disk_set_attributes(const char *name, uint32_t attributes)
{
    const NativeName path(name);
    struct stat st;
    if (!path.ok) return passed(-1);
    if (stat(path.path, &st) != 0) return system_failed();
    // Only read-only means something here; hidden, system and archive are
    // not kept. Windows does not enforce a folder's read-only bit.
    if (S_ISDIR(st.st_mode)) return 0;
    const mode_t mode = attributes & FILE_ATTR_READONLY ? st.st_mode & ~0222 : st.st_mode | S_IWUSR;
    return chmod(path.path, mode & 07777) == 0 ? 0 : system_failed();
}

int disk_replace(const char *source, const char *target)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return fail(ERR_IO, -1, "injected rename failure");
    const NativeName from(source);
    const NativeName to(target);
    if (!from.ok || !to.ok) return passed(-1);
    // As on Windows: a file held open, or a read-only target, is not replaced.
    if (held_open(from.path) || held_open(to.path)) return fail(ERR_HELD, -1);
    struct stat st;
    if (lstat(to.path, &st) == 0) {
        if (S_ISDIR(st.st_mode)) return fail(ERR_IS_FOLDER, -1);
        if (is_read_only(st)) return fail(ERR_ACCESS_DENIED, -1);
    }
    return std::rename(from.path, to.path) == 0 ? 0 : system_failed();
}

int64_t disk_file_size(const char *name)
{
    const NativeName path(name);
    struct stat st;
    if (!path.ok) return passed(-1);
    if (stat(path.path, &st) != 0) return system_failed();
    if (S_ISDIR(st.st_mode)) return fail(ERR_IS_FOLDER, -1);
    if (!S_ISREG(st.st_mode)) return fail(ERR_NOT_FILE, -1);
    return static_cast<int64_t>(st.st_size);
}

int disk_path_kind(const char *name, DiskIdentity *identity)
{
    const NativeName path(name);
    if (!path.ok) return passed(-1);
    struct stat st;
    if (stat(path.path, &st) != 0) {
        const int error = errno;
        struct stat link;
        if (error == ELOOP) return fail(ERR_LINK, -1, "a link loop");
        if (error == ENOENT && lstat(path.path, &link) == 0 && S_ISLNK(link.st_mode))
            return fail(ERR_LINK, -1, "a link to nothing");
        errno = error;
        return system_failed();
    }
    if (identity) *identity = DiskIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return S_ISDIR(st.st_mode) ? DISK_KIND_FOLDER : S_ISREG(st.st_mode) ? DISK_KIND_FILE : DISK_KIND_SPECIAL;
}

// ---- Writing beneath a folder without following links ----------------------
//
// Every step below the folder goes from a descriptor of the folder before it,
// never through a path, so a link planted anywhere in the tree is met as a
// link (O_NOFOLLOW, AT_SYMLINK_NOFOLLOW) instead of being followed.

struct DiskTree {
    int root;                  // the folder as named
    int here;                  // the folder entered last: root, or one of ours
    char root_path[PATH_MAX];  // for the interruption's table only
    char entered[PATH_MAX];    // what `here` stands for, below root
    bool has_entered;
    mode_t mask;               // the process's umask
};

namespace {

int tree_open_folder(int at, const char *name)
{
    return openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

void tree_leave(DiskTree *tree)
{
    if (tree->here != tree->root) close(tree->here);
    tree->here = tree->root;
    tree->has_entered = false;
}

// The path the interruption's handler removes a temporary file by.
bool tree_full_path(const DiskTree *tree, const char *name, char *out, size_t size)
{
    const int n = tree->entered[0] ? std::snprintf(out, size, "%s/%s/%s", tree->root_path, tree->entered, name)
                                   : std::snprintf(out, size, "%s/%s", tree->root_path, name);
    return n > 0 && static_cast<size_t>(n) < size;
}

void tree_forget(const DiskTree *tree, const char *name)
{
    char full[PATH_MAX];
    if (tree_full_path(tree, name, full, sizeof full)) disk_temp_forget(full);
}

// held_open for a name in a folder, the name itself.
bool held_at(int at, const char *name)
{
    const int fd = openat(at, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return false;
    ScopeGuard close_fd([&] { close(fd); });
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

// The umask, read once: it can only be read by setting it, and a moment's
// other mask would reach the folders and files other threads make then.
mode_t process_umask()
{
    static const mode_t mask = [] {
        const mode_t m = umask(022);
        umask(m);
        return m;
    }();
    return mask;
}

// A new file of the name in the folder entered, with the lock disk_create
// would give its handle; never through a link.
int tree_create(DiskTree *tree, const char *name, mode_t mode)
{
    const int fd = openat(tree->here, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return system_failed();
    if (!lock_shared(fd, true)) {
        close(fd);
        unlinkat(tree->here, name, 0);
        return passed(-1);
    }
    return off_reserved(fd);
}

// Through a descriptor: someone who swapped a link in for the file would
// have the link's target changed by a path.
int copy_mode_at(int at, const char *name, mode_t mode)
{
    const int fd = openat(at, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return system_failed();
    ScopeGuard close_fd([&] { close(fd); });
    temp_mark(fd, false);  // about to take its final name
    return fchmod(fd, mode & 0777) == 0 ? 0 : system_failed();
}

}  // namespace

DiskTree *disk_tree_open(const char *folder)
{
    const NativeName path(folder);
    if (!path.ok) return nullptr;
    DiskTree *tree = static_cast<DiskTree *>(mem_alloc(sizeof(DiskTree)));
    if (!tree) return fail(ERR_NO_MEMORY, nullptr);
    // Links on the way to the folder are followed: its user named it.
    tree->root = open(path.path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (tree->root < 0) {
        err_from_system();
        mem_free(tree);
        return nullptr;
    }
    tree->here = tree->root;
    tree->mask = process_umask();
    std::memcpy(tree->root_path, path.path, sizeof tree->root_path);
    tree->entered[0] = 0;
    tree->has_entered = false;
    return tree;
}

void disk_tree_close(DiskTree *tree)
{
    if (!tree) return;
    tree_leave(tree);
    close(tree->root);
    mem_free(tree);
}

int disk_tree_enter(DiskTree *tree, const char *path, int make)
{
    NativeName native(path);  // of the same length: a '\' becomes '/'
    if (!native.ok) return passed(-1);
    char *last = std::strrchr(native.path, '/');
    const int name_at = last ? static_cast<int>(last - native.path) + 1 : 0;
    if (last) *last = 0;
    else native.path[0] = 0;
    char *const folder = native.path;
    // Entries come folder by folder: stay where the last one was written.
    if (tree->has_entered && std::strcmp(tree->entered, folder) == 0) return name_at;
    tree_leave(tree);
    int at = tree->root;
    ScopeGuard close_at([&] {
        if (at != tree->root) close(at);
    });
    for (char *part = folder, *end; *part; part = end + (*end != 0)) {
        end = std::strchr(part, '/');
        if (!end) end = part + std::strlen(part);
        const char c = *end;
        *end = 0;
        ScopeGuard restore([&] { *end = c; });
        if (!*part || std::strcmp(part, ".") == 0) continue;
        if (std::strcmp(part, "..") == 0) return fail(ERR_BAD_NAME, -1, "a folder on its way is '..'");
        int next = tree_open_folder(at, part);
        if (next < 0 && errno == ENOENT && make) {
            if (mkdirat(at, part, 0777) != 0 && errno != EEXIST) return system_failed();
            next = tree_open_folder(at, part);
        }
        if (next < 0) {
            const int e = errno;
            struct stat st;
            if (fstatat(at, part, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                return fail(ERR_ACCESS_DENIED, -1, "a folder on its way is a link");
            errno = e;
            return system_failed();
        }
        if (at != tree->root) close(at);
        at = next;
    }
    close_at.dismiss();
    tree->here = at;
    std::memcpy(tree->entered, folder, std::strlen(folder) + 1);
    tree->has_entered = true;
    return name_at;
}

int disk_tree_kind(DiskTree *tree, const char *name)
{
    struct stat st;
    if (fstatat(tree->here, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? DISK_KIND_NONE : system_failed();
    if (S_ISLNK(st.st_mode)) return DISK_KIND_LINK;
    return S_ISDIR(st.st_mode) ? DISK_KIND_FOLDER : DISK_KIND_FILE;
}

int disk_tree_create(DiskTree *tree, const char *name)
{
    if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
    return tree_create(tree, name, 0666);
}

namespace {

// The temporary files beside name that a killed run left: a plain file with
// one name, ours, marked as a working copy, that no live run holds locked
// (tree_create locks it); never through a link. As replacement.cpp does beside a replaced file.
// Names are taken lowest first, so the search ends at the first free one:
// one probe for each file extracted where nothing was left.
void tree_remove_left(DiskTree *tree, const char *name, const char *suffix)
{
    char left[PATH_MAX];
    for (int n = 0; n < TEMP_TRIES; ++n) {
        if (!temp_name(left, sizeof left, name, n, suffix)) return;
        const int fd = openat(tree->here, left, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) return;
        if (fd < 0) continue;
        // Another thread's finished copy, closed and waiting for its name.
        char full[PATH_MAX];
        if (tree_full_path(tree, left, full, sizeof full) && temp_remembered(full)) {
            close(fd);
            continue;
        }
        struct stat st, now;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid() &&
            temp_marked(fd) && flock(fd, LOCK_EX | LOCK_NB) == 0 && fstatat(tree->here, left, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == st.st_dev && now.st_ino == st.st_ino)
            unlinkat(tree->here, left, 0);
        close(fd);
    }
}

}  // namespace

int disk_tree_create_temp(DiskTree *tree, char *dest, int size, const char *name, const char *suffix)
{
    tree_remove_left(tree, name, suffix);
    for (int n = 0; n < TEMP_TRIES; ++n) {
        if (!temp_name(dest, size, name, n, suffix)) return -1;
        char full[PATH_MAX];
        if (!tree_full_path(tree, dest, full, sizeof full)) return fail(ERR_NAME_TOO_LONG, -1);
        if (PLATFORM_FAULT(FAULT_CREATE)) return fail(ERR_IO, -1, "injected create failure");
        temp_hold();
        const int h = tree_create(tree, dest, 0600);
        const bool kept = h != -1 && temp_remember(full) == 0;
        if (h != -1 && !kept) {
            close(h);
            unlinkat(tree->here, dest, 0);
        }
        temp_release();
        if (kept) temp_mark(h, true);
        if (kept) return h;
        if (h != -1) return fail(ERR_TOO_MANY, -1, "too many temporary files");
        if (err_last() != ERR_EXISTS) return passed(-1);
    }
    return fail(ERR_EXISTS, -1, "every temporary name beside it is taken");
}

int disk_tree_replace(DiskTree *tree, const char *source, const char *target)
{
    if (PLATFORM_FAULT(FAULT_RENAME)) return fail(ERR_IO, -1, "injected rename failure");
    // As disk_replace: a file held open, or a read-only target, is not replaced.
    if (held_at(tree->here, source) || held_at(tree->here, target)) return fail(ERR_HELD, -1);
    struct stat st;
    if (fstatat(tree->here, target, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) return fail(ERR_IS_FOLDER, -1);
        if (S_ISREG(st.st_mode) && is_read_only(st)) return fail(ERR_ACCESS_DENIED, -1);
        if (S_ISREG(st.st_mode) && copy_mode_at(tree->here, source, st.st_mode) != 0) return passed(-1);
    } else {
        // A new file: the mode disk_tree_create would have given it, not
        // the temporary file's own.
        if (copy_mode_at(tree->here, source, 0666 & ~tree->mask) != 0) return passed(-1);
    }
    if (renameat(tree->here, source, tree->here, target) != 0) return system_failed();
    tree_forget(tree, source);
    return 0;
}

int disk_tree_delete(DiskTree *tree, const char *name)
{
    if (PLATFORM_FAULT(FAULT_DELETE)) return fail(ERR_IO, -1, "injected delete failure");
    const int r = unlinkat(tree->here, name, 0) == 0 ? 0 : system_failed();
    tree_forget(tree, name);
    return r;
}
