// The archive file system: PAK archives mounted as drives, so that a name
// whose first character lies in a mounted archive's drive range ("#:\Korin3.EXE")
// addresses an entry, while every other name is a disk file; one set of file
// operations serves both.
//
// Results: 0 for success and -1 for failure; opening and mounting return a
// handle or slot index, or -1; vfs_read and vfs_write return the count moved,
// 0 on failure.
#pragma once

#include <cstdint>

#include "archive/format.h"

constexpr int VFS_MAX_SLOTS = 10;
constexpr int VFS_MAX_HANDLES = 10;
constexpr int VFS_HANDLE_BASE = 20000;  // 20000..20009 are archive handles

// ---- Packed blocks (block.cpp) -----------------------------------------------

// One-shot zlib at the default level; the stream's first byte is masked.
// A capacity of 0 means 0x40000000. Result: bytes written, or 0 on failure.
int block_pack(void *dest, const void *source, int source_length, int dest_capacity);
// Result: bytes produced, or 0 on any failure. The source is never changed.
int block_unpack(void *dest, const void *source, int source_length, int dest_capacity);
// The header's user_value without mounting; 0xFFFFFFFF (-1) when unreadable.
uint32_t pak_read_user_value(const char *path);

// ---- Mount table (mount.cpp) -------------------------------------------------

// Mode as disk_open: 0 read-only, 2 read and write. A path ending in ".exe" is
// mounted in the appended form, read-only only. Result: slot index 0..9, or -1.
int vfs_mount(const char *path, int mode);
void vfs_unmount(int slot);  // writes a changed directory back first
void vfs_unmount_all();
int pak_write_directory(int slot);

// ---- Virtual files (handle.cpp) ----------------------------------------------

// A name whose first byte an archive serves is an entry, anything else a
// disk file. An archive handle stays valid while its directory grows and
// fails (0 from read and write, -1 from size and seek) once its archive is
// unmounted; close it all the same.
int vfs_open(const char *name, int mode);
// Archive side: appends a new empty entry (replacing a live one of the same
// name); names of 40 or more characters, or holding '*' or '?', are refused.
int vfs_create(const char *name, int attributes);
int vfs_close(int handle);
int vfs_read(int handle, void *buffer, int count);
// Archive side: data goes where the directory stands, so only the newest
// entry of an archive, written at its end, takes bytes; other writes return 0.
int vfs_write(int handle, const void *buffer, int count);
int vfs_size(int handle);
int vfs_seek(int handle, int distance, int origin);
int vfs_open_count();

// ---- Enumeration (find.cpp) --------------------------------------------------
// out receives at least 260 bytes. One enumeration at a time; it ends with
// its archive's unmount. A pattern, or a full name from the _path forms, that
// would not fit 260 bytes gives -1.

int vfs_find_first(const char *pattern, uint32_t mask, char *out);
int vfs_find_next(char *out);
int vfs_find_first_path(const char *pattern, uint32_t mask, char *out);
int vfs_find_next_path(char *out);

// ---- Creation and flush (create.cpp) -----------------------------------------

int pak_create(const char *path, int first_drive, int last_drive, uint32_t user_value, int packed);
int pak_flush_last();

// ---- Entry editing (edit.cpp) ------------------------------------------------

int vfs_delete(const char *name);
int vfs_rename(const char *name, const char *new_name);
int vfs_add(const char *name, int attributes);
int path_set_ext(char *path, const char *extension);
int vfs_make_backup(const char *name, const char *extension);

// ---- Rebuilding and attaching (rebuild.cpp) ----------------------------------

int pak_compact(const char *path);
int pak_attach(const char *target, const char *archive);

// ---- Inspection, for tools (records.cpp) -----------------------------------

struct PakMountFacts {
    int base_offset;      // file offset of the archive (0: stand-alone)
    int dir_offset;       // archive offset of the directory
    int entry_count;      // records, free ones included
    int packed_dir_size;  // 0: plain directory
    int first_drive;
    int last_drive;
};
int vfs_mount_facts(int slot, PakMountFacts *out);
// A copy of the record at position (0 <= position < entry_count), or -1.
int vfs_entry_at(int slot, int position, PakEntry *out);
// Opens the live record at position for reading, as vfs_open does for a name.
int vfs_open_at(int slot, int position);
// The archive's own wildcard rules: 0 when pattern matches name, else -1.
int vfs_name_match(const char *pattern, const char *name);

// ---- Tests ---------------------------------------------------------------------

// Closes and releases everything the subsystem holds, without writing any
// directory back, and restores its start-up state (mount table, handle
// table, enumeration state).
void archive_reset();
