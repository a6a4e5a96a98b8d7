// The Windows heap gives large blocks back to the system by itself.
#include "platform/internal.h"

void heap_tune() {}
