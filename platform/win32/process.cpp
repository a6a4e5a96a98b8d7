// The running executable's path, the current directory, the clock and the
// running processes.
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"

void process_module_path(char *dest)
{
    // A cut path names another file (and older systems leave it without a
    // terminator): leave the destination empty instead.
    const DWORD len = GetModuleFileNameA(nullptr, dest, MODULE_PATH_MAX);
    dest[len > 0 && len < MODULE_PATH_MAX ? len : 0] = 0;
}

int disk_current_dir(char *dest, int size)
{
    // A directory that does not fit is reported by its needed size, with the
    // buffer left undefined: leave it empty.
    const DWORD len = size > 0 ? GetCurrentDirectoryA(static_cast<DWORD>(size), dest) : 0;
    if (len > 0 && len < static_cast<DWORD>(size)) return 0;
    if (len == 0 && size > 0) err_from_system();
    else err_set(ERR_NAME_TOO_LONG);
    if (size > 0) dest[0] = 0;
    return -1;
}

uint32_t process_clock_ms() { return GetTickCount(); }

void process_sleep_ms(int ms)
{
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

namespace {

// The full, long form of a name (a short 8.3 name or a relative one names the
// same file); false when it does not fit.
bool long_full_name(const char *name, char *dest)
{
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(name, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    const DWORD m = GetLongPathNameA(full, dest, MAX_PATH);
    if (m == 0 || m >= MAX_PATH) std::strcpy(dest, full);  // a file that went away keeps its given form
    return true;
}

}  // namespace

int process_image_running(const char *name)
{
    if (PLATFORM_FAULT(FAULT_IMAGE_RUNNING)) return 1;
    char wanted[MAX_PATH];
    if (!long_full_name(name, wanted)) return 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    ScopeGuard close_snapshot([&] { CloseHandle(snapshot); });
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        // Processes of other users and the system's own do not open: they
        // cannot be a game the player started.
        const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process) continue;
        char image[MAX_PATH], image_long[MAX_PATH];
        DWORD size = MAX_PATH;
        const bool named = QueryFullProcessImageNameA(process, 0, image, &size) && size < MAX_PATH;
        CloseHandle(process);
        if (!named) continue;
        image[size] = 0;
        if (lstrcmpiA(image, wanted) == 0) return 1;
        if (long_full_name(image, image_long) && lstrcmpiA(image_long, wanted) == 0) return 1;
    }
    return 0;
}
