// Heap tuning for glibc.
#include <cstdint>
#include <cstdlib>  // defines __GLIBC__ where it applies
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "platform/internal.h"

void heap_tune()
{
#if defined(__GLIBC__)
    // Blocks of 256 KB and more get mappings of their own, given back to the
    // system when freed, so that what a program holds is what it takes (as
    // with the Windows heap). Left alone, glibc raises that threshold after
    // the first large block is freed and keeps later ones in a heap that only
    // grows.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

void heap_advise(void *block, size_t size)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // A block this large has a mapping of its own (heap_tune). With 4 KB
    // pages, faulting in and walking a directory of a million entries costs
    // several times reading it; with 2 MB pages it costs almost nothing.
    // Smaller blocks stay on small pages, so that what a program holds still
    // follows what it uses.
    constexpr size_t LARGE = 8u << 20, PAGE = 2u << 20;
    if (size < LARGE) return;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + PAGE - 1) & ~(PAGE - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(PAGE - 1);
    if (end > start) madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
#else
    (void)block, (void)size;
#endif
}
