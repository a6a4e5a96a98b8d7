// The file steps of an update, in the game folder, which any local user may
// be able to write while this program runs as administrator. So every step
// goes through the pinned folder (platform.h): no link is followed, a file
// with a second name is refused, files are renamed and deleted only through
// the handle that opened them, and staged files are written through the
// handle that created them, never reopened by name.
//
// A game file is never absent: its new content is written in full under a
// free sibling name first, its old content is copied aside under another,
// and the new file then takes the target's name in one step. The update
// journal (journal.h) records each name before the file is made, so that
// only files this program made are ever deleted.
//
// Sibling names keep the target's length (the extension becomes "NEW" or
// "OLD", or N01... and O01... while those are taken), so any target that the
// system accepts yields usable siblings.
#pragma once

#include <cstdint>

constexpr int REPLACE_PATH_SIZE = 512;
// Tries of a sibling name: the extension itself, then its first letter and 01
// to 99.
constexpr int SIBLING_TRIES = 100;

// target with the extension of its file-name part replaced by ext (three
// letters; try n_try > 0 keeps only its first and adds two digits), or with
// "." ext appended when it has none. -1 when it does not fit or would be the
// target itself.
int sibling_name(char *dest, const char *target, const char *ext, int n_try);

// Below, folder is the pinned game folder and every name a file name in it.

// 1 when nothing of that name exists (a link counts as something).
int name_is_free(int folder, const char *name);
// 1 when name opens for reading as a plain file of the folder; 0 when it does
// not (the reason says why: ERR_NOT_FOUND only when nothing is there).
int file_opens(int folder, const char *name);

// 1 when another program holds name open so that it cannot be replaced now
// (a running program's file on Windows, too).
int held_elsewhere(int folder, const char *name);

// What a file holds, by size and CRC-32. 1 when read whole, 0 when it does not
// exist, -1 when it exists but cannot be read now (held, or a link).
struct Content {
    uint32_t size;
    uint32_t crc;
};
int file_content(int folder, const char *name, Content *out);
// The same of a file open as handle, read from its start.
int handle_content(int handle, Content *out);

// Moves source onto target in one step (target may exist, even read-only;
// a link at target is replaced, not followed), with target's permissions as
// a plain writable file; -1 when it cannot be done, both left as they were.
int replace_in_one_step(int folder, const char *source, const char *target);
// Copies target's content to a new file aside (which must be free), flushed.
// -1 on failure, with no file left (ERR_EXISTS when aside was taken).
int keep_aside(int folder, const char *target, const char *aside);
// Deletes name when it is a file this program made (its owner is ours).
// Waits out a hold as the other steps do. 0 when gone, 1 when left as
// somebody else's file, -1 when it cannot be done now.
int delete_own_file(int folder, const char *name);
