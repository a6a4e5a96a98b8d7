// The update journal: what an update is doing to the game folder, written
// (and flushed) before each step, so that a run stopped at any instant (power
// cut, crash, ended task) is finished or undone by the next run of any
// edition. Only files that the journal names are ever deleted.
//
// "Update.JNL" in the game folder (or "Update.J01" to "Update.J99" while a
// file this program did not write holds that name), text; after its first line each record is
// a line "<crc> <fields>\r\n": the CRC-32 of the fields in eight hex digits,
// a space, fields separated by tabs. A torn last record is ignored.
//   KORIN3 UPDATE JOURNAL 1
//   file   <i> <target> <optional> <old size> <old crc>
//                            (optional 1: the update stands without it;
//                            "-" "-": there was no target)
//   staged <i> <name>        before the file of that name is made
//   ready  <i> <size> <crc>  the staged file holds its whole new content
//   aside  <i> <name>        before the target's old content is kept there
//   taken  <i> staged|aside  that name turned out to be somebody else's
// Names are file names in the game folder; <i> counts from 0 in the order in
// which the files are put in place.
#pragma once

#include <cstdint>

#include "driver/replace.h"

constexpr char JOURNAL_NAME[] = "Update.JNL";
constexpr int JOURNAL_FILES = 3;
// The files an update changes, in the order in which they are put in place:
// a new "Update.PAK" beside the old executable is a game that starts, and the
// list names "Update.PAK" only once both new files stand.
constexpr const char *UPDATE_TARGETS[JOURNAL_FILES] = {"Update.PAK", "Korin3.EXE", "INSTALL.DAT"};
constexpr int JOURNAL_NAME_SIZE = 64;
constexpr int JOURNAL_SIZE_LIMIT = 16384;

struct JournalFile {
    char target[JOURNAL_NAME_SIZE];
    bool had_old;        // the target existed when the update began
    Content old_content;
    char staged[JOURNAL_NAME_SIZE];  // "" until named
    char aside[JOURNAL_NAME_SIZE];   // "" until named
    bool ready;          // staged holds new_content in full
    Content new_content;
    bool optional;       // its failure does not fail the update (the list)
};

struct Journal {
    int folder;  // the pinned game folder
    char name[JOURNAL_NAME_SIZE];  // the journal's own file name
    int file_count;
    JournalFile files[JOURNAL_FILES];
    int handle;  // open for appending while this run writes it; -1 otherwise
};

// ---- Writing (journal.cpp) ---------------------------------------------------------

// The journal's name at try n (0: "Update.JNL"); -1 past the last.
int journal_name(char *dest, int n);
// Starts a journal in the pinned folder with the given targets, under the
// first free journal name, its first records flushed. -1 on failure (nothing
// is left then).
int journal_begin(Journal *j, int folder, const char *const *targets, const bool *optional, int count);
// Names file i's staged file (a free sibling of its target) in a flushed
// record, then makes it empty: its handle, for the caller to write and to
// pass to journal_ready; -1 on failure.
int journal_stage(Journal *j, int i);
// The same for the aside file, made as a flushed copy of the target. 0 or -1.
int journal_keep_aside(Journal *j, int i);
// Records that file i's staged file, open as handle, holds its whole new
// content; closes the handle either way.
int journal_ready(Journal *j, int i, int handle);

// ---- Reading and settling (journal_read.cpp, settle.cpp) ------------------------

// Reads the pinned folder's journal. 1: read into j; 0: there is none (or
// only the start of one that this program began, now removed); -1: it cannot
// be read now, or is damaged (*damaged then says which). A file at a
// journal's name that this program did not write (no journal header, another
// owner, a link) is no journal: it is left alone and the next name looked at.
int journal_read(Journal *j, int folder, bool *damaged);

enum SettleWay {
    SETTLE_EITHER,  // finish when every new file is complete, else undo
    SETTLE_UNDO,    // undo (a run that failed on its own)
};
enum SettleResult {
    SETTLED = 0,       // done one way or the other; the journal is gone
    SETTLE_LATER = -1, // a step failed; the journal stays for the next run
    SETTLE_DAMAGED = -2, // neither way is open; nothing was changed
};
// Brings the folder of a journal to the old or the new state, removes the
// files the journal made and then the journal itself. finished says which
// state it reached.
SettleResult journal_settle(Journal *j, SettleWay way, bool *finished);
