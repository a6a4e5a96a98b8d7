// Copying file content, built on the disk calls of either system.
#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"

int disk_copy_bytes(int from, int to, uint32_t count, char *buffer, int buffer_size)
{
    while (count > 0) {
        const int n = count < static_cast<uint32_t>(buffer_size) ? static_cast<int>(count) : buffer_size;
        err_clear();
        if (disk_read(from, buffer, n) != n)
            return err_last() == ERR_NONE ? fail(ERR_DAMAGED, -1, "the file ends too soon") : -1;
        if (disk_write(to, buffer, n) != n) return -1;
        count -= static_cast<uint32_t>(n);
    }
    return 0;
}

int disk_copy(const char *from, const char *to)
{
    const int in = disk_open(from, DISK_READ);
    if (in == -1) return -1;
    ScopeGuard close_in([&] { disk_close(in); });
    const uint32_t size = disk_size(in);
    if (size == DISK_FAILED) return -1;
    if (size > DISK_POSITION_LIMIT) return fail(ERR_TOO_LARGE, -1);
    char *buffer = static_cast<char *>(mem_alloc(DISK_COPY_CHUNK));
    if (!buffer) return -1;
    ScopeGuard release([&] { mem_free(buffer); });
    const int out = disk_create(to, DISK_ATTR_NORMAL);
    if (out == -1) return -1;
    ScopeGuard drop_out([&] {
        disk_close(out);
        disk_delete(to);
    });
    if (disk_copy_bytes(in, out, size, buffer, DISK_COPY_CHUNK) != 0 || disk_flush(out) != 0) return -1;
    drop_out.dismiss();
    if (disk_close(out) == 0) return 0;
    disk_delete(to);
    return -1;
}
