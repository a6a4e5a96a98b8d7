// Test-only fault injection: makes the n-th allocation, disk create, disk
// write or disk rename fail, once or from that point on, so that tests can
// prove that no failure loses data. Only the platform_faults library variant
// (linked by tests) consults it; product builds link the plain variant, where
// these points cost nothing.
#pragma once

#include <cstdint>

enum : unsigned {
    FAULT_ALLOC = 1u << 0,   // mem_alloc, mem_realloc
    FAULT_CREATE = 1u << 1,  // disk_create (and so disk_force_create)
    FAULT_WRITE = 1u << 2,   // disk_write
    FAULT_RENAME = 1u << 3,  // disk_rename
    FAULT_ALL = FAULT_ALLOC | FAULT_CREATE | FAULT_WRITE | FAULT_RENAME,
    FAULT_FLUSH = 1u << 4,   // disk_flush
    FAULT_DELETE = 1u << 5,  // disk_delete (and so disk_force_delete)
    // Every step that changes what a disk holds (disk_link and disk_create_new
    // count as creates, disk_replace as a rename).
    FAULT_DISK_STEPS = FAULT_CREATE | FAULT_WRITE | FAULT_FLUSH | FAULT_RENAME | FAULT_DELETE,
    // Not a failure but a finding, so outside FAULT_ALL and FAULT_DISK_STEPS: process_image_running
    // reports the file running.
    FAULT_IMAGE_RUNNING = 1u << 6,
};

// Counts the points of the given kinds from now on; the nth of them (1-based)
// fails, and with sticky every later one too. nth = 0 only counts.
void fault_arm(unsigned kinds, long nth, bool sticky);
// Counts the points of the given kinds from now on and, on reaching the nth,
// ends the process at once with FAULT_STOP_STATUS, before that step is taken:
// no cleanup, no destructors, handles left to the system, as a power cut or
// an ended task leaves them.
void fault_arm_stop(unsigned kinds, long nth);
constexpr int FAULT_STOP_STATUS = 86;
// Calls hook before each step of the given kinds is taken, as another program
// acting between two steps would (whether or not the points are armed); null
// removes it. Steps the hook itself takes do not call it again.
typedef void (*FaultHook)(unsigned kind);
void fault_set_hook(unsigned kinds, FaultHook hook);
// Stops failing and counting; the count stays readable.
void fault_disarm();
// Points of the armed kinds passed since fault_arm.
long fault_points();
// Failures injected since fault_arm.
long fault_injected();

// Heap blocks taken with mem_alloc or mem_realloc and not yet given back,
// so that a test can tell that an operation released all it took. Counted
// whether armed or not.
long fault_blocks_held();

// Failures passed on (passed() in error.h) that found no reason set, since
// the process started (platform_reset keeps them, so that every test binary
// can check its whole run at its end): each one a failure that nobody could
// explain to the user. The last one's place ("archive/mount.cpp:42"), or "".
long fault_reasonless();
const char *fault_reasonless_where();
void fault_note_reasonless(const char *file, int line);
// Puts the count back, for the test that makes one on purpose.
void fault_reasonless_set(long count);

// Used by the platform implementations: true when this point must fail.
bool fault_hit(unsigned kind);
// Used by the platform implementations: a block was taken (+1) or freed (-1).
void fault_count_block(long delta);

// ---- The disk's volatile cache, for power-cut tests ------------------------------
//
// While recording, every change made to a file of a pinned folder, and every
// step that makes one durable, is logged in order, so that a test can build
// what the disk might hold had the power gone after any prefix of the log.
// Only files opened or made by disk_open_in and disk_create_in are followed.
enum CacheEventKind : int {
    CACHE_OPEN,         // handle opened the folder's file `name`
    CACHE_CREATE,       // handle made the new file `name`
    CACHE_WRITE,        // handle wrote `length` bytes `data` at `offset`
    CACHE_FLUSH,        // the content of the handle's file is durable (disk_flush)
    CACHE_RENAME,       // the handle's file, called `name`, now called `to` (replacing)
    CACHE_DELETE,       // the handle's file, called `name`, deleted
    CACHE_CLOSE,        // handle closed
    CACHE_FOLDER_SYNC,  // every name change in the folder so far is durable
    CACHE_ENTRY_SYNC,   // the name changes of the handle's file are durable
};
constexpr int CACHE_NAME_SIZE = 64;
struct CacheEvent {
    int kind;
    int handle;
    uint32_t offset, length;
    const unsigned char *data;  // length bytes, owned by the log
    char name[CACHE_NAME_SIZE], to[CACHE_NAME_SIZE];
};
// Clears the log; with on, starts logging.
void fault_cache_record(bool on);
int fault_cache_count();
const CacheEvent *fault_cache_event(int i);
// True where name changes reach the disk in the order they were made (the
// file system's log is written in order), so that one made durable makes
// every earlier one durable too; false where any unsynced one may be lost
// alone.
bool fault_cache_names_in_order();

// With skip, flushes do all but wait for the disk (the log still records
// them): a test that models the cache needs no real flush, and a thousand
// runs of the update would otherwise wait on the disk for minutes. Undone
// by platform_reset.
void fault_cache_skip_syncs(bool skip);
bool fault_cache_syncs_skipped();

// Used by the platform implementations while recording.
bool fault_cache_recording();
void fault_cache_note(int kind, int handle, const char *name = nullptr, const char *to = nullptr);
void fault_cache_note_write(int handle, const void *data, int count);
