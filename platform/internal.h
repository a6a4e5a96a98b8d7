// Shared by the two implementations of the platform layer; not for callers.
#pragma once

#include "platform/scope_guard.h"

#if KORIN_FAULTS
#include "platform/fault.h"
// A fault point: true when a test has armed this kind to fail here.
#define PLATFORM_FAULT(kind) fault_hit(kind)
#define PLATFORM_COUNT_BLOCK(delta) fault_count_block(delta)
#else
#define PLATFORM_FAULT(kind) false
#define PLATFORM_COUNT_BLOCK(delta) ((void)0)
#endif

// Closes a disk search left open and forgets its mask (search.cpp).
void disk_find_reset();

// The running executable's path, at most MODULE_PATH_MAX bytes with its
// terminator; empty when it cannot be had whole (process.cpp per system).
constexpr int MODULE_PATH_MAX = 259;
void process_module_path(char *dest);

// Archive handles occupy these values, so the disk never hands them out.
constexpr int RESERVED_HANDLE_FIRST = 20000;
constexpr int RESERVED_HANDLE_LAST = 20009;

inline bool handle_is_reserved(long long h)
{
    return h >= RESERVED_HANDLE_FIRST && h <= RESERVED_HANDLE_LAST;
}

