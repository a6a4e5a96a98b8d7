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

int commit(DiskReplacement *r, bool over_target)
{
    // Marked until it has its final name: a kill before that leaves a copy
    // the next run may remove. (The mode's attributes drop the mark on
    // Windows; it is put back.)
    const bool ready = disk_flush(r->handle) == 0 &&
                       disk_mode_like_in(r->folder, r->mode_of + file_name_at(r->mode_of), r->handle) == 0;
    if (ready) temp_mark(r->handle, true);
    if (!ready || disk_rename_in(r->folder, r->handle, r->name, r->target, over_target) != 0) {
        end_replacement(r, true);
        return passed(-1);
    }
    temp_mark(r->handle, false);
    end_replacement(r, false);
    return 0;
}

}  // namespace

int disk_replacement_commit(DiskReplacement *r) { return commit(r, true); }

int disk_replacement_commit_new(DiskReplacement *r) { return commit(r, false); }

void disk_replacement_abandon(DiskReplacement *r) { end_replacement(r, true); }
