// The update procedure: checks that the update fits the installed game, then
// replaces the game's executable and update archive with the two files carried
// in the program's own appended archive and registers the update archive in the
// game's installation list. Its outcome is update_flags.
#pragma once

#include <cstdint>

#include "platform/platform.h"

typedef uint32_t UpdateFlags;

enum : UpdateFlags {
    UF_DONE = 0x00000001,             // both payload files are in place
    UF_ALREADY_APPLIED = 0x00000002,  // the game's Update.PAK holds "Update06.txt"
    UF_NEWER_INSTALLED = 0x00000004,  // ... holds "Update07.txt"
    UF_GAME_DAMAGED = 0x00000008,     // an interrupted update's journal cannot be settled
    UF_PAYLOAD_DAMAGED = 0x00000010,  // own executable cannot be mounted
    UF_WRONG_VERSION = 0x00000040,    // Korin3.PAK missing or of another size
    UF_FAILED = 0x40000000,           // ran, and no other bit was set
};

constexpr int INSTALL_SLACK = 512000;
constexpr int INSTALL_RESERVE = 128;

extern UpdateFlags update_flags;
extern char game_dir[PATH_BUFFER_SIZE];   // the game folder; "_A_A_A_" until found
extern char self_path[PATH_BUFFER_SIZE];  // the running executable, holder of the payload

// Checks the game folder and, when the update fits, puts the payload's
// "Korin3.EXE" and "Update.PAK" in place together (both or neither) and lists
// "Update.PAK" in "INSTALL.DAT". The outcome is update_flags.
void update_run();
// Unpacks the PackedBlock stored under src into the file dest. 0 when dest
// holds the whole unpacked file, written and flushed; -1 otherwise, with dest
// left empty when it could be created (never zero-filled).
int extract_file(const char *dest, const char *src);
// The same into a file already open for writing (a disk or an archive
// handle), from its current position, flushed; the handle stays open. -1 with
// ERR_DAMAGED when the entry does not unpack.
int extract_into(int handle, const char *src);
// Adds "Update.PAK" to the installation list at path unless it is listed
// already. The list is rewritten through a temporary file, so a failure leaves
// the old one whole; a damaged list is left alone. (The update itself makes
// the same change through its journal.)
void register_update_pak(const char *path);
// The list `name` in the pinned folder with "Update.PAK" added: 1 with the new
// content in *out (a mem_alloc block, *size bytes); 0 when the list names it
// already, is damaged or cannot be read (and so is left alone).
int install_list_with_update_pak(int folder, const char *name, char **out, int *size);
// 1 when at least one name matched pattern and every match was extracted to
// the same name with its first character replaced by '@'; 0 otherwise.
// (not called by the product)
int extract_all(const char *pattern);

// ---- Tests ----------------------------------------------------------------------

// Makes update_run open path as its payload (payload_open) in place of the
// file kept since the start; null goes back to the kept file. -1 when path
// does not fit self_path (nothing changes then).
int update_set_payload(const char *path);
// Restores the driver's module state to its start-up values: update_flags 0,
// game_dir the placeholder, self_path empty, no payload override, no payload
// file kept (payload_reset).
void update_reset();
