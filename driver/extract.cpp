// Unpacking stored entries into files.
//
// PackedBlock, the stored bytes of one packed entry:
//   off size field
//    0   4   unpacked_size    length of the file before packing
//    4   4   packed_size      length of the stream that follows
//    8   n   stream           masked zlib stream (block_unpack)
#include <cstring>

#include "archive/archive.h"
#include "platform/scope_guard.h"
#include "driver/update.h"
#include "platform/platform.h"

static bool is_archive_handle(int handle)
{
    return handle >= VFS_HANDLE_BASE && handle < VFS_HANDLE_BASE + VFS_MAX_HANDLES;
}

int extract_file(const char *dest, const char *src)
{
    const int in = vfs_open(src, DISK_READ);
    if (in == -1) return -1;
    ScopeGuard close_in([&] { vfs_close(in); });
    const int out = vfs_create(dest, DISK_ATTR_NORMAL);
    if (out == -1) return -1;
    ScopeGuard close_out([&] { vfs_close(out); });

    const int stored = vfs_size(in);
    if (stored < static_cast<int>(sizeof(PackedBlockHead))) return -1;
    char *block = static_cast<char *>(mem_alloc(static_cast<size_t>(stored)));
    if (!block) return -1;
    ScopeGuard release_block([&] { mem_free(block); });
    if (vfs_read(in, block, stored) != stored) return -1;

    PackedBlockHead head;
    std::memcpy(&head, block, sizeof head);
    const uint32_t stream_room = static_cast<uint32_t>(stored) - sizeof head;
    if (head.packed_size > stream_room || head.unpacked_size > 0x7FFFFFFFu) return -1;
    const int size = static_cast<int>(head.unpacked_size);
    char *data = static_cast<char *>(mem_alloc(size ? static_cast<size_t>(size) : 1));
    if (!data) return -1;
    ScopeGuard release_data([&] { mem_free(data); });
    // A stream that does not unpack to exactly its declared size is damaged;
    // nothing of it reaches the file.
    if (block_unpack(data, block + sizeof head, static_cast<int>(head.packed_size), size) != size)
        return -1;

    if (vfs_write(out, data, size) != size) return -1;
    if (!is_archive_handle(out) && disk_flush(out) != 0) return -1;
    close_out.dismiss();
    return vfs_close(out) == 0 ? 0 : -1;
}

int extract_all(const char *pattern)
{
    char match[260];
    char dest[260];
    if (vfs_find_first_path(pattern, FILE_ATTR_NORMAL, match) != 0) return 0;
    do {
        if (!match[0]) return 0;
        std::strcpy(dest, match);
        dest[0] = '@';
        if (extract_file(dest, match) != 0) return 0;
    } while (vfs_find_next_path(match) == 0);
    return 1;
}
