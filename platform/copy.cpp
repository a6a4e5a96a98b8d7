// Copying file content, and the other disk calls composed of the system's
// own: built on the disk calls of either system.
#include <cstdio>
#include <cstring>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"

namespace {

// A read that the disk did not refuse yet came back short found the file's end.
int read_exactly(int handle, void *buffer, int count)
{
    err_clear();
    if (disk_read(handle, buffer, count) == count) return 0;
    return err_last() == ERR_NONE ? fail(ERR_DAMAGED, -1, "the file ends too soon") : passed(-1);
}

}  // namespace

int disk_read_at(int handle, int64_t offset, void *buffer, int count)
{
    if (offset < 0 || offset > DISK_POSITION_LIMIT) return fail(ERR_DAMAGED, -1, "an offset lies beyond the file");
    if (disk_seek(handle, static_cast<int32_t>(offset), DISK_SEEK_SET) != static_cast<uint32_t>(offset))
        return passed(-1);
    return read_exactly(handle, buffer, count);
}

int disk_opens(const char *path)
{
    const int file = disk_open(path, DISK_READ);
    if (file == -1) return passed(0);
    disk_close(file);
    return 1;
}

int disk_force_delete(const char *name)
{
    disk_set_attributes(name, FILE_ATTR_NORMAL);
    return disk_delete(name);
}

int disk_force_create(const char *name, int attributes)
{
    disk_force_delete(name);
    return disk_create(name, attributes);
}

int disk_copy_bytes(int from, int to, uint32_t count, char *buffer, int buffer_size)
{
    while (count > 0) {
        const int n = count < static_cast<uint32_t>(buffer_size) ? static_cast<int>(count) : buffer_size;
        if (read_exactly(from, buffer, n) != 0) return passed(-1);
        if (disk_write(to, buffer, n) != n) return passed(-1);
        count -= static_cast<uint32_t>(n);
    }
    return 0;
}

int disk_copy_into(const char *from, int to)
{
    const int in = disk_open(from, DISK_READ);
    if (in == -1) return passed(-1);
    ScopeGuard close_in([&] { disk_close(in); });
    const uint32_t size = disk_size(in);
    if (size == DISK_FAILED) return passed(-1);
    if (size > DISK_POSITION_LIMIT) return fail(ERR_TOO_LARGE, -1);
    char *buffer = static_cast<char *>(mem_alloc(DISK_COPY_CHUNK));
    if (!buffer) return passed(-1);
    ScopeGuard release([&] { mem_free(buffer); });
    return disk_copy_bytes(in, to, size, buffer, DISK_COPY_CHUNK) == 0 && disk_flush(to) == 0 ? 0 : passed(-1);
}

int disk_copy(const char *from, const char *to)
{
    const int in = disk_open(from, DISK_READ);
    if (in == -1) return passed(-1);
    disk_close(in);
    const int out = disk_create(to, DISK_ATTR_NORMAL);
    if (out == -1) return passed(-1);
    if (disk_copy_into(from, out) == 0 && disk_close(out) == 0) return 0;
    disk_close(out);
    disk_delete(to);
    return passed(-1);
}

bool temp_name(char *dest, int size, const char *base, int n, const char *suffix)
{
    char number[12] = "";
    if (n > 0) std::snprintf(number, sizeof number, ".%d", n);
    const int wrote = std::snprintf(dest, static_cast<size_t>(size), "%s%s%s", base, number, suffix);
    return wrote >= 0 && wrote < size ? true : fail(ERR_NAME_TOO_LONG, false);
}

int disk_create_temp(char *dest, int size, const char *base, const char *suffix)
{
    for (int n = 0; n < TEMP_TRIES; ++n) {
        if (!temp_name(dest, size, base, n, suffix)) return -1;
        temp_hold();
        const int h = disk_create_new(dest);
        const bool kept = h != -1 && temp_remember(dest) == 0;
        if (h != -1 && !kept) {
            disk_close(h);
            disk_delete(dest);
        }
        temp_release();
        if (kept) return h;
        if (h != -1) return fail(ERR_TOO_MANY, -1, "too many temporary files");
        if (err_last() != ERR_EXISTS) return passed(-1);
    }
    return fail(ERR_EXISTS, -1, "every temporary name beside it is taken");
}
