// The game's installation list, "INSTALL.DAT" (little-endian):
//   off          size  field
//     0           768  (not interpreted; carried over unchanged)
//   768             4  list_offset   u32, file offset at which the name list starts
//   772             4  list_count    i32, number of names; 0 means an empty list
//   list_offset     n  names         list_count zero-terminated names, back to back
// Bytes between 776 and list_offset, and behind the list, are carried over.
//
// Registering a name appends a fresh copy of the whole list behind the old
// content and points the header at it; the old list stays, unreferenced.
// The new list replaces the old one in one step.
#include <cstring>

#include "driver/replace.h"
#include "driver/retry.h"
#include "platform/scope_guard.h"
#include "driver/update.h"
#include "platform/error.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t LIST_OFFSET_AT = 768;
constexpr uint32_t LIST_COUNT_AT = 772;
constexpr uint32_t LIST_HEAD_SIZE = 776;
constexpr char UPDATE_PAK_NAME[] = "Update.PAK";

// Writes the whole buffer into a new file of the folder, flushed, through
// the handle that made it.
int write_new_file(int folder, const char *name, const char *data, int size)
{
    const int h = retry_held([=] { return disk_create_in(folder, name); });
    if (h == -1) return passed(-1);
    const bool written = disk_write(h, data, size) == size && disk_flush(h) == 0;
    if (!written) disk_delete_in(folder, h, name);
    return disk_close(h) == 0 && written ? 0 : passed(-1);
}

}  // namespace

int install_list_with_update_pak(int folder, const char *name, char **out, int *out_size)
{
    *out = nullptr;
    const int h = retry_held([=] { return disk_open_in(folder, name, DISK_READ); });
    if (h == -1) return 0;
    ScopeGuard close_list([&] { disk_close(h); });
    const uint32_t size = disk_size(h);
    if (size == DISK_FAILED || size < LIST_HEAD_SIZE || size > DISK_POSITION_LIMIT - INSTALL_SLACK) return 0;
    const int s = static_cast<int>(size);
    char *buffer = static_cast<char *>(mem_alloc(size + INSTALL_SLACK));
    if (!buffer) return 0;
    ScopeGuard release([&] { mem_free(buffer); });
    if (disk_read_at(h, 0, buffer, s) != 0) return 0;

    uint32_t old_offset;
    int32_t old_count;
    std::memcpy(&old_offset, buffer + LIST_OFFSET_AT, 4);
    std::memcpy(&old_count, buffer + LIST_COUNT_AT, 4);
    if (old_count < 0) return 0;

    // Copy the old names behind the old content. A list that runs past the
    // data read is damaged and left as it is.
    int slack = INSTALL_SLACK;
    int copied = 0;
    uint32_t at = old_offset;
    for (int32_t i = 0; i < old_count; ++i) {
        if (at >= size) return 0;
        const char *name = buffer + at;
        const char *end = static_cast<const char *>(std::memchr(name, 0, size - at));
        if (!end) return 0;
        if (path_same_name(name, UPDATE_PAK_NAME)) return 0;
        const int length = static_cast<int>(end - name) + 1;
        slack -= length;
        if (slack <= 0) return 0;
        std::memcpy(buffer + s + copied, name, static_cast<size_t>(length));
        copied += length;
        at += static_cast<uint32_t>(length);
    }
    if (old_count > 0 && slack <= INSTALL_RESERVE) return 0;
    std::memcpy(buffer + s + copied, UPDATE_PAK_NAME, sizeof UPDATE_PAK_NAME);
    const int32_t new_count = old_count + 1;
    std::memcpy(buffer + LIST_OFFSET_AT, &size, 4);
    std::memcpy(buffer + LIST_COUNT_AT, &new_count, 4);
    release.dismiss();
    *out = buffer;
    *out_size = s + copied + static_cast<int>(sizeof UPDATE_PAK_NAME);
    return 1;
}

void register_update_pak(const char *path)
{
    // The folder is pinned and the list changed within it, as the update does.
    char dir[PATH_BUFFER_SIZE];
    const size_t n = std::strlen(path);
    if (n >= sizeof dir) return;
    size_t file = 0;
    for (size_t i = 0; path[i]; i += static_cast<size_t>(path_char_len(path + i)))
        if (path[i] == ':' || path[i] == '\\' || path[i] == '/') file = i + 1;
    const char *name = path + file;
    if (!name[0]) return;
    std::memcpy(dir, path, file);
    dir[file] = 0;
    const int folder = disk_folder_pin(file ? dir : ".");
    if (folder == -1) return;
    ScopeGuard unpin([&] { disk_folder_unpin(folder); });
    char *list;
    int size;
    if (install_list_with_update_pak(folder, name, &list, &size) != 1) return;
    ScopeGuard release([&] { mem_free(list); });
    char staged[REPLACE_PATH_SIZE];
    for (int n = 0; n < SIBLING_TRIES; ++n) {
        if (sibling_name(staged, name, "NEW", n) != 0) return;
        if (!name_is_free(folder, staged)) continue;
        if (write_new_file(folder, staged, list, size) != 0) return;
        if (replace_in_one_step(folder, staged, name) != 0) delete_own_file(folder, staged);
        return;
    }
}
