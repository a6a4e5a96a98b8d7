// Replacing files so that a failure can always be undone. The new content is
// first written in full under a sibling name (staged); putting it in place
// moves the old file aside under another sibling name and the staged file
// onto the target's name. Until the caller commits, every step can be
// reversed, so a set of files is replaced all together or not at all.
//
// Sibling names keep the target's length (the extension becomes "NEW" or
// "OLD", or N01... and O01... while those are taken), so any target that the
// system accepts yields usable siblings. Only files made here are ever
// deleted: a file found under a sibling name is left as it is.
#pragma once

constexpr int REPLACE_PATH_SIZE = 512;

struct Replacement {
    char target[REPLACE_PATH_SIZE];  // the file being replaced
    char staged[REPLACE_PATH_SIZE];  // its new content, written by the caller
    char aside[REPLACE_PATH_SIZE];   // where the old file waits for the commit
    bool moved_aside;  // the old target lives under `aside` now
    bool placed;       // the staged file lives under `target` now
    bool staged_made;  // the staged file exists, made by replace_stage
};

// Names the siblings of target. -1 when target or a sibling does not fit.
int replace_init(Replacement *r, const char *target);
// Makes the staged file, empty, under the first free sibling name; the caller
// writes it. -1 on failure.
int replace_stage(Replacement *r);
// Moves the old file aside (when there is one), then the staged file onto the
// target's name. -1 on failure; replace_undo reverses what was done.
int replace_put(Replacement *r);
// Brings the old file back under its name (renamed back, or copied back when
// renaming fails), removing the new file and any staged leftover.
void replace_undo(Replacement *r);
// Drops the old file once every replacement of the set stands.
void replace_commit(Replacement *r);
// Removes the staged file (when one was made) that will not be put in place.
void replace_discard(Replacement *r);

// 1 when name can be opened for reading.
int file_opens(const char *name);
