// The update procedure. Checks come first and change nothing; only when every
// check passes are the payload's two files unpacked next to the game's, and
// then put in place together, so that the game is never left with one new
// file beside one old one, nor without its executable.
#include "driver/update.h"

#include <cstring>

#include "archive/archive.h"
#include "driver/edition.h"
#include "driver/replace.h"
#include "platform/scope_guard.h"
#include "platform/platform.h"

// ---- Module state ---------------------------------------------------------------

// Outcome of the last update_run: only gains bits while it runs; UF_FAILED only
// alone.
UpdateFlags update_flags = 0;
// The game folder, zero-terminated, with or without a trailing backslash.
// Starts as a placeholder that names no game folder.
char game_dir[PATH_BUFFER_SIZE] = "_A_A_A_";
// The file that holds the payload archive: the running executable, or the
// payload chosen by update_set_payload. Filled by update_run.
char self_path[PATH_BUFFER_SIZE] = "";
// The payload chosen for tests; empty: the running executable.
static char payload_override[PATH_BUFFER_SIZE] = "";

int update_set_payload(const char *path)
{
    if (!path) {
        payload_override[0] = 0;
        return 0;
    }
    if (std::strlen(path) >= sizeof payload_override) return -1;
    std::strcpy(payload_override, path);
    return 0;
}

void update_reset()
{
    update_flags = 0;
    std::memset(game_dir, 0, sizeof game_dir);
    std::strcpy(game_dir, "_A_A_A_");
    self_path[0] = 0;
    payload_override[0] = 0;
}

// ---- The procedure ----------------------------------------------------------------

namespace {

constexpr int PATH_SIZE = REPLACE_PATH_SIZE;

// The game folder's file `name`. A folder that does not fit (not even
// terminated within its buffer) yields false, and the file counts as missing.
bool game_path(char *dest, const char *name)
{
    const void *end = std::memchr(game_dir, 0, sizeof game_dir);
    const size_t n = end ? static_cast<size_t>(static_cast<const char *>(end) - game_dir) : sizeof game_dir;
    if (!end || n + 1 + std::strlen(name) >= PATH_SIZE) {
        dest[0] = 0;
        return false;
    }
    std::memcpy(dest, game_dir, n + 1);
    path_add_slash(dest);
    std::strcat(dest, name);
    return true;
}

// Only the presence of a marker counts. The game's archive names its entries
// without the drive prefix, hence the strip switch.
void check_markers(const char *update_pak)
{
    if (vfs_mount(update_pak, DISK_READ) < 0) return;
    char found[PATH_BUFFER_SIZE];
    vfs_set_drive_strip(1);
    if (vfs_find_first("@:\\Update07.txt", FILE_ATTR_NORMAL, found) == 0)
        update_flags |= UF_NEWER_INSTALLED;
    else if (vfs_find_first("@:\\Update06.txt", FILE_ATTR_NORMAL, found) == 0)
        update_flags |= UF_ALREADY_APPLIED;
    vfs_set_drive_strip(0);
    vfs_unmount_all();
}

void check_game(bool fits, const char *korin_pak, const char *korin_exe, const char *update_pak)
{
    uint32_t size = 0;
    if (fits) {
        const int h = disk_open(korin_pak, DISK_READ);
        if (h != -1) {
            size = disk_size(h);
            disk_close(h);
        }
    }
    // Without the game's executable no version check is made at all.
    if (!fits || !file_opens(korin_exe)) return;
    check_markers(update_pak);
    if (size != edition.expected_pak_size) update_flags |= UF_WRONG_VERSION;
}

// The payload's entries and the game files they replace, in the order in
// which they are put in place.
struct PayloadFile {
    const char *entry;
    const char *game_name;
};
constexpr PayloadFile PAYLOAD[] = {
    {"#:\\Korin3.EXE", "Korin3.EXE"},
    {"#:\\Update.PAK", "Update.PAK"},
};
constexpr int PAYLOAD_COUNT = sizeof PAYLOAD / sizeof PAYLOAD[0];

// Unpacks both files next to the game's, then puts both in place or neither.
// True when both stand.
bool install_payload(bool fits)
{
    if (vfs_mount(self_path, DISK_READ) < 0) {
        update_flags |= UF_PAYLOAD_DAMAGED;
        return false;
    }
    ScopeGuard unmount([] { vfs_unmount_all(); });
    if (!fits) return false;

    Replacement files[PAYLOAD_COUNT];
    for (int i = 0; i < PAYLOAD_COUNT; ++i) {
        char target[PATH_SIZE];
        if (!game_path(target, PAYLOAD[i].game_name) || replace_init(&files[i], target) != 0)
            return false;
    }
    ScopeGuard discard([&] {
        for (Replacement &file : files) replace_discard(&file);
    });
    for (int i = 0; i < PAYLOAD_COUNT; ++i) {
        if (replace_stage(&files[i]) != 0 || extract_file(files[i].staged, PAYLOAD[i].entry) != 0) return false;
    }
    discard.dismiss();

    for (int i = 0; i < PAYLOAD_COUNT; ++i) {
        if (replace_put(&files[i]) != 0) {
            for (int j = PAYLOAD_COUNT - 1; j >= 0; --j) replace_undo(&files[j]);
            return false;
        }
    }
    for (Replacement &file : files) replace_commit(&file);
    return true;
}

}  // namespace

void update_run()
{
    if (payload_override[0])
        std::strcpy(self_path, payload_override);
    else
        cmdline_arg("", 0, self_path);
    update_flags = 0;

    char korin_pak[PATH_SIZE], korin_exe[PATH_SIZE], update_pak[PATH_SIZE], install_dat[PATH_SIZE];
    const bool fits = game_path(korin_pak, "Korin3.PAK") && game_path(korin_exe, "Korin3.EXE") &&
                      game_path(update_pak, "Update.PAK") && game_path(install_dat, "INSTALL.DAT");

    check_game(fits, korin_pak, korin_exe, update_pak);
    // Any finding leaves the game folder untouched.
    if (update_flags == 0 && install_payload(fits)) {
        update_flags |= UF_DONE;
        // The update stands whatever the list edit achieves.
        disk_set_attributes(install_dat, FILE_ATTR_NORMAL);
        register_update_pak(install_dat);
    }
    if (update_flags == 0) update_flags = UF_FAILED;
}
