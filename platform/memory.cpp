// The heap: the C runtime's malloc, realloc and free, tuned once per system
// (heap_tune) before the first block is taken.
#include <cstdlib>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"

namespace {

void *tuned_malloc(size_t size)
{
    static const bool tuned = (heap_tune(), true);
    (void)tuned;
    return std::malloc(size);
}

}  // namespace

void *mem_alloc(size_t size)
{
    if (PLATFORM_FAULT(FAULT_ALLOC)) return fail(ERR_NO_MEMORY, static_cast<void *>(nullptr), "injected");
    void *block = tuned_malloc(size);
    if (!block) return fail(ERR_NO_MEMORY, static_cast<void *>(nullptr));
    PLATFORM_COUNT_BLOCK(1);
    heap_advise(block, size);
    return block;
}

void *mem_realloc(void *block, size_t size)
{
    if (PLATFORM_FAULT(FAULT_ALLOC)) return fail(ERR_NO_MEMORY, static_cast<void *>(nullptr), "injected");
    if (!block) return mem_alloc(size);
    // realloc(block, 0) may free the block and return null, which a caller
    // takes for a failure that left the block valid; keep one byte instead.
    void *moved = std::realloc(block, size ? size : 1);
    if (!moved) return fail(ERR_NO_MEMORY, static_cast<void *>(nullptr));
    return moved;
}

void mem_free(void *block)
{
    if (block) PLATFORM_COUNT_BLOCK(-1);
    std::free(block);
}
