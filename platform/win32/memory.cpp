// The heap: the C runtime's malloc, realloc and free.
#include <cstdlib>

#include "platform/internal.h"
#include "platform/platform.h"

void *mem_alloc(size_t size)
{
    if (PLATFORM_FAULT(FAULT_ALLOC)) return nullptr;
    void *block = std::malloc(size);
    if (block) PLATFORM_COUNT_BLOCK(1);
    return block;
}

void *mem_realloc(void *block, size_t size)
{
    if (PLATFORM_FAULT(FAULT_ALLOC)) return nullptr;
    // realloc(block, 0) may free the block and return null, which a caller
    // takes for a failure that left the block valid; keep one byte instead.
    void *moved = std::realloc(block, size ? size : 1);
    if (moved && !block) PLATFORM_COUNT_BLOCK(1);
    return moved;
}

void mem_free(void *block)
{
    if (block) PLATFORM_COUNT_BLOCK(-1);
    std::free(block);
}
