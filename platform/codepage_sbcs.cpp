#include "platform/platform.h"

// Single-byte builds scan every byte on its own.
extern const int path_dbcs = 0;
