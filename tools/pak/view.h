// An archive opened by pak for reading: mounted read-only through the archive
// file system, with its header and the facts of the mount, and the stored
// data of its records read by position.
#pragma once

#include <cstdint>

#include "archive/archive.h"

struct ArchiveView {
    const char *path;
    int slot;               // mounted slot, -1 when closed
    PakMountFacts facts;
    PakHeader header;       // as stored at the archive's start
    bool appended;          // found behind a program, with a trailer
    int64_t file_size;      // of the whole file
};

// Mounts path read-only, in the appended form when its name ends in .exe or
// appended is set. On failure says why (view_report_mount_failure) and
// returns -1 with nothing mounted.
int view_open(ArchiveView *view, const char *path, bool appended = false);
void view_close(ArchiveView *view);

// Reads n bytes at offset of the open disk file whose handle context points
// to, for the archive library's PE and trailer readers. 0, or -1.
int read_file_at(int64_t offset, void *buffer, int n, void *context);

// The record at position; its name is always terminated.
PakEntry view_entry(const ArchiveView *view, int position);
// Live records (data_offset not 0).
int view_live_count(const ArchiveView *view);

// Reads the first n bytes stored for a live record (fewer when it is
// shorter). Result: bytes read, or -1.
int view_read_head(const ArchiveView *view, int position, void *buffer, int n);

// The stored bytes of a live record in a new block (mem_alloc; at least one
// byte even for an empty record). Result 0, or -1 with the reason.
int view_read_entry(const ArchiveView *view, int position, char **data, int *length, const char **reason);

// Unpacks a packed block (block_unpack_stored) into a new block of exactly
// its unpacked size. Result 0, or -1 with the reason (the block is damaged).
int unpack_entry(const char *data, int length, char **out, int *out_length, const char **reason);
// The content of a live record: its stored bytes, unpacked when they are a
// packed block, in a new block. Result 0, or -1 with the reason; one that
// looks like a damaged packed block (block_looks_damaged) is refused unless
// force, which takes it for stored data.
int view_entry_content(const ArchiveView *view, int position, char **data, int *length, const char **reason,
                       bool force = false);

// The newest live record of the mounted slot before position `before`
// (pass VIEW_NEWEST to start from the last) whose stored name is `name`:
// exactly (ASCII case ignored) with NAME_EXACT, or as entry_has_name finds
// it with NAME_TYPED. Its position, with the record in *out (name
// terminated) when out is given; -1 when there is none.
enum NameMatch { NAME_EXACT, NAME_TYPED };
constexpr int VIEW_NEWEST = 0x7FFFFFFF;
int find_newest_live(int slot, const char *name, NameMatch match, int before = VIEW_NEWEST, PakEntry *out = nullptr);

// Says why path did not mount, from the reason the mount left:
// "pak: <path>: is a folder, not an archive", "... damaged: <what>", ...
void view_report_mount_failure(const char *path);

// How cat, extract, delete and rename find entries (the rule 'pak --help'
// states): a name or pattern given with a drive prefix ("@:\") finds stored
// names with that prefix or with none; one given without finds stored names
// with any prefix or none. ASCII case is ignored.
// Whether the stored name matches a pattern (pattern_matches in names.h).
bool entry_matches(const char *pattern, const char *name);
// Whether the stored name is `name`.
bool entry_has_name(const char *stored, const char *name);
