// How pak changes an archive without ever leaving it unreadable: the
// archive is copied to a new file beside it ("<archive>.pak-new", or
// "<archive>.N.pak-new" when that name is taken; disk_replacement_begin), the
// copy is mounted through the handle that made it and changed through the
// archive file system, its directory written back and the result mounted
// again to check it, and only then does the copy replace the archive in one
// step, with the archive's mode. Any failure removes the copy and leaves the
// archive as it was.
#pragma once

#include "archive/archive.h"

struct EditSession {
    const char *path;      // the archive
    DiskReplacement copy;  // the copy, made and written through its handle
    bool copying;          // copy holds a working copy
    int slot;              // the copy, mounted for writing; -1 when not
    PakMountFacts facts;   // of the copy as mounted
};

// Refuses an archive attached to a program (those are read-only), one that
// does not mount and one that could not be replaced (read-only, or open in
// another program); copies and mounts it. Errors are reported. With drop,
// the copy is the archive rebuilt (pak_rebuild_into) without its free
// records and the live ones drop marks by position.
int edit_begin(EditSession *session, const char *path, const bool *drop = nullptr);
// Puts the changed copy in place of the archive. Errors are reported; the
// archive is then unchanged.
int edit_commit(EditSession *session);
// Drops the copy; the archive stays as it was.
void edit_abandon(EditSession *session);
