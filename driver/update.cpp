// The update procedure. An update that an earlier run left unfinished is
// settled first; then checks come and change nothing; only when every check
// passes are the payload's two files and the new installation list written
// beside the game's and put in place, each in one step, under a journal that
// lets the next run finish or undo whatever a stop interrupts.
#include "driver/update.h"

#include <cstring>

#include "archive/archive.h"
#include "driver/edition.h"
#include "driver/journal.h"
#include "driver/payload.h"
#include "driver/replace.h"
#include "driver/retry.h"
#include "platform/error.h"
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
    if (std::strlen(path) >= sizeof payload_override) return fail(ERR_NAME_TOO_LONG, -1);
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

// The game folder, when it fits its buffer (terminated within it) and leaves
// room for the names below it.
bool game_folder_path(char *dest)
{
    const void *end = std::memchr(game_dir, 0, sizeof game_dir);
    if (!end || static_cast<const char *>(end) - game_dir + 16 >= PATH_BUFFER_SIZE) return false;
    std::strcpy(dest, game_dir);
    return true;
}

// Only the presence of a marker counts. The game's archive names its entries
// without the drive prefix, hence the strip switch. False when the archive is
// there but cannot be read (held, a link): a marker missed would let an older
// update replace a newer one.
bool check_markers(int folder)
{
    const int file = retry_held([=] { return disk_open_in(folder, "Update.PAK", DISK_READ); });
    if (file == -1) return err_last() == ERR_NOT_FOUND;
    ScopeGuard close([&] { disk_close(file); });
    // Not an archive at all: no marker to look for.
    if (vfs_mount_probe(file) < 0) return true;
    char found[PATH_BUFFER_SIZE];
    vfs_set_drive_strip(1);
    if (vfs_find_first("@:\\Update07.txt", FILE_ATTR_NORMAL, found) == 0)
        update_flags |= UF_NEWER_INSTALLED;
    else if (vfs_find_first("@:\\Update06.txt", FILE_ATTR_NORMAL, found) == 0)
        update_flags |= UF_ALREADY_APPLIED;
    vfs_set_drive_strip(0);
    vfs_unmount_all();
    return true;
}

// False when the checks cannot be made: the game's executable or update
// archive is there but cannot be read (held, or a link), so the update must
// not go ahead blind.
bool check_game(int folder)
{
    uint32_t size = 0;
    const int h = retry_held([=] { return disk_open_in(folder, "Korin3.PAK", DISK_READ); });
    if (h != -1) {
        size = disk_size(h);
        disk_close(h);
    } else if (err_last() == ERR_HELD) {
        return false;  // there, but its size cannot be judged
    }
    // Without the game's executable no version check is made at all. One
    // that another program holds (the game running) is there: the checks
    // go on, and the hold stops the update after them.
    const int exe = disk_open_in(folder, "Korin3.EXE", DISK_READ);
    if (exe != -1) disk_close(exe);
    else if (err_last() == ERR_NOT_FOUND) return true;
    else if (err_last() != ERR_HELD) return false;
    if (!check_markers(folder)) return false;
    if (size != edition.expected_pak_size) update_flags |= UF_WRONG_VERSION;
    return true;
}

// The payload's entries, as the first of the update's files (UPDATE_TARGETS).
constexpr const char *PAYLOAD_ENTRIES[] = {"#:\\Update.PAK", "#:\\Korin3.EXE"};
constexpr int PAYLOAD_COUNT = sizeof PAYLOAD_ENTRIES / sizeof PAYLOAD_ENTRIES[0];
constexpr int LIST = 2;  // the installation list's place among them

// Windows lets a running program's file be renamed but not deleted, so an
// update under a running game would seem to succeed and leave the old
// executable behind. The process list shows the game wherever it runs from;
// on Windows its file also refuses to open for writing while it runs (a
// read-only file is refused otherwise, and does not count).
bool game_running(int folder, const char *korin_exe)
{
    if (process_image_running(korin_exe)) return true;
    const int h = retry_held([=] {
        const int h = disk_open_in(folder, "Korin3.EXE", DISK_WRITE);
        return h == -1 && err_last() != ERR_HELD ? -2 : h;  // only a hold is retried
    });
    if (h >= 0) disk_close(h);
    return h == -1;
}

// An update an earlier run left unfinished is settled first. False when this
// run must stop there.
bool settle_earlier_run(int folder)
{
    Journal j;
    bool damaged, finished;
    const int found = journal_read(&j, folder, &damaged);
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
bool install_payload(int folder)
{
    if (payload_mount() < 0) {
        update_flags |= UF_PAYLOAD_DAMAGED;
        return false;
    }
    ScopeGuard unmount([] { vfs_unmount_all(); });

    char *list = nullptr;
    int list_size = 0;
    const bool list_changes = install_list_with_update_pak(folder, UPDATE_TARGETS[LIST], &list, &list_size) == 1;
    ScopeGuard release_list([&] { mem_free(list); });

    const bool optional[JOURNAL_FILES] = {false, false, true};
    Journal j;
    // A list that stays as it is (named already, damaged, held) is no part of it.
    if (journal_begin(&j, folder, UPDATE_TARGETS, optional, list_changes ? JOURNAL_FILES : LIST) != 0) return false;
    bool finished = false;
    ScopeGuard undo([&] { journal_settle(&j, SETTLE_UNDO, &finished); });

    // The list first: once both payload files are complete, so is the list
    // that names them, and a run that finishes a stopped update places it.
    // The update stands whatever becomes of the list. Each staged file is
    // written through the handle that made it.
    if (list_changes) {
        const int h = journal_stage(&j, LIST);
        if (h != -1) {
            const bool written = disk_write(h, list, list_size) == list_size && disk_flush(h) == 0;
            if (written) journal_ready(&j, LIST, h);
            else disk_close(h);
        }
    }
    for (int i = 0; i < PAYLOAD_COUNT; ++i) {
        const int h = journal_stage(&j, i);
        if (h == -1) return false;
        if (extract_into(h, PAYLOAD_ENTRIES[i]) != 0) {
            // Whichever step finds it, a payload that does not unpack is damaged.
            if (err_last() == ERR_DAMAGED || err_last() == ERR_NOT_FOUND) update_flags |= UF_PAYLOAD_DAMAGED;
            disk_close(h);
            return false;
        }
        if (journal_ready(&j, i, h) != 0) return false;
    }

    for (int i = 0; i < j.file_count; ++i) {
        JournalFile &f = j.files[i];
        if (!f.ready) continue;
        if (!held_elsewhere(folder, f.target) && (!f.had_old || journal_keep_aside(&j, i) == 0) &&
            replace_in_one_step(folder, f.staged, f.target) == 0)
            continue;
        if (!f.optional) return false;
        f.ready = false;  // left as it was; its staged file goes
    }
    undo.dismiss();
    // A leftover that cannot be removed now is removed by the next run.
    journal_settle(&j, SETTLE_EITHER, &finished);
    return true;
}

// Whether an earlier run may have left its journal: anything at a journal's
// name (the player's notes too, which only cost the order below).
bool journal_may_stand(int folder)
{
    char name[JOURNAL_NAME_SIZE];
    for (int n = 0; journal_name(name, n) == 0; ++n)
        if (!name_is_free(folder, name)) return true;
    return false;
}

// The update in the pinned folder.
void update_in(int folder, const char *korin_exe)
{
    // The checks change nothing, so what they find stands first, even over
    // a running game. A folder that an earlier run may have left halfway is
    // judged only once settled, which waits for the game to end. Checks
    // whose reading fails stop the update as any finding does, and any
    // finding leaves the game folder untouched.
    const bool unsettled = journal_may_stand(folder);
    if (!unsettled && (!check_game(folder) || update_flags != 0)) return;
    // A running game is not touched at all, not even to settle an earlier run.
    if (game_running(folder, korin_exe) || !settle_earlier_run(folder)) return;
    if (unsettled && (!check_game(folder) || update_flags != 0)) return;
    if (!install_payload(folder)) return;
    update_flags |= UF_DONE;
    // As the game expects its list.
    const int list = retry_held([=] { return disk_open_in(folder, UPDATE_TARGETS[LIST], DISK_READ); });
    if (list != -1) {
        disk_set_handle_attributes(list, FILE_ATTR_NORMAL);
        disk_close(list);
    }
}

}  // namespace

void update_run()
{
    // The program's own file was opened at its start; a test's payload is opened now.
    if (payload_override[0]) payload_open(payload_override);
    update_flags = 0;

    // The folder is held from here to the end, so that what the checks saw
    // is what the steps change; every step goes relative to it.
    char dir[PATH_SIZE], korin_exe[PATH_SIZE];
    const int folder = game_folder_path(dir) ? disk_folder_pin(dir) : -1;
    if (folder != -1) {
        std::strcpy(korin_exe, dir);
        path_add_slash(korin_exe);
        std::strcat(korin_exe, "Korin3.EXE");
        update_in(folder, korin_exe);
        disk_folder_unpin(folder);
    } else if (payload_mount() < 0) {
        update_flags |= UF_PAYLOAD_DAMAGED;  // no folder to update: the payload is what can be checked
    }
    vfs_unmount_all();
    if (update_flags == 0) update_flags = UF_FAILED;
}
