// Enumeration: one pair of operations lists disk files or archive entries
// that match a pattern. The archive side walks the serving directories from
// the archive mounted last and from each directory's end, remembering where
// it stopped in the find cursor.
#include <algorithm>
#include <cstring>

#include "archive/internal.h"
#include "platform/platform.h"

namespace {

constexpr int NAME_MAX_BYTES = PATH_BUFFER_SIZE;  // every name buffer here, terminator included

// Copies the entry that the last lookup found, less the characters that the
// pattern's directory part accounts for.
int copy_found(int position, char *out)
{
    const PakEntry *e = slot_entry(g_lookup.last_match_slot, position);
    if (!e) return fail(ERR_NOT_FOUND, -1);
    int length = 0;
    while (length < PAK_NAME_SIZE && e->name[length]) ++length;
    // A '?' may match past a name's end and a match stops after 40 bytes, so
    // the cut can exceed the name.
    const int cut = std::min(g_lookup.find_prefix_len, length);
    std::memcpy(out, e->name + cut, static_cast<size_t>(length - cut));
    out[length - cut] = 0;
    return 0;
}

// Puts the directory part of the current pattern before a found name.
int with_directory(const char *found, char *out)
{
    char dir[NAME_MAX_BYTES + 1];
    path_dir(dir, g_lookup.find_pattern);
    path_add_slash(dir);
    const size_t a = std::strlen(dir), b = std::strlen(found);
    if (a + b >= NAME_MAX_BYTES) return fail(ERR_NAME_TOO_LONG, -1);  // it would not fit the caller's buffer
    std::memcpy(out, dir, a);
    std::memcpy(out + a, found, b + 1);
    return 0;
}

}  // namespace

int vfs_find_first(const char *pattern, uint32_t mask, char *out)
{
    // Whatever happens below, an earlier enumeration is over.
    g_lookup.find_cursor = {-1, 0, 0, 0};
    if (!pattern || std::strlen(pattern) >= NAME_MAX_BYTES) {
        g_lookup.find_in_archive = true;
        return fail(pattern ? ERR_NAME_TOO_LONG : ERR_BAD_NAME, -1);
    }
    std::strcpy(g_lookup.find_pattern, pattern);
    if (slot_for_name(pattern) < 0) {
        g_lookup.find_in_archive = false;
        return disk_find_first(pattern, mask, out);
    }
    char dir[NAME_MAX_BYTES];
    path_dir(dir, pattern);
    const int stripped = static_cast<int>(strip_drive(pattern) - pattern);
    g_lookup.find_prefix_len = std::max(static_cast<int>(std::strlen(dir)) - stripped, 0);
    g_lookup.find_in_archive = true;
    if (mask & FILE_ATTR_DIRECTORY) return fail(ERR_NOT_FOUND, -1);  // archives hold no folders

    const int position = entry_lookup(pattern, LOOKUP_SCAN_FIRST);
    return position < 0 ? fail(ERR_NOT_FOUND, -1) : copy_found(position, out);
}

int vfs_find_next(char *out)
{
    if (!g_lookup.find_in_archive) return disk_find_next(out);
    const int position = entry_lookup(g_lookup.find_pattern, LOOKUP_SCAN_NEXT);
    return position < 0 ? fail(ERR_NOT_FOUND, -1) : copy_found(position, out);
}

int vfs_find_first_path(const char *pattern, uint32_t mask, char *out)
{
    char found[NAME_MAX_BYTES];
    if (vfs_find_first(pattern, mask, found) != 0) return passed(-1);
    return with_directory(found, out);
}

int vfs_find_next_path(char *out)
{
    char found[NAME_MAX_BYTES];
    if (vfs_find_next(found) != 0) return passed(-1);
    return with_directory(found, out);
}
