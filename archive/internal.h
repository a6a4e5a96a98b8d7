// Module state and internal operations of the archive file system, shared by
// its files. Not for callers outside archive/ (tests excepted).
//
// Directory records are referred to by position (index into a slot's
// directory), never by address: a directory is reallocated when it grows
// while handles and the enumeration cursor still refer to its records.
#pragma once

#include <cstdint>

#include "archive/archive.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/scope_guard.h"

// Positions and sizes inside archive files are kept in ints (up to
// DISK_POSITION_LIMIT): a mount refuses any archive whose offsets would not
// fit, and writes stop short of it.

// Deflate expands at most about 1032-fold: a packed block or directory
// claiming more is damaged, and refusing it spares allocating what a crafted
// size asks for.
constexpr int64_t BLOCK_MAX_RATIO = 1032;

// ---- Mount table -------------------------------------------------------------

constexpr uint32_t SLOT_MOUNTED = 0x80000000u;
constexpr uint32_t SLOT_DIRTY = 0x00000001u;
constexpr uint32_t SLOT_BORROWED = 0x00000002u;  // os_handle is the caller's to close

struct ArchiveSlot {
    int os_handle;        // the archive file, owned while mounted unless borrowed
    int first_drive;      // lowest drive character served (0..255)
    int last_drive;       // highest drive character served
    int entry_count;      // records in use in directory, free ones included
    int packed_dir_size;  // header copy; nonzero: written back packed
    int dir_offset;       // absolute file position of the directory; moves
                          // forward as entry data is appended
    uint32_t flags;       // SLOT_MOUNTED | SLOT_DIRTY | SLOT_BORROWED; no other bits
    int capacity;         // records directory has room for (>= entry_count)
    int base_offset;      // file offset of the archive's first byte
    PakEntry *directory;  // owned; capacity records, entry_count in use
    int32_t *sorted_index;  // owned; entry_count positions ordered by
                            // name_order, or null (dropped on any change)
    uint32_t serial;      // changes with every mount of this slot, so that
                          // handles and cursors can tell a remount apart
};

struct MountTable {
    ArchiveSlot slots[VFS_MAX_SLOTS];
    int mount_count;       // 1 + highest mounted slot index; 0 when none.
                           // Slots at or above it are free.
    bool handles_cleared;  // the first mount of a run clears the handle table
    uint32_t next_serial;  // source of ArchiveSlot::serial
};
extern MountTable g_mount;

int slot_alloc();
// A ReadAt over a disk handle (context: a pointer to it); a file that ends
// too soon is ERR_DAMAGED.
int read_from_disk(int64_t offset, void *buffer, int count, void *context);
// Positions of dir's count records ordered by name_order, equal names in
// directory order; null when there is no room (index.cpp).
int32_t *build_index(const PakEntry *dir, int count);
void index_drop(int slot);
// Compares names byte by byte as unsigned, 'A'-'Z' taken as 'a'-'z' except
// inside a double-byte character (path_name_order).
int name_order(const char *a, const char *b);
// The record at position (0 <= position < capacity) of a mounted slot's
// directory; null when the slot is not mounted or the position is outside.
PakEntry *slot_entry(int slot, int position);
// The slot when it is mounted and still the mount that serial names (0 skips
// the serial test); null otherwise.
ArchiveSlot *slot_live(int slot, uint32_t serial);

// ---- Names and lookup ----------------------------------------------------------

struct FindCursor {
    int slot;          // -1 when none
    uint32_t serial;   // the slot's serial when the cursor was saved
    int entry;         // position of the last match in the slot's directory
    int remaining;     // entries still unvisited, this one included
};

struct LookupState {
    bool find_in_archive;      // the enumeration walks archives, not the disk
    int last_match_slot;       // slot of the last successful lookup
    FindCursor find_cursor;
    char find_pattern[PATH_BUFFER_SIZE];  // pattern of the current enumeration
    int find_prefix_len;       // characters cut from each result's name
    int drive_strip;           // nonzero: names lose their drive prefix
                               // before they are compared (strip_drive)
};
extern LookupState g_lookup;

// Highest mounted slot whose drive range holds the name's first byte, or -1.
int slot_for_name(const char *name);
// The part of name compared with entry names (a pointer into name).
const char *strip_drive(const char *name);
// Lookups take a name as a pattern: an edit or a new entry must not fall on
// whichever entry a wildcard happens to match, nor store one (edit.cpp).
bool has_wildcard(const char *name);
// How entry_lookup goes: a name through the index where there is one, or an
// enumeration's scan in directory order that keeps its place in
// g_lookup.find_cursor, from the top or on from that place.
enum EntryLookup {
    LOOKUP_NAME,
    LOOKUP_SCAN_FIRST,
    LOOKUP_SCAN_NEXT,
};
// Position of the entry in slot g_lookup.last_match_slot, or -1.
int entry_lookup(const char *name, EntryLookup how);
// 0 when the pattern matches the name field (reading at most limit bytes of
// it), -1 otherwise.
int wild_match(const char *pattern, const char *name_field, int limit);
int binary_search(const void *key, int count, int (*compare)(const void *key, int i, void *context),
                  void *context);

// ---- Virtual file handles ------------------------------------------------------

struct VfsOpenFile {
    int size;         // current length of the entry
    int data_offset;  // absolute file position of its first byte; 0: free record
    int position;     // offset of the next read or write, 0..size
    bool changed;     // written (or edited); becomes the slot's dirty bit at close
    int entry;        // position of the entry in the slot's directory
    int slot;         // slot index of the archive
    uint32_t serial;  // the slot's serial when bound; a mismatch means the
                      // archive is gone and the handle is dead
};

struct HandleTable {
    VfsOpenFile files[VFS_MAX_HANDLES];
    int open_count;
};
extern HandleTable g_handles;

int handle_alloc();  // lowest free record, or -1

// Writes count directory records at the file's position, plain or packed,
// refusing to write more than limit bytes; the length written in *length.
int directory_write(int file, const PakEntry *records, int count, bool packed, uint32_t limit, int *length);
// Grows the slot's directory by 64 records when it is full; 0, or -1.
int directory_make_room(int slot);
// Appends a live, empty record named key (shorter than 40 bytes) where the
// directory stands; the directory must have room. Its position.
int append_record(int slot, const char *key);
// Binds a free record to the live entry at pos of a mounted slot; -1 when the
// entry reaches past what an int position addresses.
int handle_place(int record, int slot, int pos);
// Binds a record to the entry that an exact lookup of name finds.
int handle_bind(int record, const char *name);
// Turns the record's changed flag into its slot's dirty bit.
int handle_flush(int record);
// The record behind an archive handle that is bound to a live mount, or null.
VfsOpenFile *handle_record(int handle);
