// Changing what an archive holds beyond writing new entries: deleting and
// renaming names, backups under a changed extension, and adding an entry
// beside an older one of the same name. Every operation takes a name that may
// address a disk file instead; slot_for_name decides.
//
// Nothing here reaches the archive file at once: records are freed or renamed
// in the slot's directory, the slot becomes dirty, and the directory is
// written back at unmount. Records are never removed while mounted.
#include <cstring>

#include "archive/internal.h"
#include "platform/platform.h"

namespace {

constexpr int NAME_WORK = 260;    // work buffer for an archive name
constexpr int BACKUP_WORK = 128;  // backup names: at most 127 bytes
constexpr int BACKUP_FILE = 32;   // file part of an entry's backup: at most 31

// Releases a record taken for one edit without counting it as an open file;
// an edit marked it changed, so its slot becomes dirty.
void release_edit(int record)
{
    handle_flush(record);
    g_handles.files[record].data_offset = 0;
}

// Lookups take a name as a pattern once a directory has changed: an edit
// must not fall on whichever entry a wildcard happens to match, nor store one.
bool has_wildcard(const char *name) { return std::strpbrk(name, "*?") != nullptr; }

// Takes a record and binds it to the entry of name; -1 when none is free or
// no entry holds the name (the record then stays free).
int bind_edit(const char *name)
{
    if (has_wildcard(strip_drive(name))) return -1;
    const int record = handle_alloc();
    if (record == -1) return -1;
    if (handle_bind(record, name) != 0) {
        g_handles.files[record].data_offset = 0;
        return -1;
    }
    return record;
}

// Name fields hold 40 bytes that need not end in a terminator.
bool same_name(const PakEntry &entry, const char *name)
{
    char field[PAK_NAME_SIZE + 1];
    std::memcpy(field, entry.name, PAK_NAME_SIZE);
    field[PAK_NAME_SIZE] = 0;
    return name_order(field, name) == 0;
}

// Where path_set_ext cuts: the last '.' of the path, else its end.
size_t extension_cut(const char *path)
{
    const char *cut = nullptr;
    const char *p = path;
    for (; *p; p += path_char_len(p))
        if (*p == '.') cut = p;
    return static_cast<size_t>((cut ? cut : p) - path);
}

}  // namespace

int vfs_delete(const char *name)
{
    if (slot_for_name(name) == -1) return disk_delete(name);

    const int record = bind_edit(name);
    if (record == -1) return -1;
    VfsOpenFile &file = g_handles.files[record];
    // The record keeps its name, size and data until the archive is rebuilt.
    slot_entry(file.slot, file.entry)->data_offset = 0;
    file.changed = true;
    index_drop(file.slot);
    release_edit(record);
    return 0;
}

int vfs_rename(const char *name, const char *new_name)
{
    if (slot_for_name(name) == -1) return disk_rename(name, new_name);
    if (!new_name[0] || has_wildcard(new_name)) return -1;

    // The directory part comes from the name as the caller wrote it.
    const char *key = strip_drive(name);
    if (std::strlen(key) >= NAME_WORK) return -1;
    char stored[NAME_WORK];
    path_dir(stored, key);
    const size_t dir_length = std::strlen(stored);
    const size_t new_length = std::strlen(new_name);
    if (dir_length + new_length >= PAK_NAME_SIZE) return -1;
    std::memcpy(stored + dir_length, new_name, new_length + 1);

    const int record = bind_edit(name);
    if (record == -1) return -1;
    VfsOpenFile &file = g_handles.files[record];
    const ArchiveSlot &slot = g_mount.slots[file.slot];

    // Like a disk rename, never onto another live entry: two live entries of
    // one name leave one of them unreachable.
    for (int i = 0; i < slot.entry_count; ++i) {
        const PakEntry &other = slot.directory[i];
        if (i != file.entry && other.data_offset != 0 && same_name(other, stored)) {
            g_handles.files[record].data_offset = 0;
            return -1;
        }
    }

    PakEntry *entry = slot_entry(file.slot, file.entry);
    std::memset(entry->name, 0, PAK_NAME_SIZE);
    std::memcpy(entry->name, stored, dir_length + new_length);
    file.changed = true;
    index_drop(file.slot);
    release_edit(record);
    return 0;
}

int vfs_add(const char *name, int attributes)
{
    const int target = slot_for_name(name);
    if (target == -1) return disk_create(name, attributes);

    const char *key = strip_drive(name);
    const size_t key_length = std::strlen(key);
    if (key_length >= PAK_NAME_SIZE || has_wildcard(key)) return -1;
    const int record = handle_alloc();
    if (record == -1) return -1;

    ArchiveSlot &slot = g_mount.slots[target];
    if (slot.entry_count >= slot.capacity) {
        constexpr int growth = 64;
        const int64_t bytes = (static_cast<int64_t>(slot.capacity) + growth) * PAK_ENTRY_SIZE;
        if (bytes > ARCHIVE_LIMIT) return -1;
        void *grown = mem_realloc(slot.directory, static_cast<size_t>(bytes));
        if (!grown) return -1;
        slot.directory = static_cast<PakEntry *>(grown);
        slot.capacity += growth;
    }
    index_drop(target);

    const int position = slot.entry_count;
    PakEntry &entry = slot.directory[position];
    std::memset(&entry, 0, sizeof entry);
    entry.stored_size = 0;
    entry.data_offset = static_cast<uint32_t>(slot.dir_offset - slot.base_offset);
    std::memcpy(entry.name, key, key_length);
    ++slot.entry_count;

    // Bound to the new record directly: a lookup could find the older entry.
    VfsOpenFile &file = g_handles.files[record];
    file.size = 0;
    file.data_offset = slot.dir_offset;
    file.position = 0;
    file.changed = false;
    file.entry = position;
    file.slot = target;
    file.serial = slot.serial;
    ++g_handles.open_count;
    return VFS_HANDLE_BASE + record;
}

int path_set_ext(char *path, const char *extension)
{
    std::memmove(path + extension_cut(path), extension, std::strlen(extension) + 1);
    return 0;
}

int vfs_make_backup(const char *name, const char *extension)
{
    const size_t cut = extension_cut(name);
    if (std::strlen(name) >= BACKUP_WORK || cut + std::strlen(extension) >= BACKUP_WORK) return -1;
    char backup[BACKUP_WORK];
    std::memcpy(backup, name, cut);
    std::strcpy(backup + cut, extension);

    // A name that already has the extension would be deleted to make room
    // for its own backup.
    if (name_order(name, backup) == 0) return -1;

    const bool in_archive = slot_for_name(name) != -1;
    char file_part[BACKUP_WORK];
    path_file(file_part, backup);
    if (in_archive && std::strlen(file_part) >= BACKUP_FILE) return -1;

    // The old backup goes only when there is something to replace it.
    if (in_archive) {
        const int record = bind_edit(name);
        if (record == -1) return -1;
        g_handles.files[record].data_offset = 0;
    } else {
        const int file = disk_open(name, DISK_READ);
        if (file == -1) return -1;
        disk_close(file);
    }

    vfs_delete(backup);
    return vfs_rename(name, in_archive ? file_part : backup);
}
