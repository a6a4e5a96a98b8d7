#include "driver/replace.h"
#include "driver/retry.h"

#include <cstring>

#include "archive/archive.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/scope_guard.h"

int sibling_name(char *dest, const char *target, const char *ext, int n_try)
{
    const size_t n = std::strlen(target);
    if (n + 5 > REPLACE_PATH_SIZE) return -1;
    size_t file = 0;
    for (size_t i = 0; target[i]; i += static_cast<size_t>(path_char_len(target + i)))
        if (target[i] == ':' || target[i] == '\\' || target[i] == '/') file = i + 1;
    size_t dot = n;
    for (size_t i = file; target[i]; i += static_cast<size_t>(path_char_len(target + i)))
        if (target[i] == '.') dot = i;
    std::memcpy(dest, target, dot);
    dest[dot] = '.';
    std::memcpy(dest + dot + 1, ext, 4);
    if (n_try > 0) {
        dest[dot + 2] = static_cast<char>('0' + n_try / 10);
        dest[dot + 3] = static_cast<char>('0' + n_try % 10);
    }
    // A target that already carries a sibling's extension would be its own
    // scratch file.
    return path_same_name(dest, target) ? -1 : 0;
}

int name_is_free(const char *name)
{
    return disk_file_size(name) == -1 && err_last() == ERR_NOT_FOUND ? 1 : 0;
}

int file_opens(const char *name)
{
    const int h = retry_open(name, DISK_READ);
    if (h == -1) return 0;
    disk_close(h);
    return 1;
}

int held_elsewhere(const char *name)
{
    // A hold of a moment (a scanner reading the file) is waited out.
    const int h = retry_held([=] {
        const int h = disk_open(name, DISK_READ_WRITE);
        return h == -1 && err_last() != ERR_HELD ? -2 : h;
    });
    if (h >= 0) return disk_close(h), 0;
    return h == -1 ? 1 : 0;
}

int file_content(const char *name, Content *out)
{
    const int h = disk_open(name, DISK_READ);
    if (h == -1) return err_last() == ERR_NOT_FOUND ? 0 : -1;
    ScopeGuard close([&] { disk_close(h); });
    // On the stack: settling a stopped update must not need the heap.
    constexpr int CHUNK = 16384;
    char buffer[CHUNK];
    const uint32_t size = disk_size(h);
    if (size == DISK_FAILED) return -1;
    Content c{size, 0};
    for (uint32_t left = size; left > 0;) {
        const int want = left < CHUNK ? static_cast<int>(left) : CHUNK;
        if (disk_read(h, buffer, want) != want) return -1;
        c.crc = block_checksum(c.crc, buffer, want);
        left -= static_cast<uint32_t>(want);
    }
    *out = c;
    return 1;
}

int replace_in_one_step(const char *source, const char *target)
{
    if (disk_replace(source, target) == 0) return 0;
    // A held file is waited for; some systems refuse to replace a read-only one.
    if (err_last() == ERR_HELD) return retry_held([=] { return disk_replace(source, target); });
    if (err_last() != ERR_ACCESS_DENIED || !file_opens(target)) return -1;
    disk_set_attributes(target, FILE_ATTR_NORMAL);
    return retry_held([=] { return disk_replace(source, target); });
}

int keep_aside(const char *target, const char *aside)
{
    if (retry_held([=] { return disk_link(target, aside); }) == 0) return 0;
    const int h = retry_create_new(aside);
    if (h == -1) return -1;
    const bool copied = disk_copy_into(target, h) == 0;
    if (disk_close(h) == 0 && copied) return 0;
    retry_force_delete(aside);
    return -1;
}
