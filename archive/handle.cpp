// Virtual files: one set of operations for disk files and archive entries.
// Handles 20000..20009 address the records below; any other value is a disk
// file handle, passed to the disk layer unchanged.
#include <cstring>

#include "archive/internal.h"
#include "platform/platform.h"

HandleTable g_handles = {};

namespace {

// Moves the archive file to the record's current position.
bool seek_record(const VfsOpenFile &f, const ArchiveSlot &s)
{
    const uint32_t at = static_cast<uint32_t>(f.data_offset + f.position);
    return disk_seek(s.os_handle, static_cast<int32_t>(at), DISK_SEEK_SET) == at;
}

}  // namespace

int vfs_is_archive_handle(int handle)
{
    return handle >= VFS_HANDLE_BASE && handle < VFS_HANDLE_BASE + VFS_MAX_HANDLES ? 1 : 0;
}

VfsOpenFile *handle_record(int handle)
{
    if (!vfs_is_archive_handle(handle)) return nullptr;
    VfsOpenFile &f = g_handles.files[handle - VFS_HANDLE_BASE];
    if (f.data_offset == 0) return fail(ERR_FAILED, static_cast<VfsOpenFile *>(nullptr), "the handle is not open");
    if (!slot_live(f.slot, f.serial))
        return fail(ERR_FAILED, static_cast<VfsOpenFile *>(nullptr), "the handle's archive is no longer mounted");
    return &f;
}

int handle_alloc()
{
    for (int i = 0; i < VFS_MAX_HANDLES; ++i)
        if (g_handles.files[i].data_offset == 0) return i;
    return fail(ERR_TOO_MANY, -1, "every archive handle is in use");
}

int handle_place(int record, int slot, int pos)
{
    const ArchiveSlot &s = g_mount.slots[slot];
    const PakEntry &e = s.directory[pos];
    // An entry reaching past what an int position can address is not opened.
    const int64_t start = static_cast<int64_t>(s.base_offset) + e.data_offset;
    if (start + e.stored_size > DISK_POSITION_LIMIT)
        return fail(ERR_TOO_LARGE, -1, "the entry lies beyond what an archive can address");
    VfsOpenFile &f = g_handles.files[record];
    f.size = static_cast<int>(e.stored_size);
    f.data_offset = static_cast<int>(start);
    f.position = 0;
    f.changed = false;
    f.entry = pos;
    f.slot = slot;
    f.serial = s.serial;
    return 0;
}

int handle_bind(int record, const char *name)
{
    if (!name) return fail(ERR_BAD_NAME, -1);
    if (record < 0 || record >= VFS_MAX_HANDLES) return passed(-1);  // handle_alloc said why
    const int pos = entry_lookup(name, LOOKUP_NAME);
    if (pos < 0) return fail(ERR_NOT_FOUND, -1);
    return handle_place(record, g_lookup.last_match_slot, pos);
}

int handle_flush(int record)
{
    if (record < 0 || record >= VFS_MAX_HANDLES) return 0;
    VfsOpenFile &f = g_handles.files[record];
    if (f.changed) {
        f.changed = false;
        // A slot mounted anew since the record was bound is another archive.
        if (ArchiveSlot *s = slot_live(f.slot, f.serial)) s->flags |= SLOT_DIRTY;
    }
    return 0;
}

int vfs_open(const char *name, int mode)
{
    if (slot_for_name(name) < 0) return name ? disk_open(name, mode) : fail(ERR_BAD_NAME, -1);
    const int record = handle_alloc();
    if (handle_bind(record, name) != 0) return passed(-1);
    ++g_handles.open_count;
    return VFS_HANDLE_BASE + record;
}

int vfs_create(const char *name, int attributes)
{
    const int target_by_name = slot_for_name(name);
    if (target_by_name < 0) return name ? disk_create(name, attributes) : fail(ERR_BAD_NAME, -1);
    const char *key = strip_drive(name);
    const size_t key_length = std::strlen(key);
    if (key_length >= PAK_NAME_SIZE) return fail(ERR_NAME_TOO_LONG, -1, "entry names hold at most 39 bytes");
    // Lookups take the name as a pattern: a wildcard would free whichever
    // entry it happens to match.
    if (has_wildcard(key)) return fail(ERR_BAD_NAME, -1, "entry names hold no '*' or '?'");

    const int record = handle_alloc();
    if (record < 0) return passed(-1);
    int target = target_by_name, existing = -1;
    if (handle_bind(record, name) == 0) {
        target = g_handles.files[record].slot;
        existing = g_handles.files[record].entry;
        g_handles.files[record].data_offset = 0;
    }

    if (directory_make_room(target) != 0) return passed(-1);
    if (existing >= 0) g_mount.slots[target].directory[existing].data_offset = 0;
    append_record(target, key);
    return vfs_open(name, DISK_READ_WRITE);
}

int vfs_close(int handle)
{
    if (!vfs_is_archive_handle(handle)) return disk_close(handle);
    const int record = handle - VFS_HANDLE_BASE;
    VfsOpenFile &f = g_handles.files[record];
    if (f.data_offset == 0) return 0;
    handle_flush(record);
    f = VfsOpenFile{};
    --g_handles.open_count;
    return 0;
}

int vfs_read(int handle, void *buffer, int count)
{
    if (!vfs_is_archive_handle(handle)) return disk_read(handle, buffer, count);
    VfsOpenFile *f = handle_record(handle);
    if (!f) return 0;
    const ArchiveSlot &s = g_mount.slots[f->slot];
    if (!seek_record(*f, s)) return 0;
    if (static_cast<int64_t>(f->position) + count > f->size) count = f->size - f->position;
    if (count <= 0) return 0;
    const int n = disk_read(s.os_handle, buffer, count);
    f->position += n;
    return n;
}

int vfs_write(int handle, const void *buffer, int count)
{
    if (!vfs_is_archive_handle(handle)) return disk_write(handle, buffer, count);
    VfsOpenFile *f = handle_record(handle);
    if (!f) return 0;
    if (count < 0) return fail(ERR_FAILED, 0, "negative count");
    ArchiveSlot &s = g_mount.slots[f->slot];
    PakEntry &e = s.directory[f->entry];
    // Data is appended where the directory stands, which then moves behind
    // it: only the newest entry, written at its end, can take more bytes
    // without overwriting the entries that follow it.
    if (f->entry != s.entry_count - 1 || e.data_offset == 0 || f->position != f->size ||
        f->data_offset + f->position != s.dir_offset)
        return fail(ERR_ACCESS_DENIED, 0, "only the newest entry, at its end, takes more bytes");
    if (static_cast<int64_t>(s.dir_offset) + count > DISK_POSITION_LIMIT)
        return fail(ERR_TOO_LARGE, 0, "the archive would grow past 2 GiB");
    if (!seek_record(*f, s)) return 0;
    const int n = disk_write(s.os_handle, buffer, count);
    s.dir_offset += n;
    f->position += n;
    if (f->position > f->size) {
        f->size = f->position;
        e.stored_size = static_cast<uint32_t>(f->position);
    }
    f->changed = true;
    return n;
}

int vfs_write_at(int handle, int offset, const void *buffer, int count)
{
    VfsOpenFile *f = handle_record(handle);
    if (!f) return vfs_is_archive_handle(handle) ? 0 : fail(ERR_FAILED, 0, "not an archive handle");
    const ArchiveSlot &s = g_mount.slots[f->slot];
    // Bytes of the newest entry lie before the directory and nothing else.
    if (f->entry != s.entry_count - 1 || s.directory[f->entry].data_offset == 0 || offset < 0 || count < 0 ||
        static_cast<int64_t>(offset) + count > f->size)
        return fail(ERR_ACCESS_DENIED, 0, "only bytes the newest entry holds can be written again");
    const uint32_t at = static_cast<uint32_t>(f->data_offset + offset);
    if (disk_seek(s.os_handle, static_cast<int32_t>(at), DISK_SEEK_SET) != at) return passed(0);
    const int n = disk_write(s.os_handle, buffer, count);
    if (n == count) f->changed = true;
    return n;
}

int vfs_size(int handle)
{
    if (!vfs_is_archive_handle(handle)) {
        const uint32_t size = disk_size(handle);
        if (size == DISK_FAILED) return passed(-1);
        return size > DISK_POSITION_LIMIT ? fail(ERR_TOO_LARGE, -1, "files end before 2 GiB") : static_cast<int>(size);
    }
    const VfsOpenFile *f = handle_record(handle);
    return f ? f->size : passed(-1);
}

int vfs_seek(int handle, int distance, int origin)
{
    if (!vfs_is_archive_handle(handle)) return static_cast<int>(disk_seek(handle, distance, origin));
    VfsOpenFile *f = handle_record(handle);
    if (!f) return passed(-1);
    int64_t target = distance;
    if (origin == DISK_SEEK_CUR) target += f->position;
    else if (origin == DISK_SEEK_END) target += f->size;
    if (target > f->size) target = f->size;
    if (target < 0) target = 0;
    f->position = static_cast<int>(target);
    return f->position;
}

int vfs_open_count() { return g_handles.open_count; }
