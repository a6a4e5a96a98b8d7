// The Windows heap gives large blocks back to the system by itself.
#include "platform/internal.h"

void heap_tune() {}

void heap_advise(void *, size_t) {}
