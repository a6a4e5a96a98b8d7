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
    if (n + 5 > REPLACE_PATH_SIZE) return fail(ERR_NAME_TOO_LONG, -1);
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
    return path_same_name(dest, target) ? fail(ERR_BAD_NAME, -1, "the name is a scratch file's") : 0;
}

int name_is_free(int folder, const char *name) { return disk_free_in(folder, name); }

int file_opens(int folder, const char *name)
{
    const int h = retry_held([=] { return disk_open_in(folder, name, DISK_READ); });
    if (h == -1) return 0;
    disk_close(h);
    return 1;
}

int held_elsewhere(int folder, const char *name)
{
    // A hold of a moment (a scanner reading the file) is waited out.
    const int h = retry_held([=] {
        const int h = disk_open_in(folder, name, DISK_READ_WRITE);
        return h == -1 && err_last() != ERR_HELD ? -2 : h;
    });
    if (h >= 0) return disk_close(h), 0;
    return h == -1 ? 1 : 0;
}

int handle_content(int h, Content *out)
{
    // On the stack: settling a stopped update must not need the heap.
    constexpr int CHUNK = 16384;
    char buffer[CHUNK];
    const uint32_t size = disk_size(h);
    if (size == DISK_FAILED) return passed(-1);
    Content c{size, 0};
    for (uint32_t at = 0; at < size;) {
        const int want = size - at < CHUNK ? static_cast<int>(size - at) : CHUNK;
        if (disk_read_at(h, at, buffer, want) != 0) return passed(-1);
        c.crc = block_checksum(c.crc, buffer, want);
        at += static_cast<uint32_t>(want);
    }
    *out = c;
    return 1;
}

int file_content(int folder, const char *name, Content *out)
{
    const int h = disk_open_in(folder, name, DISK_READ);
    if (h == -1) return err_last() == ERR_NOT_FOUND ? 0 : passed(-1);
    ScopeGuard close([&] { disk_close(h); });
    return handle_content(h, out);
}

int replace_in_one_step(int folder, const char *source, const char *target)
{
    const int h = retry_held([=] { return disk_open_in(folder, source, DISK_READ_WRITE); });
    if (h == -1) return passed(-1);
    ScopeGuard close([&] { disk_close(h); });
    // The new file keeps the old one's permissions (POSIX; a new name gets a
    // new file's), but as a plain file, as the game's files have always come
    // back: writable, and on Windows with only the archive bit a new file has.
    if (disk_mode_like_in(folder, target, h) < 0 || disk_set_handle_attributes(h, FILE_ATTR_ARCHIVE) != 0)
        return passed(-1);
    const auto rename = [=] { return disk_rename_in(folder, h, source, target, true); };
    if (rename() == 0) return 0;
    // A held file is waited for; some systems refuse to replace a read-only
    // one, whose attribute is then reset through a handle of its own.
    if (err_last() == ERR_HELD) return retry_held(rename);
    if (err_last() != ERR_ACCESS_DENIED) return passed(-1);
    const int old = retry_held([=] { return disk_open_in(folder, target, DISK_READ); });
    if (old == -1) return passed(-1);
    const int reset = disk_set_handle_attributes(old, FILE_ATTR_NORMAL);
    disk_close(old);
    return reset == 0 ? retry_held(rename) : passed(-1);
}

int keep_aside(int folder, const char *target, const char *aside)
{
    const int from = retry_held([=] { return disk_open_in(folder, target, DISK_READ); });
    if (from == -1) return passed(-1);
    ScopeGuard close_from([&] { disk_close(from); });
    const int to = retry_held([=] { return disk_create_in(folder, aside); });
    if (to == -1) return passed(-1);
    ScopeGuard close_to([&] { disk_close(to); });
    ScopeGuard remove([&] { disk_delete_in(folder, to, aside); });
    const uint32_t size = disk_size(from);
    char buffer[DISK_COPY_CHUNK];
    if (size == DISK_FAILED || disk_copy_bytes(from, to, size, buffer, sizeof buffer) != 0 || disk_flush(to) != 0)
        return passed(-1);
    remove.dismiss();
    return 0;
}

int delete_own_file(int folder, const char *name)
{
    const int h = retry_held([=] { return disk_open_in(folder, name, DISK_READ); });
    if (h == -1) return passed(-1);
    ScopeGuard close([&] { disk_close(h); });
    const int mine = disk_made_by_us(h);
    if (mine != 1) return mine == 0 ? 1 : passed(-1);
    return retry_held([=] { return disk_delete_in(folder, h, name); });
}
