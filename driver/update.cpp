// The update procedure. An update that an earlier run left unfinished is
// settled first; then checks come and change nothing; only when every check
// passes are the payload's two files and the new installation list written
// beside the game's and put in place, each in one step, under a journal that
// lets the next run finish or undo whatever a stop interrupts.
#include "driver/update.h"
#include "driver/retry.h"
#include "platform/error.h"

#include <cstring>

#include "archive/archive.h"
#include "driver/edition.h"
#include "driver/journal.h"
#include "driver/payload.h"
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
    payload_reset();
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
    // A marker missed because the archive was held for a moment would let an
    // older update replace a newer one.
    if (retry_held([=] { return vfs_mount(update_pak, DISK_READ) < 0 ? -1 : 0; }) != 0) return;
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
        const int h = retry_open(korin_pak, DISK_READ);
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

// The payload's entries, as the first of the update's files (UPDATE_TARGETS).
constexpr const char *PAYLOAD_ENTRIES[] = {"#:\\Update.PAK", "#:\\Korin3.EXE"};
constexpr int PAYLOAD_COUNT = sizeof PAYLOAD_ENTRIES / sizeof PAYLOAD_ENTRIES[0];
constexpr int LIST = 2;  // the installation list's place among them

int write_whole(const char *name, const char *data, int size)
{
    const int h = retry_open(name, DISK_WRITE);
    if (h == -1) return -1;
    const bool written = disk_write(h, data, size) == size && disk_flush(h) == 0;
    return disk_close(h) == 0 && written ? 0 : -1;
}

// Windows lets a running program's file be renamed but not deleted, so an
// update under a running game would seem to succeed and leave the old
// executable behind. The process list shows the game wherever it runs from;
// on Windows its file also refuses to open for writing while it runs (a
// read-only file is refused otherwise, and does not count).
bool game_running(const char *korin_exe)
{
    if (process_image_running(korin_exe)) return true;
    const int h = retry_held([=] {
        const int h = disk_open(korin_exe, DISK_WRITE);
        return h == -1 && err_last() != ERR_HELD ? -2 : h;  // only a hold is retried
    });
    if (h >= 0) disk_close(h);
    return h == -1;
}

// An update an earlier run left unfinished is settled first. False when this
// run must stop there.
bool settle_earlier_run(const char *dir)
{
    Journal j;
    bool damaged, finished;
    const int found = journal_read(&j, dir, &damaged);
    if (found == 0) return true;
    SettleResult result = damaged ? SETTLE_DAMAGED : SETTLE_LATER;
    if (found == 1) result = journal_settle(&j, SETTLE_EITHER, &finished);
    if (result == SETTLE_DAMAGED) update_flags |= UF_GAME_DAMAGED;
    return result == SETTLED;
}

// Writes the new files beside the game's under journalled names, then puts
// them in place one by one (each in one step, its old content kept aside),
// and settles the journal: finished when both payload files stand, undone
// otherwise. True when the update stands.
bool install_payload(bool fits)
{
    if (payload_mount() < 0) {
        update_flags |= UF_PAYLOAD_DAMAGED;
        return false;
    }
    ScopeGuard unmount([] { vfs_unmount_all(); });
    char dir[PATH_SIZE], install_dat[PATH_SIZE];
    if (!fits || !game_path(dir, "") || !game_path(install_dat, UPDATE_TARGETS[LIST])) return false;

    char *list = nullptr;
    int list_size = 0;
    const bool list_changes = install_list_with_update_pak(install_dat, &list, &list_size) == 1;
    ScopeGuard release_list([&] { mem_free(list); });

    const bool optional[JOURNAL_FILES] = {false, false, true};
    Journal j;
    // A list that stays as it is (named already, damaged, held) is no part of it.
    if (journal_begin(&j, dir, UPDATE_TARGETS, optional, list_changes ? JOURNAL_FILES : LIST) != 0) return false;
    bool finished = false;
    ScopeGuard undo([&] { journal_settle(&j, SETTLE_UNDO, &finished); });

    // The list first: once both payload files are complete, so is the list
    // that names them, and a run that finishes a stopped update places it.
    // The update stands whatever becomes of the list.
    char path[PATH_SIZE];
    if (list_changes && journal_stage(&j, LIST) == 0) {
        journal_path(&j, j.files[LIST].staged, path);
        if (write_whole(path, list, list_size) == 0) journal_ready(&j, LIST);
    }
    for (int i = 0; i < PAYLOAD_COUNT; ++i) {
        if (journal_stage(&j, i) != 0) return false;
        journal_path(&j, j.files[i].staged, path);
        if (extract_file(path, PAYLOAD_ENTRIES[i]) != 0 || journal_ready(&j, i) != 0) return false;
    }

    for (int i = 0; i < j.file_count; ++i) {
        JournalFile &f = j.files[i];
        if (!f.ready) continue;
        char staged[PATH_SIZE], target[PATH_SIZE];
        journal_path(&j, f.staged, staged);
        journal_path(&j, f.target, target);
        if (!held_elsewhere(target) && (!f.had_old || journal_keep_aside(&j, i) == 0) &&
            replace_in_one_step(staged, target) == 0)
            continue;
        if (!f.optional) return false;
        f.ready = false;  // left as it was; its staged file goes
    }
    undo.dismiss();
    // A leftover that cannot be removed now is removed by the next run.
    journal_settle(&j, SETTLE_EITHER, &finished);
    return true;
}

}  // namespace

void update_run()
{
    // The program's own file was opened at its start; a test's payload is opened now.
    if (payload_override[0]) payload_open(payload_override);
    update_flags = 0;

    char korin_pak[PATH_SIZE], korin_exe[PATH_SIZE], update_pak[PATH_SIZE], install_dat[PATH_SIZE];
    const bool fits = game_path(korin_pak, "Korin3.PAK") && game_path(korin_exe, "Korin3.EXE") &&
                      game_path(update_pak, "Update.PAK") && game_path(install_dat, "INSTALL.DAT");

    char dir[PATH_SIZE];
    // A running game is not touched at all, not even to settle an earlier run.
    const bool running = fits && game_running(korin_exe);
    if (!running && (!fits || !game_path(dir, "") || settle_earlier_run(dir))) {
        check_game(fits, korin_pak, korin_exe, update_pak);
        // Any finding leaves the game folder untouched.
        if (update_flags == 0 && install_payload(fits)) {
            update_flags |= UF_DONE;
            disk_set_attributes(install_dat, FILE_ATTR_NORMAL);  // as the game expects its list
        }
    }
    if (update_flags == 0) update_flags = UF_FAILED;
}
