// The mount table: archives open as drives, their directories in memory.
//
// PakHeader, 24 bytes at archive offset 0 (little-endian):
//   off size field
//    0   4   magic            "PAKS"
//    4   4   entry_count      records in the directory, free ones included
//    8   4   dir_offset       archive offset of the directory
//   12   1   first_drive      lowest drive character served
//   13   1   last_drive       highest drive character served
//   14   2   reserved
//   16   4   user_value       not used by mounting
//   20   4   packed_dir_size  0: plain directory of entry_count * 64 bytes;
//                             else the length of the packed directory
//
// Appended form, for a path ending in ".exe" (mounted read-only): see
// appended.cpp.
//
// A slot mounted over a caller's open file (vfs_mount_handle) reads through
// it and leaves it open: its owner keeps it past the unmount.
#include <algorithm>
#include <cstring>

#include "archive/internal.h"
#include "platform/platform.h"

MountTable g_mount = {};

namespace {

// Reads the directory of a mounted archive into a new block of capacity
// records; null on any failure.
PakEntry *read_directory(int file, const PakHeader &h, int64_t dir_pos, int64_t remaining, int *capacity)
{
    const int64_t count = h.entry_count;
    const int64_t plain_size = count * PAK_ENTRY_SIZE;
    int64_t records;
    constexpr const char *past_end = "the directory runs past the end of the file";
    if (count == 0) {
        records = PAK_EMPTY_DIR_SIZE / PAK_ENTRY_SIZE;
        if (h.packed_dir_size == 0 && remaining < PAK_EMPTY_DIR_SIZE) return fail(ERR_DAMAGED, nullptr, past_end);
    } else if (h.packed_dir_size == 0) {
        // Bounded by what the file holds before anything is allocated.
        if (plain_size > remaining) return fail(ERR_DAMAGED, nullptr, past_end);
        records = count;
    } else {
        // A count that no stream of this length could hold is refused before
        // its room is taken.
        if (h.packed_dir_size > remaining) return fail(ERR_DAMAGED, nullptr, past_end);
        if (plain_size > static_cast<int64_t>(h.packed_dir_size) * BLOCK_MAX_RATIO)
            return fail(ERR_DAMAGED, nullptr, "the packed directory cannot hold its entry count");
        records = count + 20;
    }
    if (records * PAK_ENTRY_SIZE > DISK_POSITION_LIMIT) return fail(ERR_TOO_LARGE, nullptr, "the directory is too large");
    const int bytes = static_cast<int>(records * PAK_ENTRY_SIZE);
    auto *dir = static_cast<PakEntry *>(mem_alloc(static_cast<size_t>(bytes)));
    if (!dir) return passed(nullptr);
    ScopeGuard release_dir([&] { mem_free(dir); });
    // A plain directory's read fills every record; an unpacked one may leave
    // spare records behind its entries.
    if (h.packed_dir_size != 0) std::memset(dir, 0, static_cast<size_t>(bytes));

    if (h.packed_dir_size == 0) {
        // Only entry_count records are used; bytes behind them are ignored.
        const int want = count == 0 ? PAK_EMPTY_DIR_SIZE : static_cast<int>(plain_size);
        if (disk_read_at(file, dir_pos, dir, want) != 0) return passed(nullptr);
    } else if (count > 0) {
        const int packed_size = static_cast<int>(h.packed_dir_size);
        void *packed = mem_alloc(static_cast<size_t>(packed_size));
        if (!packed) return passed(nullptr);
        ScopeGuard release_packed([&] { mem_free(packed); });
        if (disk_read_at(file, dir_pos, packed, packed_size) != 0) return passed(nullptr);
        const int got = block_unpack(dir, packed, packed_size, bytes);
        if (got == 0) return fail(ERR_DAMAGED, nullptr, "the packed directory does not unpack");
        if (got < plain_size) return fail(ERR_DAMAGED, nullptr, "the packed directory holds fewer entries than its header says");
    }
    release_dir.dismiss();
    *capacity = static_cast<int>(records);
    return dir;
}

}  // namespace

int read_from_disk(int64_t offset, void *buffer, int count, void *context)
{
    return disk_read_at(*static_cast<const int *>(context), offset, buffer, count);
}

int name_order(const char *a, const char *b) { return path_name_order(a, b); }

int slot_alloc()
{
    for (int i = g_mount.mount_count; i < VFS_MAX_SLOTS; ++i)
        if (!(g_mount.slots[i].flags & SLOT_MOUNTED)) return i;
    return -1;
}

ArchiveSlot *slot_live(int slot, uint32_t serial)
{
    if (slot < 0 || slot >= VFS_MAX_SLOTS) return nullptr;
    ArchiveSlot &s = g_mount.slots[slot];
    if (!(s.flags & SLOT_MOUNTED) || (serial != 0 && s.serial != serial)) return nullptr;
    return &s;
}

PakEntry *slot_entry(int slot, int position)
{
    ArchiveSlot *s = slot_live(slot, 0);
    if (!s || position < 0 || position >= s->capacity) return nullptr;
    return &s->directory[position];
}

void index_drop(int slot)
{
    if (slot < 0 || slot >= VFS_MAX_SLOTS) return;
    mem_free(g_mount.slots[slot].sorted_index);
    g_mount.slots[slot].sorted_index = nullptr;
}

namespace {

// The free slot a mount takes, or -1; the first mount of a run clears the
// handle table.
int mount_slot(int mode, bool appended)
{
    const int slot = slot_alloc();
    if (slot < 0) return fail(ERR_TOO_MANY, -1, "every archive slot is in use");
    if (!g_mount.handles_cleared) {
        std::memset(&g_handles, 0, sizeof g_handles);
        g_mount.handles_cleared = true;
    }
    if (appended && mode != DISK_READ)
        return fail(ERR_ACCESS_DENIED, -1, "an archive attached to a program is read-only");
    return slot;
}

// Mounts the open file in slot. The slot owns the file unless it is
// borrowed; a failure closes only a file the slot would have owned.
// max_entries > 0 refuses a directory of more records before any is read.
int mount_open(int slot, int file, bool borrowed, bool appended, bool indexed, int64_t max_entries = 0)
{
    ScopeGuard close_file([&] {
        if (!borrowed) disk_close(file);
    });
    const uint32_t size = disk_size(file);
    if (size == DISK_FAILED) return passed(-1);
    const int64_t file_size = size;
    if (file_size > DISK_POSITION_LIMIT) return fail(ERR_TOO_LARGE, -1, "archives end before 2 GiB");
    int64_t end = file_size, base = 0;
    if (appended && appended_locate(read_from_disk, const_cast<int *>(&file), file_size, &base, &end) != 0)
        return passed(-1);
    // The archive ends before the trailer; the header must fit inside it.
    const int64_t archive_end = appended ? end - PAK_TRAILER_SIZE : end;
    if (base + PAK_HEADER_SIZE > archive_end) {
        // A file that begins as an archive begins is one, cut short.
        uint32_t magic = 0;
        if (archive_end - base >= 4 && disk_read_at(file, base, &magic, 4) == 0 && magic == PAK_MAGIC)
            return fail(ERR_DAMAGED, -1, "the header is cut short");
        return fail(ERR_NOT_ARCHIVE, -1, "shorter than an archive header");
    }

    PakHeader h;
    if (disk_read_at(file, base, &h, PAK_HEADER_SIZE) != 0) return passed(-1);
    if (h.magic != PAK_MAGIC) return fail(ERR_NOT_ARCHIVE, -1);
    // A directory overlapping the header would give a new entry the data
    // offset 0, which marks a free record.
    if (h.dir_offset < PAK_HEADER_SIZE) return fail(ERR_DAMAGED, -1, "the directory overlaps the header");
    if (max_entries > 0 && h.entry_count > max_entries) return fail(ERR_TOO_LARGE, -1, "the directory is too large");
    const int64_t dir_pos = base + h.dir_offset;
    const int64_t remaining = archive_end - dir_pos;
    if (remaining <= 0) return fail(ERR_DAMAGED, -1, "the directory lies past the end of the file");

    int capacity = 0;
    PakEntry *dir = read_directory(file, h, dir_pos, remaining, &capacity);
    if (!dir) return passed(-1);

    const int count = static_cast<int>(h.entry_count);
    for (int i = 0; i < count; ++i) {
        if (dir[i].data_offset == 0) dir[i].name[0] = 0;
        dir[i].name[PAK_NAME_SIZE - 1] = 0;  // every name is a terminated string from here on
    }
    ArchiveSlot &s = g_mount.slots[slot];
    // Without room for the index, lookups scan the directory instead.
    s.sorted_index = indexed && count > 0 ? build_index(dir, count) : nullptr;
    s.packed_dir_size = static_cast<int>(h.packed_dir_size);
    s.entry_count = count;
    s.capacity = capacity;
    s.dir_offset = static_cast<int>(dir_pos);
    s.base_offset = static_cast<int>(base);
    s.os_handle = file;
    s.first_drive = h.first_drive;
    s.last_drive = h.last_drive;
    s.directory = dir;
    s.flags = SLOT_MOUNTED | (borrowed ? SLOT_BORROWED : 0);
    if (++g_mount.next_serial == 0) ++g_mount.next_serial;
    s.serial = g_mount.next_serial;
    if (slot >= g_mount.mount_count) g_mount.mount_count = slot + 1;
    close_file.dismiss();
    return slot;
}

int mount_file(const char *path, int mode, bool appended)
{
    if (!path) return fail(ERR_BAD_NAME, -1);
    const int slot = mount_slot(mode, appended);
    if (slot < 0) return passed(-1);
    const int file = disk_open(path, mode);
    if (file == -1) return passed(-1);
    return mount_open(slot, file, false, appended, true);
}

}  // namespace

int vfs_mount(const char *path, int mode) { return mount_file(path, mode, path && vfs_is_appended_name(path)); }

int vfs_mount_appended(const char *path) { return mount_file(path, DISK_READ, true); }

int vfs_mount_handle(int disk_handle, bool appended, bool indexed)
{
    if (disk_handle == -1) return fail(ERR_FAILED, -1, "no file open");
    const int slot = mount_slot(DISK_READ, appended);
    return slot < 0 ? passed(-1) : mount_open(slot, disk_handle, true, appended, indexed);
}

int vfs_mount_probe(int disk_handle)
{
    if (disk_handle == -1) return fail(ERR_FAILED, -1, "no file open");
    const int slot = mount_slot(DISK_READ, false);
    return slot < 0 ? passed(-1) : mount_open(slot, disk_handle, true, false, false, VFS_PROBE_ENTRY_LIMIT);
}

void vfs_unmount(int slot)
{
    ArchiveSlot *s = slot_live(slot, 0);
    if (!s) return;
    if (s->flags & SLOT_DIRTY) pak_write_directory(slot);
    index_drop(slot);
    mem_free(s->directory);
    if (!(s->flags & SLOT_BORROWED)) disk_close(s->os_handle);
    *s = ArchiveSlot{};
    s->os_handle = -1;
    if (slot + 1 == g_mount.mount_count) {
        int top = slot - 1;
        while (top >= 0 && !(g_mount.slots[top].flags & SLOT_MOUNTED)) --top;
        g_mount.mount_count = top + 1;
    }
}

void vfs_unmount_all()
{
    for (int i = g_mount.mount_count - 1; i >= 0; --i) vfs_unmount(i);
    g_mount.mount_count = 0;
}

int directory_write(int file, const PakEntry *records, int count, bool packed, uint32_t limit, int *length)
{
    const int n = count * PAK_ENTRY_SIZE;
    if (!packed) {
        if (static_cast<uint32_t>(n) > limit) return fail(ERR_TOO_LARGE, -1, "archives end before 2 GiB");
        *length = n;
        return disk_write(file, records, n) == n ? 0 : passed(-1);
    }
    // Room for what deflate adds to incompressible input, and for the packed
    // form of an empty directory (which a capacity of 0 would not give).
    const int64_t room = 2 * static_cast<int64_t>(n) + 64;
    if (room > DISK_POSITION_LIMIT) return fail(ERR_TOO_LARGE, -1, "the directory is too large");
    void *scratch = mem_alloc(static_cast<size_t>(room));
    if (!scratch) return passed(-1);
    ScopeGuard release([&] { mem_free(scratch); });
    const int c = block_pack(scratch, records, n, static_cast<int>(room));
    if (c == 0) return passed(-1);
    if (static_cast<uint32_t>(c) > limit) return fail(ERR_TOO_LARGE, -1, "archives end before 2 GiB");
    *length = c;
    return disk_write(file, scratch, c) == c ? 0 : passed(-1);
}

int pak_write_directory(int slot)
{
    ArchiveSlot *s = slot_live(slot, 0);
    if (!s) return fail(ERR_FAILED, -1, "no archive is mounted in that slot");
    const int file = s->os_handle;
    const int32_t words[2] = {s->entry_count, s->dir_offset};
    if (disk_seek(file, 4, DISK_SEEK_SET) != 4) return passed(-1);
    if (disk_write(file, &words[0], 4) != 4 || disk_write(file, &words[1], 4) != 4) return passed(-1);
    if (disk_seek(file, s->dir_offset, DISK_SEEK_SET) != static_cast<uint32_t>(s->dir_offset)) return passed(-1);
    const bool packed = s->packed_dir_size != 0;
    int written = 0;
    const uint32_t limit = static_cast<uint32_t>(DISK_POSITION_LIMIT) - static_cast<uint32_t>(s->dir_offset);
    if (directory_write(file, s->directory, s->entry_count, packed, limit, &written) != 0) return passed(-1);
    if (!packed) return 0;
    if (disk_seek(file, 20, DISK_SEEK_SET) != 20) return passed(-1);
    return disk_write(file, &written, 4) == 4 ? 0 : passed(-1);
}

void archive_reset()
{
    block_codec_release();
    // Releases without writing back: a test's leftovers must not reach files.
    for (ArchiveSlot &s : g_mount.slots) {
        if (s.flags & SLOT_MOUNTED) {
            mem_free(s.sorted_index);
            mem_free(s.directory);
            if (!(s.flags & SLOT_BORROWED)) disk_close(s.os_handle);
        }
        s = ArchiveSlot{};
        s.os_handle = -1;
    }
    g_mount.mount_count = 0;
    g_mount.handles_cleared = false;
    std::memset(&g_handles, 0, sizeof g_handles);
    g_lookup = LookupState{};
    g_lookup.find_cursor.slot = -1;
}
