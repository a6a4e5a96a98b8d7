// Fault injection for tests: counts the fault points of the armed kinds and
// makes the chosen one (and with sticky every later one) fail.
#include "platform/fault.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

struct FaultState {
    unsigned kinds = 0;   // kinds being counted; 0 when disarmed
    long nth = 0;         // 1-based point that fails; 0 only counts
    bool sticky = false;  // points after nth fail too
    bool stop = false;    // reaching nth ends the process
    long points = 0;      // points of the armed kinds since fault_arm
    long injected = 0;    // failures injected since fault_arm
};

FaultState fault;
unsigned hook_kinds = 0;
FaultHook hook = nullptr;
bool in_hook = false;
long blocks_held = 0;  // mem_alloc/mem_realloc blocks not yet freed
long reasonless = 0;     // passed() without a reason, since platform_reset
char reasonless_where[PATH_BUFFER_SIZE] = "";  // the last one's file:line

}  // namespace

void fault_arm(unsigned kinds, long nth, bool sticky)
{
    fault = FaultState{kinds, nth < 0 ? 0 : nth, sticky, 0, 0};
}

void fault_arm_stop(unsigned kinds, long nth)
{
    fault = FaultState{kinds, nth < 1 ? 1 : nth, false, 0, 0};
    fault.stop = true;
}

void fault_disarm() { fault.kinds = 0; }

void fault_set_hook(unsigned kinds, FaultHook h)
{
    hook_kinds = h ? kinds : 0;
    hook = h;
}

long fault_points() { return fault.points; }

long fault_injected() { return fault.injected; }

bool fault_hit(unsigned kind)
{
    if ((kind & hook_kinds) && !in_hook) {
        in_hook = true;
        hook(kind);
        in_hook = false;
    }
    if (!(kind & fault.kinds)) return false;
    ++fault.points;
    const bool fail =
        fault.nth > 0 && (fault.points == fault.nth || (fault.sticky && fault.points > fault.nth));
    if (fail && fault.stop) {
#ifdef _WIN32
        TerminateProcess(GetCurrentProcess(), FAULT_STOP_STATUS);
#endif
        _exit(FAULT_STOP_STATUS);
    }
    if (fail) ++fault.injected;
    return fail;
}

long fault_blocks_held() { return blocks_held; }

long fault_reasonless() { return reasonless; }

const char *fault_reasonless_where() { return reasonless_where; }

void fault_reasonless_set(long count) { reasonless = count; }

void fault_note_reasonless(const char *file, int line)
{
    ++reasonless;
    std::snprintf(reasonless_where, sizeof reasonless_where, "%s:%d", file, line);
    std::fprintf(stderr, "a failure passed on without a reason at %s\n", reasonless_where);
}

void fault_count_block(long delta) { blocks_held += delta; }

// ---- The cache log ----------------------------------------------------------------

namespace {

constexpr int TRACKED_HANDLES = 64;

struct CacheLog {
    bool on = false;
    CacheEvent *events = nullptr;
    int count = 0, capacity = 0;
    int tracked[TRACKED_HANDLES];  // handles of the folder's files; -1 free
    int tracked_count = 0;
};
CacheLog cache;
bool syncs_skipped = false;

bool is_tracked(int handle)
{
    for (int i = 0; i < cache.tracked_count; ++i)
        if (cache.tracked[i] == handle) return true;
    return false;
}

void untrack(int handle)
{
    for (int i = 0; i < cache.tracked_count; ++i)
        if (cache.tracked[i] == handle) cache.tracked[i] = cache.tracked[--cache.tracked_count];
}

// The heap of the process, not mem_alloc: the log must not move the counts
// that tests read.
CacheEvent *next_event()
{
    if (cache.count == cache.capacity) {
        const int grown = cache.capacity ? 2 * cache.capacity : 256;
        void *block = std::realloc(cache.events, static_cast<size_t>(grown) * sizeof(CacheEvent));
        if (!block) std::abort();
        cache.events = static_cast<CacheEvent *>(block);
        cache.capacity = grown;
    }
    CacheEvent *e = &cache.events[cache.count++];
    std::memset(e, 0, sizeof *e);
    return e;
}

void copy_name(char *dest, const char *name)
{
    if (name) std::strncpy(dest, name, CACHE_NAME_SIZE - 1);
}

}  // namespace

void fault_cache_record(bool on)
{
    for (int i = 0; i < cache.count; ++i) std::free(const_cast<unsigned char *>(cache.events[i].data));
    std::free(cache.events);
    cache = CacheLog{};
    cache.on = on;
}

bool fault_cache_recording() { return cache.on; }

void fault_cache_skip_syncs(bool skip) { syncs_skipped = skip; }

bool fault_cache_syncs_skipped() { return syncs_skipped; }

int fault_cache_count() { return cache.count; }

const CacheEvent *fault_cache_event(int i) { return i >= 0 && i < cache.count ? &cache.events[i] : nullptr; }

bool fault_cache_names_in_order()
{
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

void fault_cache_note(int kind, int handle, const char *name, const char *to)
{
    if (kind == CACHE_OPEN || kind == CACHE_CREATE) {
        if (cache.tracked_count == TRACKED_HANDLES) std::abort();
        untrack(handle);
        cache.tracked[cache.tracked_count++] = handle;
    } else if (kind != CACHE_FOLDER_SYNC && !is_tracked(handle)) {
        return;
    }
    if (kind == CACHE_CLOSE) untrack(handle);
    CacheEvent *e = next_event();
    e->kind = kind;
    e->handle = handle;
    copy_name(e->name, name);
    copy_name(e->to, to);
}

void fault_cache_note_write(int handle, const void *data, int count)
{
    if (count <= 0 || !is_tracked(handle)) return;
    const uint32_t end = disk_seek(handle, 0, DISK_SEEK_CUR);
    unsigned char *copy = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(count)));
    if (end == DISK_FAILED || !copy) std::abort();
    std::memcpy(copy, data, static_cast<size_t>(count));
    CacheEvent *e = next_event();
    e->kind = CACHE_WRITE;
    e->handle = handle;
    e->offset = end - static_cast<uint32_t>(count);
    e->length = static_cast<uint32_t>(count);
    e->data = copy;
}
