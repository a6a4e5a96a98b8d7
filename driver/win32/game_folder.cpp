// The game folder: read from "KORIN3.INI" in the Windows folder, and checked
// for the game's executable before the update runs.
#include <cstring>

#include "config/config.h"
#include "driver/replace.h"
#include "driver/win32/app.h"
#include "platform/error.h"
#include "platform/platform.h"

// folder, a backslash unless it ends in one, then file, into dest of size
// bytes. -1, with dest emptied, when that does not fit.
static int join_path(char *dest, size_t size, const char *folder, const char *file)
{
    dest[0] = 0;
    const size_t folder_length = std::strlen(folder);
    if (folder_length + 2 > size) return fail(ERR_NAME_TOO_LONG, -1);  // room for the folder and a backslash
    std::memcpy(dest, folder, folder_length + 1);
    path_add_slash(dest);
    const size_t length = std::strlen(dest);
    if (length + std::strlen(file) + 1 > size) {
        dest[0] = 0;
        return fail(ERR_NAME_TOO_LONG, -1);
    }
    std::strcpy(dest + length, file);
    return 0;
}

void game_dir_discover()
{
    char windows_dir[128];
    const UINT length = GetWindowsDirectoryA(windows_dir, sizeof windows_dir);
    // 0 is a failure; a value not below the size is the room the folder needs.
    if (length == 0 || length >= sizeof windows_dir) return;
    game_dir_read_config(windows_dir);
}

void game_dir_read_config(const char *windows_dir)
{
    char config_path[128];
    if (join_path(config_path, sizeof config_path, windows_dir, "KORIN3.INI") != 0) return;
    if (cfg_load(config_path)) {
        if (const int32_t section = cfg_find_section("INI", 1)) {
            const char *value = cfg_get_string("GAMEDIR", 1, section, nullptr);
            if (value && std::strlen(value) < sizeof game_dir) std::strcpy(game_dir, value);
        }
    }
    cfg_free();  // also after a failed load, which may have kept a part
}

int game_dir_has_exe(const char *folder)
{
    char path[PATH_BUFFER_SIZE];
    if (join_path(path, sizeof path, folder, "Korin3.EXE") != 0) return 0;
    const int pinned = disk_folder_pin(folder);
    if (pinned == -1) return 0;
    const int found = file_opens(pinned, "Korin3.EXE");
    disk_folder_unpin(pinned);
    return found;
}
