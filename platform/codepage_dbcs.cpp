#include "platform/platform.h"

// The editions' code pages (GBK, Big5) are double-byte.
extern const int path_dbcs = 1;
