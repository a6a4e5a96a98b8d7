// Starting and finishing an archive that is being built: a new, empty
// stand-alone archive file mounted for writing, and the write-back of the
// most recently mounted archive's directory on request.
//
// A new archive file:
//   off   size  content
//    0     24   PakHeader: "PAKS", entry_count 0, dir_offset 24, the drive
//               range, 2 zero bytes, user_value, packed_dir_size (4096 when
//               packed, the unpacked size of the initial directory; else 0)
//   24   4096   plain: 4096 zero bytes, room for 64 records
//   24      c   packed: the masked zlib stream of 4096 zero bytes
#include <cstring>

#include "archive/internal.h"
#include "platform/platform.h"

int pak_create(const char *path, int first_drive, int last_drive, uint32_t user_value, int packed)
{
    const int file = disk_create(path, DISK_ATTR_NORMAL);
    if (file == -1) return passed(-1);
    const int written = pak_create_into(file, first_drive, last_drive, user_value, packed);
    disk_close(file);
    return written == 0 ? vfs_mount(path, DISK_READ_WRITE) : -1;
}

int pak_create_into(int file, int first_drive, int last_drive, uint32_t user_value, int packed)
{
    PakHeader header{};
    header.magic = PAK_MAGIC;
    header.entry_count = 0;
    header.dir_offset = PAK_HEADER_SIZE;
    header.first_drive = static_cast<uint8_t>(first_drive);
    header.last_drive = static_cast<uint8_t>(last_drive);
    header.user_value = user_value;
    header.packed_dir_size = packed ? PAK_EMPTY_DIR_SIZE : 0;
    if (disk_write(file, &header, PAK_HEADER_SIZE) != PAK_HEADER_SIZE) return passed(-1);

    char *space = static_cast<char *>(mem_alloc(PAK_EMPTY_DIR_SIZE));
    if (!space) return passed(-1);
    ScopeGuard free_space([&] { mem_free(space); });
    std::memset(space, 0, PAK_EMPTY_DIR_SIZE);

    int length = PAK_EMPTY_DIR_SIZE;
    if (packed) {
        char *zeros = static_cast<char *>(mem_alloc(PAK_EMPTY_DIR_SIZE));
        if (!zeros) return passed(-1);
        std::memset(zeros, 0, PAK_EMPTY_DIR_SIZE);
        length = block_pack(space, zeros, PAK_EMPTY_DIR_SIZE, PAK_EMPTY_DIR_SIZE);
        mem_free(zeros);
        if (length == 0) return passed(-1);
    }
    // A short write is a failure here, not a file that merely mounts: the
    // packed form is never read back while the archive is empty.
    if (disk_write(file, space, length) != length) return passed(-1);

    return 0;
}

int pak_flush_last()
{
    for (int slot = g_mount.mount_count - 1; slot >= 0; --slot)
        if (g_mount.slots[slot].flags & SLOT_MOUNTED) return pak_write_directory(slot);
    return 0;
}
