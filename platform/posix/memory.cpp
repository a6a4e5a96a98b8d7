// The heap: the C runtime's malloc, realloc and free.
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "platform/internal.h"
#include "platform/platform.h"

#if defined(__GLIBC__)
// Blocks of 256 KB and more get mappings of their own, given back to the
// system when freed, so that what a program holds is what it takes (as with
// the Windows heap). Left alone, glibc raises that threshold after the first
// large block is freed and keeps later ones in a heap that only grows.
static const int large_blocks_mapped = mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif

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
