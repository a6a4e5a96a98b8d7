// The payload: the archive appended to the running program, read through a
// handle the program takes at its start and keeps to its end. The handle lets
// others read the file but neither write, rename nor replace it, so the
// payload installed is the file that was started, whatever becomes of its
// name meanwhile; and it must match the digest that pak attach wrote into the
// program image (archive/digest.cpp), which is compared as mapped in memory.
#pragma once

#include <cstdint>

// Opens path (the running program, or a payload for tests) and keeps it
// open, in place of any file kept before; self_path names it. 0, or -1 with
// nothing kept (a later payload_mount then fails).
int payload_open(const char *path);
// Checks the kept file against the image's digest (a place left zero checks
// nothing) and mounts its archive: appended when its name ends in .exe, read
// through the kept handle. Slot index, or -1: no file kept, a digest that
// differs (ERR_DAMAGED), or the mount's reason.
int payload_mount();

// ---- Tests ----------------------------------------------------------------------

// Checks against digest (SHA256_SIZE bytes) instead of the image's own place;
// null goes back to the place.
void payload_set_image_digest(const uint8_t *digest);
// Closes the kept file and forgets any digest set; called by update_reset.
void payload_reset();
