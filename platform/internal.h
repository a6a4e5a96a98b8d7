// Shared by the two implementations of the platform layer; not for callers.
#pragma once

#include "platform/platform.h"
#include "platform/scope_guard.h"

#if KORIN_FAULTS
#include "platform/fault.h"
// A fault point: true when a test has armed this kind to fail here.
#define PLATFORM_FAULT(kind) fault_hit(kind)
#define PLATFORM_COUNT_BLOCK(delta) fault_count_block(delta)
// A step the power-cut tests' cache model logs (fault.h), only while recording.
#define PLATFORM_CACHE(call) (fault_cache_recording() ? (void)(call) : (void)0)
#define PLATFORM_SYNC_SKIPPED() fault_cache_syncs_skipped()
#else
#define PLATFORM_FAULT(kind) false
#define PLATFORM_COUNT_BLOCK(delta) ((void)0)
#define PLATFORM_CACHE(call) ((void)0)
#define PLATFORM_SYNC_SKIPPED() false
#endif

// Tunes the system's heap before its first block is taken (memory.cpp per
// system; nothing to do on Windows).
void heap_tune();
// Advice for a block just taken: large blocks are backed by large pages
// where the system offers them (memory.cpp per system).
void heap_advise(void *block, size_t size);

// Closes a disk search left open and forgets its mask (search.cpp).
void disk_find_reset();

// The running executable's path, at most MODULE_PATH_MAX bytes with its
// terminator; empty when it cannot be had whole (process.cpp per system).
constexpr int MODULE_PATH_MAX = PATH_BUFFER_SIZE - 1;
void process_module_path(char *dest);


inline bool handle_is_reserved(long long h)
{
    return h >= DISK_RESERVED_HANDLE_FIRST && h < DISK_RESERVED_HANDLE_FIRST + DISK_RESERVED_HANDLE_COUNT;
}


// The temporary files an interruption removes (temp.cpp per system). While
// held, an interruption waits, so that a file is never created without
// being remembered, nor a foreign one remembered.
void temp_hold();
void temp_release();
int temp_remember(const char *name);  // -1 when the table is full
// Whether this process made the file of the name and holds it still: not one
// a killed run left, even when it is closed and nobody holds it open.
bool temp_remembered(const char *name);
void temp_forget_all();  // for platform_reset
// A working copy carries a mark from its creation until it takes its final
// name (an extended attribute on POSIX, the temporary attribute on Windows),
// so that one a killed run left is told from a file of the same name that
// somebody made: only a marked one is ever removed. Where the file system
// keeps no mark, none is removed.
void temp_mark(int handle, bool on);
bool temp_marked(int handle);
// The temporary name of try n (0 to TEMP_TRIES - 1): base suffix, or base
// ".n" suffix, into dest of size bytes. False (ERR_NAME_TOO_LONG) when it
// does not fit.
constexpr int TEMP_TRIES = 100;
bool temp_name(char *dest, int size, const char *base, int n, const char *suffix);
