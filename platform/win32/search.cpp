// The single disk search over FindFirstFileW and FindNextFileW, names in the
// narrow form of win32/wide.h.
#include <windows.h>

#include <cstring>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace {

struct DiskSearch {
    HANDLE handle = INVALID_HANDLE_VALUE;  // open search, or INVALID_HANDLE_VALUE
    uint32_t mask = 0;                     // a reported entry shares a bit with it
    WIN32_FIND_DATAW found{};              // the entry the system reported last
};

DiskSearch search;

void close_search()
{
    if (search.handle != INVALID_HANDLE_VALUE) FindClose(search.handle);
    search.handle = INVALID_HANDLE_VALUE;
}

// Copies the current entry's name when it passes the mask.
bool take_if_matching(char *name_out)
{
    if (!(search.found.dwFileAttributes & search.mask)) return false;
    // name_out holds PATH_BUFFER_SIZE bytes; a name too long for it is
    // cut short (and then found by no later call).
    if (!narrow_name(search.found.cFileName, name_out, PATH_BUFFER_SIZE)) name_out[PATH_BUFFER_SIZE - 1] = 0;
    return true;
}

}  // namespace

int disk_find_first(const char *pattern, uint32_t mask, char *name_out)
{
    name_out[0] = 0;
    // An abandoned search would keep its system handle open; nobody uses it
    // after a new one starts.
    close_search();
    search.mask = mask == FILE_ATTR_NORMAL ? (FILE_ATTR_NORMAL | FILE_ATTR_ARCHIVE) : mask;
    const WideName wide(pattern);
    if (!wide.ok) return -1;
    search.handle = FindFirstFileW(wide.text, &search.found);
    if (search.handle == INVALID_HANDLE_VALUE) {
        err_from_system();
        return -1;
    }
    if (take_if_matching(name_out)) return 0;
    return disk_find_next(name_out);
}

int disk_find_next(char *name_out)
{
    name_out[0] = 0;
    if (search.handle == INVALID_HANDLE_VALUE) return fail(ERR_NOT_FOUND, -1);
    while (FindNextFileW(search.handle, &search.found))
        if (take_if_matching(name_out)) return 0;
    close_search();
    return fail(ERR_NOT_FOUND, -1);
}

void disk_find_reset()
{
    close_search();
    search.mask = 0;
}
