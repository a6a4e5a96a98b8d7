#include "driver/replace.h"

#include <cstring>

#include "platform/scope_guard.h"
#include "platform/platform.h"

// target with the extension of its file-name part replaced by ext (three
// letters), or with "." ext appended when it has none.
static int sibling_name(char *dest, const char *target, const char *ext)
{
    const size_t n = std::strlen(target);
    if (n + 5 > REPLACE_PATH_SIZE) return -1;
    size_t file = 0;
    for (size_t i = 0; target[i];) {
        if (target[i] == ':' || target[i] == '\\' || target[i] == '/') file = i + 1;
        const int len = path_char_len(target + i);
        i += static_cast<size_t>(len);
    }
    size_t dot = n;
    for (size_t i = file; target[i]; i += static_cast<size_t>(path_char_len(target + i)))
        if (target[i] == '.') dot = i;
    std::memcpy(dest, target, dot);
    dest[dot] = '.';
    std::memcpy(dest + dot + 1, ext, 4);
    return 0;
}

int replace_init(Replacement *r, const char *target)
{
    r->moved_aside = false;
    r->placed = false;
    if (std::strlen(target) >= REPLACE_PATH_SIZE) return -1;
    std::strcpy(r->target, target);
    if (sibling_name(r->staged, target, "NEW") != 0 || sibling_name(r->aside, target, "OLD") != 0)
        return -1;
    // A target that already carries a sibling's extension would be its own
    // scratch file.
    if (path_same_name(r->staged, target) || path_same_name(r->aside, target)) return -1;
    return 0;
}

int file_opens(const char *name)
{
    const int h = disk_open(name, DISK_READ);
    if (h == -1) return 0;
    disk_close(h);
    return 1;
}

int replace_put(Replacement *r)
{
    if (disk_rename(r->target, r->aside) == 0) {
        r->moved_aside = true;
    } else if (file_opens(r->target)) {
        // The aside name may hold a leftover of an earlier run, older than the
        // file now in place; and some systems refuse to rename a read-only
        // file.
        disk_force_delete(r->aside);
        disk_set_attributes(r->target, FILE_ATTR_NORMAL);
        if (disk_rename(r->target, r->aside) != 0) return -1;
        r->moved_aside = true;
    }
    if (disk_rename(r->staged, r->target) != 0) return -1;
    r->placed = true;
    return 0;
}

void replace_undo(Replacement *r)
{
    if (r->placed) {
        disk_force_delete(r->target);
        r->placed = false;
    }
    if (r->moved_aside) {
        if (disk_rename(r->aside, r->target) == 0) {
            r->moved_aside = false;
        } else if (disk_copy(r->aside, r->target) == 0) {
            disk_force_delete(r->aside);
            r->moved_aside = false;
        }
        // Otherwise the old file stays under the aside name: kept, not lost.
    }
    disk_force_delete(r->staged);
}

void replace_commit(Replacement *r)
{
    if (r->moved_aside) disk_force_delete(r->aside);
    r->moved_aside = false;
}

void replace_discard(Replacement *r) { disk_force_delete(r->staged); }
