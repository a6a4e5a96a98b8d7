// Where the program's DLLs come from. A program downloaded into a folder of
// downloads sits beside whatever else was downloaded there, and the system
// DLLs it calls load further DLLs by name (uxtheme.dll, version.dll, ...):
// by default the program's own folder is searched for them first.
#include "driver/win32/app.h"

namespace {

// System DLLs that the user interface and shell load by name on some
// version of Windows; loaded from the system folder up front where the
// search cannot be restricted, so that a later load by name finds them
// already in place.
const char *const LOADED_BY_NAME[] = {
    "uxtheme.dll", "version.dll", "dwmapi.dll", "propsys.dll", "cryptbase.dll", "userenv.dll", "profapi.dll",
    "apphelp.dll", "oleacc.dll",  "comres.dll", "clbcatq.dll", "ntmarta.dll",   "setupapi.dll", "comctl32.dll",
};

typedef BOOL(WINAPI *SetDefaultDllDirectoriesCall)(DWORD);

}  // namespace

void dll_search_system_only()
{
    // Windows 8 and later, and Windows 7 with update KB2533623. Looked up,
    // so that the program still starts where it is missing.
    const auto set_default = reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;

    // Without it: the current folder leaves the search, and the usual
    // victims are loaded from the system folder (their own dependencies
    // searched from there too) before anything can ask for them by name.
    SetDllDirectoryA("");
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 16 >= MAX_PATH) return;
    path[length] = '\\';
    for (const char *name : LOADED_BY_NAME) {
        lstrcpyA(path + length + 1, name);
        LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
}
