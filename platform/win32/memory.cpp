// The heap: the C runtime's malloc, realloc and free.
#include <cstdlib>

#include "platform/internal.h"
#include "platform/platform.h"

void *mem_alloc(size_t size)
{
    if (PLATFORM_FAULT(FAULT_ALLOC)) return nullptr;
    return std::malloc(size);
}

void *mem_realloc(void *block, size_t size)
{
    if (PLATFORM_FAULT(FAULT_ALLOC)) return nullptr;
    // realloc(block, 0) may free the block and return null, which a caller
    // takes for a failure that left the block valid; keep one byte instead.
    return std::realloc(block, size ? size : 1);
}

void mem_free(void *block) { std::free(block); }
