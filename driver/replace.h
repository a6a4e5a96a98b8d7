// The file steps of an update. A game file is never absent: its new content
// is written in full under a free sibling name first, its old content is kept
// under a second name (a hard link, or a copy where the file system has none),
// and the new file then takes the target's name in one step. The update
// journal (journal.h) records each name before the file is made, so that only
// files this program made are ever deleted.
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

// 1 when name is free: nothing of that name exists, as far as the system
// can tell.
int name_is_free(const char *name);
// 1 when name can be opened for reading.
int file_opens(const char *name);

// 1 when another program holds name open so that it cannot be replaced now
// (a running program's file on Windows, too). The old content is not kept
// aside then: a second name of a held file could not be removed either.
int held_elsewhere(const char *name);

// What a file holds, by size and CRC-32. 1 when read whole, 0 when it does not
// exist, -1 when it exists but cannot be read now.
struct Content {
    uint32_t size;
    uint32_t crc;
};
int file_content(const char *name, Content *out);

// Moves source onto target in one step (target may exist, even read-only);
// -1 when it cannot be done, both left as they were.
int replace_in_one_step(const char *source, const char *target);
// Gives target's content a second name, aside (which must be free): a link,
// or a flushed copy. -1 on failure, with no file made.
int keep_aside(const char *target, const char *aside);
