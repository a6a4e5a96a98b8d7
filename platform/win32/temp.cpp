// The temporary files an interruption removes. The console's control handler
// runs on a thread of its own while the program goes on, so the table is
// guarded by a lock that creating a temporary file holds too. Temporary files
// are opened sharing deletion (disk_create_new), so the handler can remove one
// that is still being written; the system deletes it when the process ends.
#include <windows.h>

#include <cstring>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"

namespace {

struct TempSlot {
    bool used;
    char name[PATH_BUFFER_SIZE];
};
TempSlot temps[TEMP_FILES_HELD];

CRITICAL_SECTION lock;
// Spins once, at the first use from any thread.
LONG lock_state = 0;  // 0 none, 1 being made, 2 ready

void lock_ready()
{
    if (lock_state == 2) return;
    if (InterlockedCompareExchange(&lock_state, 1, 0) == 0) {
        InitializeCriticalSection(&lock);
        InterlockedExchange(&lock_state, 2);
        return;
    }
    while (lock_state != 2) Sleep(0);
}

// Removes the temporary files, then leaves the event to the system's own
// handler, which ends the program as Ctrl+C ends any (STATUS_CONTROL_C_EXIT),
// so that a console or script sees an interruption, not a failure. A file
// still open without shared deletion (a replacement's, disk_create_in) stays;
// the next command on its target removes it (replacement.cpp).
BOOL WINAPI on_console_event(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: break;
    default: return FALSE;
    }
    // Held for good: no temporary file is made from now on.
    temp_hold();
    for (const TempSlot &slot : temps)
        if (slot.used) {
            const WideName wide(slot.name);
            if (wide.ok) DeleteFileW(wide.text);
        }
    return FALSE;
}

}  // namespace

void temp_hold()
{
    lock_ready();
    EnterCriticalSection(&lock);
}

void temp_release() { LeaveCriticalSection(&lock); }

int temp_remember(const char *name)
{
    if (std::strlen(name) >= PATH_BUFFER_SIZE) return fail(ERR_NAME_TOO_LONG, -1);
    for (TempSlot &slot : temps) {
        if (slot.used) continue;
        std::strcpy(slot.name, name);
        slot.used = true;
        return 0;
    }
    return fail(ERR_TOO_MANY, -1, "too many temporary files");
}

void disk_temp_forget(const char *name)
{
    temp_hold();
    for (TempSlot &slot : temps)
        if (slot.used && std::strcmp(slot.name, name) == 0) slot.used = false;
    temp_release();
}

bool temp_remembered(const char *name)
{
    temp_hold();
    bool found = false;
    for (const TempSlot &slot : temps)
        if (slot.used && std::strcmp(slot.name, name) == 0) found = true;
    temp_release();
    return found;
}

void temp_forget_all()
{
    temp_hold();
    for (TempSlot &slot : temps) slot.used = false;
    temp_release();
}

void temp_mark(int handle, bool on)
{
    const HANDLE h = reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
    FILE_BASIC_INFO info;
    if (!GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof info)) return;
    info.FileAttributes = on ? info.FileAttributes | FILE_ATTRIBUTE_TEMPORARY : info.FileAttributes & ~FILE_ATTRIBUTE_TEMPORARY;
    if (!info.FileAttributes) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    // Times of 0 stay as they are.
    info.CreationTime.QuadPart = info.LastAccessTime.QuadPart = info.LastWriteTime.QuadPart = info.ChangeTime.QuadPart = 0;
    SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info);
}

bool temp_marked(int handle)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_TEMPORARY);
}

void disk_temp_interrupts() { SetConsoleCtrlHandler(on_console_event, TRUE); }
