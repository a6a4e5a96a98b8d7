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
#include <cstring>

#include "driver/replace.h"
#include "platform/scope_guard.h"
#include "driver/update.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t LIST_OFFSET_AT = 768;
constexpr uint32_t LIST_COUNT_AT = 772;
constexpr uint32_t LIST_HEAD_SIZE = 776;
constexpr char UPDATE_PAK_NAME[] = "Update.PAK";

// Writes the whole buffer into the staged file made for it.
int write_file(const char *name, const char *data, int size)
{
    const int h = disk_open(name, DISK_WRITE);
    if (h == -1) return -1;
    const bool written = disk_write(h, data, size) == size && disk_flush(h) == 0;
    return disk_close(h) == 0 && written ? 0 : -1;
}

}  // namespace

void register_update_pak(const char *path)
{
    Replacement list;
    if (replace_init(&list, path) != 0) return;

    const int h = disk_open(path, DISK_READ);
    if (h == -1) return;
    ScopeGuard close_list([&] { disk_close(h); });
    const uint32_t size = disk_size(h);
    if (size == DISK_FAILED || size < LIST_HEAD_SIZE || size > DISK_POSITION_LIMIT - INSTALL_SLACK) return;
    const int s = static_cast<int>(size);
    char *buffer = static_cast<char *>(mem_alloc(size + INSTALL_SLACK));
    if (!buffer) return;
    ScopeGuard release([&] { mem_free(buffer); });
    if (disk_read(h, buffer, s) != s) return;
    close_list.dismiss();
    disk_close(h);

    uint32_t old_offset;
    int32_t old_count;
    std::memcpy(&old_offset, buffer + LIST_OFFSET_AT, 4);
    std::memcpy(&old_count, buffer + LIST_COUNT_AT, 4);
    if (old_count < 0) return;

    // Copy the old names behind the old content. A list that runs past the
    // data read is damaged and left as it is.
    int slack = INSTALL_SLACK;
    int copied = 0;
    uint32_t at = old_offset;
    for (int32_t i = 0; i < old_count; ++i) {
        if (at >= size) return;
        const char *name = buffer + at;
        const char *end = static_cast<const char *>(std::memchr(name, 0, size - at));
        if (!end) return;
        if (path_same_name(name, UPDATE_PAK_NAME)) return;
        const int length = static_cast<int>(end - name) + 1;
        slack -= length;
        if (slack <= 0) return;
        std::memcpy(buffer + s + copied, name, static_cast<size_t>(length));
        copied += length;
        at += static_cast<uint32_t>(length);
    }
    if (old_count > 0 && slack <= INSTALL_RESERVE) return;
    std::memcpy(buffer + s + copied, UPDATE_PAK_NAME, sizeof UPDATE_PAK_NAME);
    const int total = s + copied + static_cast<int>(sizeof UPDATE_PAK_NAME);
    const int32_t new_count = old_count + 1;
    std::memcpy(buffer + LIST_OFFSET_AT, &size, 4);
    std::memcpy(buffer + LIST_COUNT_AT, &new_count, 4);

    if (replace_stage(&list) != 0) return;
    if (write_file(list.staged, buffer, total) != 0) {
        replace_discard(&list);
        return;
    }
    if (replace_put(&list) != 0) {
        replace_undo(&list);
        return;
    }
    replace_commit(&list);
}
