// The commands that make or change archives: create, delete, rename,
// compact and attach. (add lives in add.cpp.)
#include <cstdio>
#include <cstring>

#include "platform/error.h"
#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/cli.h"
#include "tools/pak/codepage.h"
#include "tools/pak/edit_session.h"
#include "tools/pak/names.h"
#include "tools/common/output.h"
#include "tools/pak/pak.h"
#include "tools/pak/view.h"

int cmd_create(const PakArgs &args)
{
    const char *path = args.positional[0];
    if (std::strcmp(path, "-") == 0)
        return usage_error(CMD_CREATE, "an archive named '-' is almost always a mistake; write ./- to make one");
    int first = '#', last = '#';
    uint32_t user_value = 0;
    if (args.present[OPT_DRIVES] && cli_parse_drives(args.value[OPT_DRIVES], &first, &last) != 0)
        return usage_error(CMD_CREATE, "--drives takes one character, or two joined by '-' in order");
    if (args.present[OPT_USER_VALUE] && cli_parse_u32(args.value[OPT_USER_VALUE], &user_value) != 0)
        return usage_error(CMD_CREATE, "--user-value takes a number from 0 to 4294967295");
    if (vfs_is_appended_name(path))
        return out_fail(path,
                        "a name ending in .exe is read as a program with an attached archive; choose another name");
    if (disk_opens(path)) return out_fail(path, "already exists");
    // Written beside it and named when whole: no kill leaves a part of it.
    DiskReplacement r;
    if (disk_replacement_begin(&r, path, ".pak-new") != 0 ||
        pak_create_into(r.handle, first, last, user_value, args.present[OPT_PACKED_DIR] ? 1 : 0) != 0) {
        out_failure(path, "cannot create the archive");
        disk_replacement_abandon(&r);
        return PAK_EXIT_FAILED;
    }
    if (disk_replacement_commit_new(&r) != 0) return out_fail_reason(path, "cannot create the archive");
    return PAK_EXIT_OK;
}

int cmd_delete(const PakArgs &args)
{
    const int code_page = args.code_page;
    if (args.present[OPT_AT] && args.positional_count > 1) return usage_error(CMD_DELETE, "give NAMEs or --at N, not both");
    EditSession s;
    if (edit_begin(&s, args.positional[0]) != 0) return PAK_EXIT_FAILED;
    ScopeGuard abandon([&] { edit_abandon(&s); });
    if (args.present[OPT_AT]) {
        const int position = record_at(s.slot, s.path, args.value[OPT_AT]);
        if (position < 0 || vfs_delete_at(s.slot, position) != 0) return PAK_EXIT_FAILED;
    }
    for (int k = 1; k < args.positional_count; ++k) {
        char name[PATH_BUFFER_SIZE];
        if (typed_entry_name(args.positional[k], code_page, name, sizeof name) != 0) return PAK_EXIT_FAILED;
        if (find_newest_live(s.slot, name, NAME_TYPED) < 0)
            return out_fail(args.positional[k], "no such entry in %s%s; nothing deleted", s.path,
                            no_entry_hint(args.positional[k], code_page, s.path));
        // Every live entry of the name, the newest first.
        for (int position; (position = find_newest_live(s.slot, name, NAME_TYPED)) >= 0;) {
            if (vfs_delete_at(s.slot, position) != 0)
                return out_fail(args.positional[k], "cannot delete the entry: %s; nothing deleted", out_reason());
        }
    }
    abandon.dismiss();
    return edit_commit(&s) == 0 ? PAK_EXIT_OK : PAK_EXIT_FAILED;
}

int cmd_rename(const PakArgs &args)
{
    const int code_page = args.code_page;
    const bool at = args.present[OPT_AT];
    const char *typed_new = args.positional[at ? 1 : 2];
    char name[PATH_BUFFER_SIZE], new_name[PATH_BUFFER_SIZE];
    if ((!at && typed_entry_name(args.positional[1], code_page, name, sizeof name) != 0) ||
        typed_entry_name(typed_new, code_page, new_name, sizeof new_name) != 0)
        return PAK_EXIT_FAILED;
    EditSession s;
    if (edit_begin(&s, args.positional[0]) != 0) return PAK_EXIT_FAILED;
    ScopeGuard abandon([&] { edit_abandon(&s); });

    PakEntry entry{};
    const int position = at ? record_at(s.slot, s.path, args.value[OPT_AT])
                            : find_newest_live(s.slot, name, NAME_TYPED, VIEW_NEWEST, &entry);
    if (at && position < 0) return PAK_EXIT_FAILED;
    if (at) vfs_entry_at(s.slot, position, &entry);
    const char *stored = entry.name;
    if (position < 0)
        return out_fail(args.positional[1], "no such entry in %s%s", s.path,
                        no_entry_hint(args.positional[1], code_page, s.path));
    // The folder part stays: NEWNAME is a file name, or a full name in the
    // same folder (with or without the drive prefix).
    char old_dir[PAK_NAME_SIZE], new_dir[256], file[256];
    path_dir(old_dir, stored);
    if (std::strlen(new_name) >= sizeof file) return out_fail(typed_new, "the new name is too long");
    path_dir(new_dir, new_name);
    path_file(file, new_name);
    if (new_dir[0] && !entry_has_name(old_dir, new_dir))
        return out_fail(typed_new, "rename keeps the entry in its folder; give a file name");
    if (!file[0] || std::strpbrk(file, "*?")) return out_fail(typed_new, "not a file name (empty, or with '*' or '?')");
    char full[PAK_NAME_SIZE * 2 + 256];
    std::strcpy(full, old_dir);
    std::strcat(full, file);
    if (!stored_name_ok(full)) {
        char where[24] = "";
        if (code_page) std::snprintf(where, sizeof where, " in code page %d", code_page);
        out_error(typed_new, "the new name would be %d bytes%s with its folder; a stored name holds at most %d bytes",
                  static_cast<int>(std::strlen(full)), where, STORED_NAME_MAX);
        return PAK_EXIT_FAILED;
    }
    // Another live entry of the new name would make two.
    if (!names_equal(full, stored) && find_newest_live(s.slot, full, NAME_EXACT) >= 0)
        return out_fail(typed_new, "an entry of that name exists in %s", s.path);
    if (vfs_rename_at(s.slot, position, full) != 0)
        return out_fail(at ? args.value[OPT_AT] : args.positional[1], "cannot rename the entry: %s", out_reason());
    abandon.dismiss();
    return edit_commit(&s) == 0 ? PAK_EXIT_OK : PAK_EXIT_FAILED;
}

int cmd_compact(const PakArgs &args)
{
    const char *path = args.positional[0];
    if (vfs_is_appended_name(path))
        return out_fail(path, "an archive attached to a program cannot be rebuilt; compact the stand-alone archive and "
                              "attach it again");
    ArchiveView view;
    if (view_open(&view, path) != 0) return PAK_EXIT_FAILED;
    const int live = view_live_count(&view);
    const int64_t before = view.file_size;
    view_close(&view);

    char backup[PAK_BACKUP_NAME_SIZE];
    if (pak_backup_name(path, backup) != 0) {
        if (err_last() == ERR_BAD_NAME) out_error(path, "%s; rename it first", err_detail());
        else out_error(path, "cannot rebuild the archive: %s; it is unchanged", out_reason());
        return PAK_EXIT_FAILED;
    }
    // An earlier backup may be the only copy of something: replaced only when asked.
    if (!args.present[OPT_FORCE] && (disk_path_kind(backup, nullptr) != -1 || err_last() != ERR_NOT_FOUND))
        return out_fail(path, "its backup %s exists; remove it, or give --force to replace it; the archive is unchanged",
                        backup);
    // A read-only archive is rebuilt read-only; one held elsewhere is refused (pak_compact).
    if (pak_compact(path) != 0) return out_fail(path, "cannot rebuild the archive: %s; it is unchanged", out_reason());
    out_printf(CONSOLE_OUT, "%s: %d %s, %lld -> %lld bytes; the previous archive is %s\n", path, live,
               live == 1 ? "entry" : "entries",
               static_cast<long long>(before), static_cast<long long>(disk_file_size(path)), backup);
    return PAK_EXIT_OK;
}

int cmd_attach(const PakArgs &args)
{
    const char *target = args.positional[0];
    const char *archive = args.positional[1];
    ArchiveView view;
    if (view_open(&view, archive) != 0) return PAK_EXIT_FAILED;
    const bool appended = view.appended;
    view_close(&view);
    if (appended) return out_fail(archive, "is attached to a program itself; attach a stand-alone archive");

    const int64_t t = disk_file_size(target);
    int file = t < 0 ? -1 : disk_open(target, DISK_READ);
    if (file == -1) return out_fail_reason(target, "cannot open");
    int64_t table = 0, table_size = 0, base = 0, end = 0;
    const bool pe = pe_certificate_table(read_file_at, &file, &table, &table_size) == 0;
    const bool signed_pe = pe && (table || table_size);
    const bool has_archive = appended_locate(read_file_at, &file, t, &base, &end) == 0;
    disk_close(file);
    // Appending to any other file would only damage it.
    if (!pe && !args.present[OPT_FORCE])
        return out_fail(target,
                        "is not a PE program (no MZ and PE headers); it is unchanged (--force attaches all the same)");
    if (signed_pe) return out_fail(target, "is already signed; attach the archive first and sign last");
    if (has_archive) return out_fail(target, "already carries an archive; attach to the program as it was linked");
    if (pak_attach(target, archive) != 0)
        return out_fail(target, "cannot append the archive: %s; the file is unchanged", out_reason());
    if (!vfs_is_appended_name(target))
        out_error(target, "note: only a file whose name ends in .exe mounts its attached archive");
    return PAK_EXIT_OK;
}
