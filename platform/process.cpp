// The command line and the layer's reset.
#include <cstring>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"

// Words are separated by spaces only (tabs and quotes mean nothing); one
// leading '/' or '-' of a word is dropped.
void cmdline_arg(const char *command_line, int n, char *dest)
{
    dest[0] = 0;
    if (n == 0) {
        process_module_path(dest);
        return;
    }
    if (n < 0 || !command_line) return;
    const char *p = command_line;
    for (int word = 1;; ++word) {
        while (*p == ' ') ++p;
        if (!*p) return;
        if (*p == '/' || *p == '-') ++p;
        const char *end = p;
        while (*end && *end != ' ') ++end;
        if (word == n) {
            std::memcpy(dest, p, static_cast<size_t>(end - p));
            dest[end - p] = 0;
            return;
        }
        p = end;
    }
}

void platform_reset()
{
    disk_find_reset();
    temp_forget_all();
    err_clear();
#if KORIN_FAULTS
    fault_arm(0, 0, false);
    fault_cache_record(false);
    fault_cache_skip_syncs(false);
#endif
}
