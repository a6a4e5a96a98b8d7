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
// Appended form, for a path ending in ".exe" (mounted read-only):
//   [executable][archive][u32 trailer = file offset of the archive]
// A signed executable carries its certificate table behind that, zero-padded
// to an 8-byte boundary, and names it in the PE security directory:
//   [executable][archive][trailer][0..7 zero bytes][certificate table]
#include <algorithm>
#include <cstring>

#include "archive/internal.h"
#include "platform/platform.h"

MountTable g_mount = {};

namespace {

bool read_at(int file, int64_t offset, void *buffer, int count)
{
    if (offset < 0 || offset > ARCHIVE_LIMIT) return false;
    if (disk_seek(file, static_cast<int32_t>(offset), DISK_SEEK_SET) != static_cast<uint32_t>(offset)) return false;
    return disk_read(file, buffer, count) == count;
}

uint32_t le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

bool ends_with_exe(const char *path)
{
    const size_t n = std::strlen(path);
    if (n < 5) return false;
    const char *ext = path + n - 4;
    for (int i = 0; i < 4; ++i) {
        char c = ext[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != ".exe"[i]) return false;
    }
    return true;
}

// Start of the certificate table when the file is a signed PE image whose
// table ends the file; 0 otherwise.
int64_t certificate_table(int file, int64_t file_size)
{
    uint8_t dos[64];
    if (!read_at(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
    const int64_t pe = le32(dos + 0x3C);
    // "PE\0\0", the 20-byte COFF header, then the optional header.
    uint8_t head[24 + 112];
    if (pe + static_cast<int64_t>(sizeof head) > file_size || !read_at(file, pe, head, sizeof head)) return 0;
    if (std::memcmp(head, "PE\0\0", 4) != 0) return 0;
    const int optional_size = head[20] | head[21] << 8;
    const int magic = head[24] | head[25] << 8;
    const int dirs_at = magic == 0x10B ? 96 : magic == 0x20B ? 112 : -1;  // PE32, PE32+
    if (dirs_at < 0 || optional_size < dirs_at + 5 * 8) return 0;
    if (le32(head + 24 + dirs_at - 4) < 5) return 0;  // NumberOfRvaAndSizes
    uint8_t security[8];
    if (!read_at(file, pe + 24 + dirs_at + 4 * 8, security, sizeof security)) return 0;
    const int64_t table = le32(security), size = le32(security + 4);
    if (table == 0 || size == 0 || table + size != file_size) return 0;
    return table;
}

// Finds the trailer of an appended archive. end receives the position just
// behind the trailer, base the archive's start. The trailer of a signed file
// stands before the certificate table and its zero padding; the padding
// length is found by the trailer that points at a header.
bool find_trailer(int file, int64_t file_size, int64_t *end, int64_t *base)
{
    const int64_t table = certificate_table(file, file_size);
    if (table >= PAK_TRAILER_SIZE + 7) {
        uint8_t tail[PAK_TRAILER_SIZE + 7];
        if (read_at(file, table - static_cast<int64_t>(sizeof tail), tail, sizeof tail)) {
            for (int pad = 0; pad <= 7; ++pad) {
                if (pad > 0 && tail[sizeof tail - pad] != 0) break;
                const int64_t candidate = le32(tail + sizeof tail - pad - PAK_TRAILER_SIZE);
                const int64_t trailer_end = table - pad;
                uint8_t magic[4];
                if (candidate + PAK_HEADER_SIZE <= trailer_end - PAK_TRAILER_SIZE &&
                    read_at(file, candidate, magic, 4) && le32(magic) == PAK_MAGIC) {
                    *end = trailer_end;
                    *base = candidate;
                    return true;
                }
            }
        }
    }
    uint8_t trailer[PAK_TRAILER_SIZE];
    if (!read_at(file, file_size - PAK_TRAILER_SIZE, trailer, sizeof trailer)) return false;
    *end = file_size;
    *base = le32(trailer);
    return true;
}

// Reads the directory of a mounted archive into a new block of capacity
// records; null on any failure.
PakEntry *read_directory(int file, const PakHeader &h, int64_t dir_pos, int64_t remaining, int *capacity)
{
    const int64_t count = h.entry_count;
    const int64_t plain_size = count * PAK_ENTRY_SIZE;
    int64_t records;
    if (count == 0) {
        records = PAK_EMPTY_DIR_SIZE / PAK_ENTRY_SIZE;
        if (h.packed_dir_size == 0 && remaining < PAK_EMPTY_DIR_SIZE) return nullptr;
    } else if (h.packed_dir_size == 0) {
        // Bounded by what the file holds before anything is allocated.
        if (plain_size > remaining) return nullptr;
        records = count;
    } else {
        // Deflate cannot expand more than 1032-fold: a count that no stream
        // of this length could hold is refused before its room is taken.
        if (h.packed_dir_size > remaining || plain_size > static_cast<int64_t>(h.packed_dir_size) * 1032)
            return nullptr;
        records = count + 20;
    }
    if (records * PAK_ENTRY_SIZE > ARCHIVE_LIMIT) return nullptr;
    const int bytes = static_cast<int>(records * PAK_ENTRY_SIZE);
    auto *dir = static_cast<PakEntry *>(mem_alloc(static_cast<size_t>(bytes)));
    if (!dir) return nullptr;
    ScopeGuard release_dir([&] { mem_free(dir); });
    std::memset(dir, 0, static_cast<size_t>(bytes));

    if (h.packed_dir_size == 0) {
        // Only entry_count records are used; bytes behind them are ignored.
        const int want = count == 0 ? PAK_EMPTY_DIR_SIZE : static_cast<int>(plain_size);
        if (!read_at(file, dir_pos, dir, want)) return nullptr;
    } else if (count > 0) {
        const int packed_size = static_cast<int>(h.packed_dir_size);
        void *packed = mem_alloc(static_cast<size_t>(packed_size));
        if (!packed) return nullptr;
        ScopeGuard release_packed([&] { mem_free(packed); });
        if (!read_at(file, dir_pos, packed, packed_size)) return nullptr;
        if (block_unpack(dir, packed, packed_size, bytes) < plain_size) return nullptr;
    }
    release_dir.dismiss();
    *capacity = static_cast<int>(records);
    return dir;
}

// Sorted positions of the slot's records; null when there is no room.
int32_t *build_index(PakEntry *dir, int count)
{
    auto *index = static_cast<int32_t *>(mem_alloc(static_cast<size_t>(count) * sizeof(int32_t)));
    if (!index) return nullptr;
    for (int i = 0; i < count; ++i) index[i] = i;
    if (count >= 2)
        std::sort(index, index + count,
                  [dir](int32_t a, int32_t b) { return name_order(dir[a].name, dir[b].name) < 0; });
    return index;
}

}  // namespace

int name_order(const char *a, const char *b)
{
    const auto *x = reinterpret_cast<const uint8_t *>(a);
    const auto *y = reinterpret_cast<const uint8_t *>(b);
    for (;; ++x, ++y) {
        const int cx = *x >= 'A' && *x <= 'Z' ? *x + 32 : *x;
        const int cy = *y >= 'A' && *y <= 'Z' ? *y + 32 : *y;
        if (cx != cy) return cx - cy;
        if (cx == 0) return 0;
    }
}

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

int vfs_mount(const char *path, int mode)
{
    const int slot = slot_alloc();
    if (slot < 0 || !path) return -1;
    if (!g_mount.handles_cleared) {
        std::memset(&g_handles, 0, sizeof g_handles);
        g_mount.handles_cleared = true;
    }
    const bool appended = ends_with_exe(path);
    if (appended && mode != DISK_READ) return -1;

    const int file = disk_open(path, mode);
    if (file == -1) return -1;
    ScopeGuard close_file([&] { disk_close(file); });

    const int64_t file_size = disk_size(file);
    if (file_size > ARCHIVE_LIMIT) return -1;  // also the failure value
    int64_t end = file_size, base = 0;
    if (appended && !find_trailer(file, file_size, &end, &base)) return -1;
    // The archive ends before the trailer; the header must fit inside it.
    const int64_t archive_end = appended ? end - PAK_TRAILER_SIZE : end;
    if (base + PAK_HEADER_SIZE > archive_end) return -1;

    PakHeader h;
    if (!read_at(file, base, &h, PAK_HEADER_SIZE) || h.magic != PAK_MAGIC) return -1;
    // A directory overlapping the header would give a new entry the data
    // offset 0, which marks a free record.
    if (h.dir_offset < PAK_HEADER_SIZE) return -1;
    const int64_t dir_pos = base + h.dir_offset;
    const int64_t remaining = archive_end - dir_pos;
    if (remaining <= 0) return -1;

    int capacity = 0;
    PakEntry *dir = read_directory(file, h, dir_pos, remaining, &capacity);
    if (!dir) return -1;

    const int count = static_cast<int>(h.entry_count);
    for (int i = 0; i < count; ++i) {
        if (dir[i].data_offset == 0) dir[i].name[0] = 0;
        dir[i].name[PAK_NAME_SIZE - 1] = 0;  // every name is a terminated string from here on
    }
    ArchiveSlot &s = g_mount.slots[slot];
    s.sorted_index = count > 0 ? build_index(dir, count) : nullptr;
    s.packed_dir_size = static_cast<int>(h.packed_dir_size);
    s.entry_count = count;
    s.capacity = capacity;
    s.dir_offset = static_cast<int>(dir_pos);
    s.base_offset = static_cast<int>(base);
    s.os_handle = file;
    s.first_drive = h.first_drive;
    s.last_drive = h.last_drive;
    s.directory = dir;
    s.flags = SLOT_MOUNTED;
    if (++g_mount.next_serial == 0) ++g_mount.next_serial;
    s.serial = g_mount.next_serial;
    if (slot >= g_mount.mount_count) g_mount.mount_count = slot + 1;
    close_file.dismiss();
    return slot;
}

void vfs_unmount(int slot)
{
    ArchiveSlot *s = slot_live(slot, 0);
    if (!s) return;
    if (s->flags & SLOT_DIRTY) pak_write_directory(slot);
    index_drop(slot);
    mem_free(s->directory);
    disk_close(s->os_handle);
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

int pak_write_directory(int slot)
{
    ArchiveSlot *s = slot_live(slot, 0);
    if (!s) return -1;
    const int file = s->os_handle;
    const int n = s->entry_count * PAK_ENTRY_SIZE;
    const int32_t words[2] = {s->entry_count, s->dir_offset};
    if (disk_seek(file, 4, DISK_SEEK_SET) != 4) return -1;
    if (disk_write(file, &words[0], 4) != 4 || disk_write(file, &words[1], 4) != 4) return -1;
    if (disk_seek(file, s->dir_offset, DISK_SEEK_SET) != static_cast<uint32_t>(s->dir_offset)) return -1;
    if (s->packed_dir_size == 0) return disk_write(file, s->directory, n) == n ? 0 : -1;

    // Twice the input, and room for the packed form of an empty directory
    // (which a capacity of 0 would not give).
    const int room = std::max(2 * n, 64);
    void *scratch = mem_alloc(static_cast<size_t>(room));
    if (!scratch) return -1;
    ScopeGuard release([&] { mem_free(scratch); });
    const int packed = block_pack(scratch, s->directory, n, room);
    if (packed == 0 || disk_write(file, scratch, packed) != packed) return -1;
    if (disk_seek(file, 20, DISK_SEEK_SET) != 20) return -1;
    return disk_write(file, &packed, 4) == 4 ? 0 : -1;
}

void archive_reset()
{
    // Releases without writing back: a test's leftovers must not reach files.
    for (ArchiveSlot &s : g_mount.slots) {
        if (s.flags & SLOT_MOUNTED) {
            mem_free(s.sorted_index);
            mem_free(s.directory);
            disk_close(s.os_handle);
        }
        s = ArchiveSlot{};
        s.os_handle = -1;
    }
    g_mount.mount_count = 0;
    g_mount.handles_cleared = false;
    std::memset(&g_handles, 0, sizeof g_handles);
    g_lookup = LookupState{};
    g_lookup.find_mode = -1;
    g_lookup.find_cursor.slot = -1;
}
