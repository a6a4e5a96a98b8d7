// Whole-file operations: rebuilding a stand-alone archive without the data of
// its freed records, and appending an archive to another file.
//
// Both build their result in a new file beside the one they change and move
// it over that file in one step only when it is complete, so that a failure
// at any step leaves the old file as it was, under its own name. The backup
// of a rebuilt archive is a copy for the same reason: a rename would leave
// the archive's name empty for a moment, and if the way back failed too the
// archive would be found only under the backup's name. The new files are
// made under names nobody uses (a user's own "<archive>.tmp" stays as it is),
// and the backup is written beside its place and moved there whole, so that
// an interruption leaves the old backup or the new one. Each file made keeps
// the mode of the one it replaces.
//
// A rebuilt archive:
//   off   size  content
//    0     24   PakHeader as before, with the new entry_count, dir_offset
//               and (packed) packed_dir_size
//   24      …   the live entries' data, in directory order, back to back
//    W      …   the directory: k records plain, the packed form of them, or
//               4096 zero bytes (plain, no live entries) so that it mounts
//
// An appended archive (the target afterwards):
//   off   size  content
//    0      T   the target's old content
//    T      S   the archive file, unchanged
//   T+S     4   trailer: T as a little-endian u32
// and, when the old content reserves a place for the payload's digest, the
// SHA-256 of the last S+4 bytes written there (digest.cpp).
#include <cstring>

#include "archive/internal.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t OFFSET_LIMIT = static_cast<uint32_t>(DISK_POSITION_LIMIT);
const char BACKUP_EXT[] = ".BAK";
const char FRESH_SUFFIX[] = ".tmp";  // the new file while it is being built

int copy_bytes(int from, int to, uint32_t count, char *buffer)
{
    return disk_copy_bytes(from, to, count, buffer, DISK_COPY_CHUNK);
}

// The archive copied to its backup's name through a file beside it, with
// the archive's mode (the two share a folder: only the extension differs).
int write_backup(const char *path, const char *backup)
{
    DiskReplacement r;
    if (disk_replacement_begin(&r, backup, FRESH_SUFFIX) != 0) return passed(-1);
    std::strcpy(r.mode_of, path);
    if (disk_copy_into(path, r.handle) != 0) {
        disk_replacement_abandon(&r);
        return passed(-1);
    }
    return disk_replacement_commit(&r);
}

// After a refused open for writing: whether the file is read-only (and
// opens for reading), keeping that refusal's reason when not.
bool read_only(const char *path)
{
    if (err_last() != ERR_ACCESS_DENIED) return false;
    const int file = disk_open(path, DISK_READ);
    const int attributes = file == -1 ? -1 : disk_handle_attributes(file);
    if (file != -1) disk_close(file);
    if (attributes >= 0 && (attributes & FILE_ATTR_READONLY)) return true;
    err_set(ERR_ACCESS_DENIED);
    return false;
}

// Writes the archive mounted in source, without the data of its freed
// records (nor of the live ones that drop marks), to out (a new file at its
// start): header, data, directory.
int rebuild_into(const ArchiveSlot &old, int out, char *buffer, const bool *drop = nullptr)
{
    // The header as stored, for what the mount keeps no copy of.
    PakHeader header;
    if (disk_read_at(old.os_handle, 0, &header, PAK_HEADER_SIZE) != 0) return passed(-1);
    if (disk_write(out, &header, PAK_HEADER_SIZE) != PAK_HEADER_SIZE) return passed(-1);

    const int count = old.entry_count;
    PakEntry *kept = static_cast<PakEntry *>(mem_alloc(static_cast<size_t>(count > 0 ? count : 1) * PAK_ENTRY_SIZE));
    if (!kept) return passed(-1);
    ScopeGuard free_kept([&] { mem_free(kept); });

    uint32_t w = PAK_HEADER_SIZE;
    int k = 0;
    for (int i = 0; i < count; ++i) {
        const PakEntry &entry = old.directory[i];
        if (entry.data_offset == 0 || (drop && drop[i])) continue;
        if (entry.data_offset > OFFSET_LIMIT) return fail(ERR_DAMAGED, -1, "an offset lies beyond the file");
        if (entry.stored_size > OFFSET_LIMIT - w) return fail(ERR_TOO_LARGE, -1, "archives end before 2 GiB");
        if (disk_seek(old.os_handle, static_cast<int32_t>(entry.data_offset), DISK_SEEK_SET) != entry.data_offset)
            return passed(-1);
        if (copy_bytes(old.os_handle, out, entry.stored_size, buffer) != 0) return passed(-1);
        kept[k] = entry;
        kept[k].data_offset = w;
        w += entry.stored_size;
        ++k;
    }

    if (header.packed_dir_size == 0 && k == 0) {
        // An empty plain archive mounts only with its 4096 bytes of space.
        std::memset(buffer, 0, PAK_EMPTY_DIR_SIZE);
        if (static_cast<uint32_t>(PAK_EMPTY_DIR_SIZE) > OFFSET_LIMIT - w) return fail(ERR_TOO_LARGE, -1, "archives end before 2 GiB");
        if (disk_write(out, buffer, PAK_EMPTY_DIR_SIZE) != PAK_EMPTY_DIR_SIZE) return passed(-1);
    } else {
        int length = 0;
        const bool packed = header.packed_dir_size != 0;
        if (directory_write(out, kept, k, packed, OFFSET_LIMIT - w, &length) != 0) return passed(-1);
        if (packed) header.packed_dir_size = static_cast<uint32_t>(length);
    }

    header.entry_count = static_cast<uint32_t>(k);
    header.dir_offset = w;
    if (disk_seek(out, 0, DISK_SEEK_SET) != 0) return passed(-1);
    return disk_write(out, &header, PAK_HEADER_SIZE) == PAK_HEADER_SIZE ? 0 : passed(-1);
}

}  // namespace

int pak_backup_name(const char *path, char backup[PAK_BACKUP_NAME_SIZE])
{
    // The last dot must stand in the file's own name: one in a folder's name
    // would put the backup in another folder.
    const char *dot = nullptr, *file = path;
    for (const char *p = path; *p; p += path_char_len(p)) {
        if (*p == '.') dot = p;
        else if (*p == '/' || *p == ':' || (*p == '\\' && path_char_len(p) == 1)) file = p + 1;
    }
    if (!dot || dot < file) return fail(ERR_BAD_NAME, -1, "the archive's name has no extension, so it has no backup name");
    const size_t stem = static_cast<size_t>(dot - path);
    if (stem + sizeof BACKUP_EXT > PAK_BACKUP_NAME_SIZE) return fail(ERR_NAME_TOO_LONG, -1);
    std::memcpy(backup, path, stem);
    std::memcpy(backup + stem, BACKUP_EXT, sizeof BACKUP_EXT);
    // An archive that carries the backup's name would be deleted to make
    // room for its own backup.
    if (name_order(path, backup) == 0) return fail(ERR_BAD_NAME, -1, "the archive already has its backup's name (.BAK)");
    return 0;
}

int pak_rebuild_into(int slot, int out, const bool *drop)
{
    const ArchiveSlot *old = slot_live(slot, 0);
    if (!old) return fail(ERR_FAILED, -1, "no archive is mounted in that slot");
    if (old->base_offset != 0) return fail(ERR_ACCESS_DENIED, -1, "only stand-alone archives are rebuilt");
    char *buffer = static_cast<char *>(mem_alloc(DISK_COPY_CHUNK));
    if (!buffer) return passed(-1);
    ScopeGuard free_buffer([&] { mem_free(buffer); });
    return rebuild_into(*old, out, buffer, drop);
}

int pak_compact(const char *path)
{
    vfs_unmount_all();
    ScopeGuard unmount([] { vfs_unmount_all(); });
    char backup[PAK_BACKUP_NAME_SIZE];
    if (pak_backup_name(path, backup) != 0) return passed(-1);
    // Mounted for writing although only read: an archive that could not be
    // replaced (open elsewhere) is refused before any work. A read-only one
    // is replaced all the same, by a read-only one (disk_replacement_commit).
    int source = vfs_mount(path, DISK_READ_WRITE);
    if (source == -1) {
        if (!read_only(path)) return passed(-1);
        source = vfs_mount(path, DISK_READ);
        if (source == -1) return passed(-1);
    }
    const ArchiveSlot &old = g_mount.slots[source];
    if (old.base_offset != 0) return fail(ERR_ACCESS_DENIED, -1, "only stand-alone archives are rebuilt");

    char *buffer = static_cast<char *>(mem_alloc(DISK_COPY_CHUNK));
    if (!buffer) return passed(-1);
    ScopeGuard free_buffer([&] { mem_free(buffer); });
    DiskReplacement fresh;
    if (disk_replacement_begin(&fresh, path, FRESH_SUFFIX) != 0) return passed(-1);
    ScopeGuard drop_fresh([&] { disk_replacement_abandon(&fresh); });
    if (rebuild_into(old, fresh.handle, buffer) != 0) return passed(-1);
    // The original is closed before it is replaced.
    unmount.dismiss();
    vfs_unmount_all();
    if (write_backup(path, backup) != 0) return passed(-1);
    drop_fresh.dismiss();
    return disk_replacement_commit(&fresh);
}

int pak_attach(const char *target, const char *archive)
{
    char *buffer = static_cast<char *>(mem_alloc(DISK_COPY_CHUNK));
    if (!buffer) return passed(-1);
    ScopeGuard free_buffer([&] { mem_free(buffer); });

    // Opened for writing although only read: a target that cannot be
    // written is refused.
    const int old = disk_open(target, DISK_READ_WRITE);
    if (old == -1) return passed(-1);
    ScopeGuard close_old([&] { disk_close(old); });
    const int in = disk_open(archive, DISK_READ);
    if (in == -1) return passed(-1);
    ScopeGuard close_in([&] { disk_close(in); });

    const uint32_t t = disk_size(old);
    const uint32_t s = disk_size(in);
    if (t == DISK_FAILED || s == DISK_FAILED) return passed(-1);
    if (t > OFFSET_LIMIT || s > OFFSET_LIMIT - t || PAK_TRAILER_SIZE > OFFSET_LIMIT - t - s)
        return fail(ERR_TOO_LARGE, -1, "the result would grow past 2 GiB");

    DiskReplacement fresh;
    if (disk_replacement_begin(&fresh, target, FRESH_SUFFIX) != 0) return passed(-1);
    ScopeGuard drop_fresh([&] { disk_replacement_abandon(&fresh); });
    const int out = fresh.handle;
    if (disk_seek(old, 0, DISK_SEEK_SET) != 0 || copy_bytes(old, out, t, buffer) != 0) return passed(-1);
    if (copy_bytes(in, out, s, buffer) != 0) return passed(-1);
    if (disk_write(out, &t, PAK_TRAILER_SIZE) != PAK_TRAILER_SIZE) return passed(-1);
    int64_t place = 0;
    const int has_place = payload_place_find(read_from_disk, const_cast<int *>(&old), t, &place);
    if (has_place < 0) return passed(-1);
    if (has_place) {
        uint8_t digest[SHA256_SIZE];
        const int64_t size = static_cast<int64_t>(t) + s + PAK_TRAILER_SIZE;
        if (payload_digest(read_from_disk, const_cast<int *>(&out), size, digest) != 0) return passed(-1);
        if (disk_seek(out, static_cast<int32_t>(place), DISK_SEEK_SET) != static_cast<uint32_t>(place) ||
            disk_write(out, digest, SHA256_SIZE) != SHA256_SIZE)
            return passed(-1);
    }
    close_old.dismiss();
    disk_close(old);
    close_in.dismiss();
    disk_close(in);
    drop_fresh.dismiss();
    return disk_replacement_commit(&fresh);
}
