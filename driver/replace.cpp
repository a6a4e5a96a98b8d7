#include "driver/replace.h"

#include <cstring>

#include "platform/error.h"
#include "platform/scope_guard.h"
#include "platform/platform.h"

// Tries of a sibling name: ext itself, then its first letter and 01 to 99.
constexpr int SIBLING_TRIES = 100;

// target with the extension of its file-name part replaced by ext (three
// letters; try n_try > 0 keeps only its first and adds two digits), or with "."
// ext appended when it has none.
static int sibling_name(char *dest, const char *target, const char *ext, int n_try = 0)
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
    if (n_try > 0) {
        dest[dot + 2] = static_cast<char>('0' + n_try / 10);
        dest[dot + 3] = static_cast<char>('0' + n_try % 10);
    }
    return 0;
}

int replace_init(Replacement *r, const char *target)
{
    r->moved_aside = false;
    r->placed = false;
    r->staged_made = false;
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

int replace_stage(Replacement *r)
{
    // A file under a sibling name may be anybody's (even a leftover of an
    // earlier run is not known to be one): it is left alone.
    for (int n = 0; n < SIBLING_TRIES; ++n) {
        if (sibling_name(r->staged, r->target, "NEW", n) != 0) return -1;
        if (path_same_name(r->staged, r->target)) continue;
        const int h = disk_create_new(r->staged);
        if (h != -1) {
            r->staged_made = true;
            return disk_close(h);
        }
        if (err_last() != ERR_EXISTS) return -1;
    }
    return -1;
}

// Renames the target to the first free aside name. -1 when that fails for
// any other reason than a taken name.
static int move_aside(Replacement *r)
{
    for (int n = 0; n < SIBLING_TRIES; ++n) {
        if (sibling_name(r->aside, r->target, "OLD", n) != 0) return -1;
        if (path_same_name(r->aside, r->target)) continue;
        if (disk_rename(r->target, r->aside) == 0) {
            r->moved_aside = true;
            return 0;
        }
        if (err_last() != ERR_EXISTS) return -1;
    }
    return -1;
}

int replace_put(Replacement *r)
{
    if (move_aside(r) != 0 && file_opens(r->target)) {
        // Some systems refuse to rename a read-only file.
        disk_set_attributes(r->target, FILE_ATTR_NORMAL);
        if (move_aside(r) != 0) return -1;
    }
    if (disk_rename(r->staged, r->target) != 0) return -1;
    r->placed = true;
    r->staged_made = false;
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
    replace_discard(r);
}

void replace_commit(Replacement *r)
{
    if (r->moved_aside) disk_force_delete(r->aside);
    r->moved_aside = false;
}

void replace_discard(Replacement *r)
{
    if (r->staged_made) disk_force_delete(r->staged);
    r->staged_made = false;
}
