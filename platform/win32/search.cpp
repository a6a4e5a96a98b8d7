// The single disk search over FindFirstFileA and FindNextFileA.
#include <windows.h>

#include <cstring>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"

namespace {

struct DiskSearch {
    HANDLE handle = INVALID_HANDLE_VALUE;  // open search, or INVALID_HANDLE_VALUE
    uint32_t mask = 0;                     // a reported entry shares a bit with it
    WIN32_FIND_DATAA found{};              // the entry the system reported last
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
    std::memcpy(name_out, search.found.cFileName, sizeof search.found.cFileName);
    name_out[sizeof search.found.cFileName - 1] = 0;
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
    search.handle = FindFirstFileA(pattern, &search.found);
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
    while (FindNextFileA(search.handle, &search.found))
        if (take_if_matching(name_out)) return 0;
    close_search();
    return fail(ERR_NOT_FOUND, -1);
}

void disk_find_reset()
{
    close_search();
    search.mask = 0;
}
