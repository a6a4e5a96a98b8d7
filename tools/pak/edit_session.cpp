#include "tools/pak/edit_session.h"

#include <cstring>

#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/names.h"
#include "tools/common/output.h"
#include "tools/pak/view.h"

namespace {

const char COPY_SUFFIX[] = ".pak-new";

}  // namespace

int edit_begin(EditSession *session, const char *path, const bool *drop)
{
    std::memset(session, 0, sizeof *session);
    session->path = path;
    session->slot = -1;
    if (vfs_is_appended_name(path)) {
        out_error(path, "an archive attached to a program cannot be changed; change the stand-alone archive and attach it again");
        return -1;
    }
    ArchiveView view;
    if (view_open(&view, path) != 0) return -1;
    view_close(&view);
    // Names reach the archive through its drive range; with none, the file
    // system would send them to the disk instead.
    if (view.facts.first_drive > view.facts.last_drive) {
        out_error(path, "the archive serves no drive (its first drive lies above its last); it cannot be changed");
        return -1;
    }
    // A file that could not be replaced (read-only, or open in another
    // program) is refused before any work.
    const int probe = disk_open(path, DISK_READ_WRITE);
    if (probe == -1) {
        out_error(path, "cannot change it: %s; it is unchanged", out_reason());
        return -1;
    }
    disk_close(probe);

    if (disk_replacement_begin(&session->copy, path, COPY_SUFFIX) != 0) {
        out_failure(path, "cannot make a working copy beside it");
        return -1;
    }
    session->copying = true;
    if (drop ? view_open(&view, path) != 0 || pak_rebuild_into(view.slot, session->copy.handle, drop) != 0
             : disk_copy_into(path, session->copy.handle) != 0) {
        out_failure(session->copy.path, "cannot write the working copy");
        edit_abandon(session);
        return -1;
    }
    view_close(&view);
    session->slot = vfs_mount_handle(session->copy.handle, false);
    if (session->slot < 0) {
        out_failure(session->copy.path, "cannot open the working copy for writing");
        edit_abandon(session);
        return -1;
    }
    vfs_mount_facts(session->slot, &session->facts);
    return 0;
}

int edit_commit(EditSession *session)
{
    const int written = pak_write_directory(session->slot);
    vfs_unmount(session->slot);
    session->slot = -1;
    if (written != 0) {
        out_error(session->copy.path, "cannot write the directory: %s; %s is unchanged", out_reason(), session->path);
        edit_abandon(session);
        return -1;
    }
    const int check = vfs_mount_handle(session->copy.handle, false);
    vfs_unmount(check);
    if (check < 0) {
        out_error(session->copy.path, "the changed archive does not read back: %s; %s is unchanged", out_reason(),
                  session->path);
        edit_abandon(session);
        return -1;
    }
    session->copying = false;
    if (disk_replacement_commit(&session->copy) != 0) {
        out_error(session->path, "cannot replace the archive: %s; it is unchanged", out_reason());
        return -1;
    }
    return 0;
}

void edit_abandon(EditSession *session)
{
    if (session->slot >= 0) vfs_unmount(session->slot);
    session->slot = -1;
    if (session->copying) {
        // Unmounting wrote a changed directory back into the copy; it goes
        // all the same.
        disk_replacement_abandon(&session->copy);
        session->copying = false;
    }
}
