// Heap tuning for glibc.
#include <cstdlib>  // defines __GLIBC__ where it applies
#if defined(__GLIBC__)
#include <malloc.h>
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
