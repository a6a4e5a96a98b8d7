// Replacing a file through a new one beside it, over the pinned-folder calls
// of either system.
#include <cstdio>
#include <cstring>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"

namespace {

// Where the file's own name starts: after the last separator (a drive's
// colon counts as one).
size_t file_name_at(const char *path)
{
    size_t cut = 0;
    for (size_t i = 0; path[i]; i += static_cast<size_t>(path_char_len(path + i)))
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':') cut = i + 1;
    return cut;
}

// Removes what the replacement made, keeping the reason of the failure that
// led here.
void end_replacement(DiskReplacement *r, bool remove)
{
    const ErrReason reason = err_last();
    const char *detail = err_detail();
    if (r->handle != -1) {
        if (remove) disk_delete_in(r->folder, r->handle, r->name);
        disk_temp_forget(r->path);
        disk_close(r->handle);
    }
    if (r->folder != -1) disk_folder_unpin(r->folder);
    r->handle = r->folder = -1;
    err_set(reason, detail);
}

// Removes the working copies beside the target that a killed run left (it
// had no time to): every temporary name of the target that holds a plain
// file with one name, made by us and marked as a working copy (temp_mark),
// that nobody holds open (a live run holds its copy locked, or unshared on
// Windows). A link, somebody else's file, an unmarked one or one in use
// stays; so does anything the folder holds under other names.
void remove_left_copies(DiskReplacement *r, const char *suffix)
{
    char name[PATH_BUFFER_SIZE];
    for (int n = 0; n < TEMP_TRIES; ++n) {
        if (!temp_name(name, sizeof name, r->target, n, suffix) || disk_free_in(r->folder, name)) continue;
        const int h = disk_open_in(r->folder, name, DISK_READ_WRITE);
        if (h == -1) continue;
        if (disk_made_by_us(h) == 1 && temp_marked(h)) disk_delete_in(r->folder, h, name);
        disk_close(h);
    }
}

}  // namespace

int disk_replacement_begin(DiskReplacement *r, const char *target, const char *suffix)
{
    std::memset(r, 0, sizeof *r);
    r->folder = r->handle = -1;
    const size_t cut = file_name_at(target);
    const size_t length = std::strlen(target);
    if (cut == length) return fail(ERR_BAD_NAME, -1, "names a folder, not a file");
    if (length >= sizeof r->path) return fail(ERR_NAME_TOO_LONG, -1);
    std::strcpy(r->target, target + cut);
    std::strcpy(r->mode_of, target);
    char folder[PATH_BUFFER_SIZE];
    std::memcpy(folder, target, cut);
    folder[cut] = 0;
    if (cut == 0) std::strcpy(folder, ".");
    r->folder = disk_folder_pin(folder);
    if (r->folder == -1) return passed(-1);
    remove_left_copies(r, suffix);

    for (int n = 0; n < TEMP_TRIES; ++n) {
        if (!temp_name(r->name, sizeof r->name, r->target, n, suffix) ||
            std::snprintf(r->path, sizeof r->path, "%.*s%s", static_cast<int>(cut), target, r->name) >=
                static_cast<int>(sizeof r->path)) {
            end_replacement(r, false);
            return fail(ERR_NAME_TOO_LONG, -1);
        }
        temp_hold();
        const int h = disk_create_in(r->folder, r->name);
        const bool kept = h != -1 && temp_remember(r->path) == 0;
        if (h != -1 && !kept) {
            disk_delete_in(r->folder, h, r->name);
            disk_close(h);
        }
        temp_release();
        if (kept) {
            temp_mark(h, true);
            r->handle = h;
            return 0;
        }
        if (h != -1 || err_last() != ERR_EXISTS) {
            if (h != -1) err_set(ERR_TOO_MANY, "too many temporary files");
            end_replacement(r, false);
            return passed(-1);
        }
    }
    end_replacement(r, false);
    return fail(ERR_EXISTS, -1, "every temporary name beside it is taken");
}

namespace {

// Gives the new file the mode of r->mode_of, which may lie in another
// folder; the attributes it had, or -1.
int take_mode(DiskReplacement *r)
{
    const size_t cut = file_name_at(r->mode_of);
    if (!r->mode_of[0] || (cut == file_name_at(r->path) && std::strncmp(r->mode_of, r->path, cut) == 0))
        return disk_mode_like_in(r->folder, r->mode_of + cut, r->handle);
    char folder[PATH_BUFFER_SIZE];
    std::memcpy(folder, r->mode_of, cut);
    folder[cut] = 0;
    const int pinned = disk_folder_pin(cut ? folder : ".");
    if (pinned == -1) return passed(-1);
    const int attributes = disk_mode_like_in(pinned, r->mode_of + cut, r->handle);
    const ErrReason reason = err_last();
    const char *detail = err_detail();
    disk_folder_unpin(pinned);
    err_set(reason, detail);
    return attributes;
}

// Sets the target's attributes through a handle of our own; -1 when it
// cannot be opened or changed.
int set_target_attributes(DiskReplacement *r, uint32_t attributes)
{
    const int old = disk_open_in(r->folder, r->target, DISK_READ);
    if (old == -1) return passed(-1);
    const int set = disk_set_handle_attributes(old, attributes);
    disk_close(old);
    return set == 0 ? 0 : passed(-1);
}

// Windows replaces no read-only file (and the POSIX twin refuses as it
// does): the target's attribute is taken off through a handle of our own,
// closed again before the rename, and put back should the rename fail all
// the same.
int put_in_place(DiskReplacement *r, bool over_target)
{
    if (disk_rename_in(r->folder, r->handle, r->name, r->target, over_target) == 0) return 0;
    if (!over_target || err_last() != ERR_ACCESS_DENIED) return passed(-1);
    const int old = disk_open_in(r->folder, r->target, DISK_READ);
    if (old == -1) return passed(-1);
    const int attributes = disk_handle_attributes(old);
    disk_close(old);
    if (attributes < 0) return passed(-1);
    if (!(attributes & FILE_ATTR_READONLY)) return fail(ERR_ACCESS_DENIED, -1);
    if (set_target_attributes(r, static_cast<uint32_t>(attributes) & ~FILE_ATTR_READONLY) != 0) return passed(-1);
    if (disk_rename_in(r->folder, r->handle, r->name, r->target, true) == 0) return 0;
    const ErrReason reason = err_last();
    const char *detail = err_detail();
    set_target_attributes(r, static_cast<uint32_t>(attributes));
    err_set(reason, detail);
    return -1;
}

int commit(DiskReplacement *r, bool over_target)
{
    // Marked until it has its final name: a kill before that leaves a copy
    // the next run may remove. (The mode's attributes drop the mark on
    // Windows; it is put back.)
    const int attributes = disk_flush(r->handle) == 0 ? take_mode(r) : -1;
    if (attributes >= 0) temp_mark(r->handle, true);
    if (attributes < 0 || put_in_place(r, over_target) != 0) {
        end_replacement(r, true);
        return passed(-1);
    }
    temp_mark(r->handle, false);
    // Read-only only now: a read-only file could not have been removed had
    // the rename failed. The file stands; should the attribute not take, it
    // is only less protected than its model.
    if (attributes & FILE_ATTR_READONLY) disk_set_handle_attributes(r->handle, static_cast<uint32_t>(attributes));
    end_replacement(r, false);
    return 0;
}

}  // namespace

int disk_replacement_commit(DiskReplacement *r) { return commit(r, true); }

int disk_replacement_commit_new(DiskReplacement *r) { return commit(r, false); }

void disk_replacement_abandon(DiskReplacement *r) { end_replacement(r, true); }
