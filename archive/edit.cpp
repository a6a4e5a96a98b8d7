// Changing what an archive holds beyond writing new entries: deleting and
// renaming names, backups under a changed extension, and adding an entry
// beside an older one of the same name. The name-based operations take a name
// that may address a disk file instead (slot_for_name decides); the _at forms
// act on a record that the caller found by position.
//
// Nothing here reaches the archive file at once: records are freed or renamed
// in the slot's directory, the slot becomes dirty, and the directory is
// written back at unmount. Records are never removed while mounted.
#include <cstring>

#include "archive/internal.h"
#include "platform/platform.h"

namespace {

constexpr int NAME_WORK = PATH_BUFFER_SIZE;  // work buffer for an archive name
constexpr int BACKUP_WORK = 128;  // backup names: at most 127 bytes
constexpr int BACKUP_FILE = 32;   // file part of an entry's backup: at most 31

// Takes a record and binds it to the entry of name; -1 when none is free or
// no entry holds the name (the record then stays free).
int bind_edit(const char *name)
{
    if (has_wildcard(strip_drive(name))) return fail(ERR_BAD_NAME, -1, "a wildcard in an edited name");
    const int record = handle_alloc();
    if (record == -1) return passed(-1);
    if (handle_bind(record, name) != 0) {
        g_handles.files[record].data_offset = 0;
        return passed(-1);
    }
    return record;
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

// The record at position when it is live; null (reason set) otherwise.
PakEntry *live_record(int slot, int position)
{
    ArchiveSlot *s = slot_live(slot, 0);
    if (!s) return fail(ERR_FAILED, static_cast<PakEntry *>(nullptr), "no archive is mounted in that slot");
    if (position < 0 || position >= s->entry_count || s->directory[position].data_offset == 0)
        return fail(ERR_NOT_FOUND, static_cast<PakEntry *>(nullptr), "no live record at that position");
    return &s->directory[position];
}

// A name a record can store: 1 to 39 bytes, no wildcard.
int check_stored_name(const char *name)
{
    if (!name || !name[0]) return fail(ERR_BAD_NAME, -1, "an empty entry name");
    if (std::strlen(name) >= PAK_NAME_SIZE) return fail(ERR_NAME_TOO_LONG, -1, "entry names hold at most 39 bytes");
    if (has_wildcard(name)) return fail(ERR_BAD_NAME, -1, "entry names hold no '*' or '?'");
    return 0;
}

// True when a live record other than `except` has the name.
bool name_taken(int slot, const char *name, int except)
{
    const int newest = vfs_find_live(slot, name, VFS_ANY_POSITION);
    return newest >= 0 && (newest != except || vfs_find_live(slot, name, except) >= 0);
}

// Marks the slot changed, as closing an edited handle would.
void directory_changed(int slot)
{
    g_mount.slots[slot].flags |= SLOT_DIRTY;
    index_drop(slot);
}

}  // namespace

bool has_wildcard(const char *name) { return std::strpbrk(name, "*?") != nullptr; }

int directory_make_room(int slot)
{
    ArchiveSlot &s = g_mount.slots[slot];
    if (s.entry_count < s.capacity) return 0;
    constexpr int growth = 64;
    const int64_t bytes = (static_cast<int64_t>(s.capacity) + growth) * PAK_ENTRY_SIZE;
    if (bytes > DISK_POSITION_LIMIT) return fail(ERR_TOO_LARGE, -1, "the directory would grow past 2 GiB");
    void *grown = mem_realloc(s.directory, static_cast<size_t>(bytes));
    if (!grown) return passed(-1);
    s.directory = static_cast<PakEntry *>(grown);
    s.capacity += growth;
    return 0;
}

int append_record(int slot, const char *key)
{
    ArchiveSlot &s = g_mount.slots[slot];
    index_drop(slot);
    const int position = s.entry_count;
    PakEntry &entry = s.directory[position];
    std::memset(&entry, 0, sizeof entry);
    entry.data_offset = static_cast<uint32_t>(s.dir_offset - s.base_offset);
    std::memcpy(entry.name, key, std::strlen(key));
    ++s.entry_count;
    return position;
}

int vfs_delete(const char *name)
{
    if (slot_for_name(name) == -1) return disk_delete(name);

    const int record = bind_edit(name);
    if (record == -1) return passed(-1);
    const VfsOpenFile file = g_handles.files[record];
    g_handles.files[record].data_offset = 0;
    return vfs_delete_at(file.slot, file.entry);
}

int vfs_rename(const char *name, const char *new_name)
{
    if (slot_for_name(name) == -1) return disk_rename(name, new_name);
    if (!new_name[0] || has_wildcard(new_name)) return fail(ERR_BAD_NAME, -1);

    // The directory part comes from the name as the caller wrote it.
    const char *key = strip_drive(name);
    if (std::strlen(key) >= NAME_WORK) return fail(ERR_NAME_TOO_LONG, -1);
    char stored[NAME_WORK];
    path_dir(stored, key);
    const size_t dir_length = std::strlen(stored);
    const size_t new_length = std::strlen(new_name);
    if (dir_length + new_length >= PAK_NAME_SIZE)
        return fail(ERR_NAME_TOO_LONG, -1, "entry names hold at most 39 bytes");
    std::memcpy(stored + dir_length, new_name, new_length + 1);

    const int record = bind_edit(name);
    if (record == -1) return passed(-1);
    const VfsOpenFile file = g_handles.files[record];
    g_handles.files[record].data_offset = 0;
    return vfs_rename_at(file.slot, file.entry, stored);
}

int vfs_add(const char *name, int attributes)
{
    const int target = slot_for_name(name);
    if (target == -1) return disk_create(name, attributes);

    const char *key = strip_drive(name);
    if (check_stored_name(key) != 0) return passed(-1);
    const int record = handle_alloc();
    if (record == -1 || directory_make_room(target) != 0) return passed(-1);
    // Bound to the new record directly: a lookup could find the older entry.
    if (handle_place(record, target, append_record(target, key)) != 0) return passed(-1);
    ++g_handles.open_count;
    return VFS_HANDLE_BASE + record;
}

int vfs_delete_at(int slot, int position)
{
    PakEntry *entry = live_record(slot, position);
    if (!entry) return passed(-1);
    // The record keeps its name, size and data until the archive is rebuilt.
    entry->data_offset = 0;
    directory_changed(slot);
    return 0;
}

int vfs_rename_at(int slot, int position, const char *new_name)
{
    PakEntry *entry = live_record(slot, position);
    if (!entry || check_stored_name(new_name) != 0) return passed(-1);
    // Like a disk rename, never onto another live entry: two live entries of
    // one name leave one of them unreachable.
    if (name_taken(slot, new_name, position)) return fail(ERR_EXISTS, -1, "another entry has that name");
    std::memset(entry->name, 0, PAK_NAME_SIZE);
    std::memcpy(entry->name, new_name, std::strlen(new_name));
    directory_changed(slot);
    return 0;
}

int vfs_create_at(int slot, const char *name, int replaced)
{
    if (check_stored_name(name) != 0) return passed(-1);
    if (!slot_live(slot, 0)) return fail(ERR_FAILED, -1, "no archive is mounted in that slot");
    if (replaced >= 0 && !live_record(slot, replaced)) return passed(-1);
    const int record = handle_alloc();
    if (record == -1 || directory_make_room(slot) != 0) return passed(-1);
    if (replaced >= 0) g_mount.slots[slot].directory[replaced].data_offset = 0;
    if (handle_place(record, slot, append_record(slot, name)) != 0) return passed(-1);
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
    if (std::strlen(name) >= BACKUP_WORK || cut + std::strlen(extension) >= BACKUP_WORK)
        return fail(ERR_NAME_TOO_LONG, -1);
    char backup[BACKUP_WORK];
    std::memcpy(backup, name, cut);
    std::strcpy(backup + cut, extension);

    // A name that already has the extension would be deleted to make room
    // for its own backup.
    if (name_order(name, backup) == 0) return fail(ERR_BAD_NAME, -1, "the name already has the backup's extension");

    const bool in_archive = slot_for_name(name) != -1;
    char file_part[BACKUP_WORK];
    path_file(file_part, backup);
    if (in_archive && std::strlen(file_part) >= BACKUP_FILE) return fail(ERR_NAME_TOO_LONG, -1);

    // The old backup goes only when there is something to replace it.
    if (in_archive) {
        const int record = bind_edit(name);
        if (record == -1) return passed(-1);
        g_handles.files[record].data_offset = 0;
    } else {
        if (!disk_opens(name)) return passed(-1);
    }

    vfs_delete(backup);
    return vfs_rename(name, in_archive ? file_part : backup);
}
