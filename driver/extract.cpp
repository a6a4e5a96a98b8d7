// Unpacking stored entries into files. Each payload entry holds one packed
// block (archive/block.cpp owns its layout and checks).
#include <cstring>

#include "archive/archive.h"
#include "driver/retry.h"
#include "driver/update.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/scope_guard.h"

int extract_into(int out, const char *src)
{
    const int in = vfs_open(src, DISK_READ);
    if (in == -1) return passed(-1);
    ScopeGuard close_in([&] { vfs_close(in); });
    const int stored = vfs_size(in);
    if (stored < 0) return passed(-1);
    char *block = static_cast<char *>(mem_alloc(stored ? static_cast<size_t>(stored) : 1));
    if (!block) return passed(-1);
    ScopeGuard release_block([&] { mem_free(block); });
    err_clear();
    if (vfs_read(in, block, stored) != stored)
        return err_last() == ERR_NONE ? fail(ERR_DAMAGED, -1, "the archive ends too soon") : passed(-1);

    // A block that does not unpack to exactly its declared size is damaged;
    // nothing of it reaches the file.
    char *data = nullptr;
    int size = 0;
    if (block_unpack_stored(block, stored, &data, &size) != 0) return passed(-1);
    ScopeGuard release_data([&] { mem_free(data); });

    if (vfs_write(out, data, size) != size) return passed(-1);
    return vfs_is_archive_handle(out) || disk_flush(out) == 0 ? 0 : passed(-1);
}

int extract_file(const char *dest, const char *src)
{
    // The entry first, so that a missing one leaves no file behind.
    const int in = vfs_open(src, DISK_READ);
    if (in == -1) return passed(-1);
    vfs_close(in);
    // A scanner may be reading the file made a moment ago.
    const int out = retry_held([=] { return vfs_create(dest, DISK_ATTR_NORMAL); });
    if (out == -1) return passed(-1);
    ScopeGuard close_out([&] { vfs_close(out); });
    if (extract_into(out, src) != 0) return passed(-1);
    close_out.dismiss();
    return vfs_close(out) == 0 ? 0 : passed(-1);
}

int extract_all(const char *pattern)
{
    char match[PATH_BUFFER_SIZE];
    char dest[PATH_BUFFER_SIZE];
    if (vfs_find_first_path(pattern, FILE_ATTR_NORMAL, match) != 0) return 0;
    do {
        if (!match[0]) return 0;
        std::strcpy(dest, match);
        dest[0] = '@';
        if (extract_file(dest, match) != 0) return 0;
    } while (vfs_find_next_path(match) == 0);
    return 1;
}
