// pak extract: entries to files under a folder, never outside it. An
// existing file is replaced (whole, or not at all), unless --keep.
#include <cstring>

#include "platform/error.h"
#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/codepage.h"
#include "tools/pak/names.h"
#include "tools/pak/output.h"
#include "tools/pak/pak.h"
#include "tools/pak/view.h"

namespace {

void report(const ArchiveView &view, const char *name, const char *reason)
{
    out_printf(CONSOLE_ERR, "pak: %s: ", view.path);
    out_name(CONSOLE_ERR, name);
    out_printf(CONSOLE_ERR, ": %s\n", reason);
}

// Writes the whole buffer to the file at path. A new file that cannot be
// written in full is removed again; an existing one is replaced through a
// new file beside it, with its mode, only once that is whole, so that a
// failed write leaves it as it was.
int write_file(const char *path, const char *data, int length)
{
    char temp[PATH_BUFFER_SIZE * 2];
    const int probe = disk_open(path, DISK_READ);
    const bool replacing = probe != -1;
    if (replacing) disk_close(probe);
    const int file = replacing ? disk_create_temp(temp, static_cast<int>(sizeof temp), path, ".pak-new")
                               : disk_create(path, DISK_ATTR_NORMAL);
    if (file == -1) return -1;
    const char *written = replacing ? temp : path;
    int done = 0;
    while (done < length) {
        const int n = disk_write(file, data + done, length - done);
        if (n <= 0) break;
        done += n;
    }
    if (disk_close(file) != 0 || done != length ||
        (replacing && (disk_copy_mode(path, temp) != 0 || disk_replace(temp, path) != 0))) {
        const ErrReason why = err_last();
        disk_delete(written);
        if (replacing) disk_temp_forget(temp);
        return fail(why, -1);
    }
    if (replacing) disk_temp_forget(temp);
    return 0;
}

bool exists(const char *path)
{
    const int probe = disk_open(path, DISK_READ);
    if (probe == -1) return err_last() == ERR_IS_FOLDER;
    disk_close(probe);
    return true;
}

// Creates the folders on the way to the file at path, from the part after
// `root` characters on.
void make_parents(char *path, size_t root)
{
    for (size_t i = root + 1; path[i]; ++i) {
        if (path[i] != HOST_SEPARATOR) continue;
        path[i] = 0;
        disk_mkdir(path);  // an existing folder is no obstacle
        path[i] = HOST_SEPARATOR;
    }
}

// The stored bytes of the record, unpacked unless raw. Result 0, or -1 with
// the reason.
int entry_content(const ArchiveView &view, int position, bool raw, char **data, int *length, const char **reason)
{
    if (view_read_entry(&view, position, data, length, reason) != 0) return -1;
    if (raw || !block_looks_stored(*data, *length)) return 0;
    char *plain = nullptr;
    int plain_length = 0;
    const int r = unpack_entry(*data, *length, &plain, &plain_length, reason);
    mem_free(*data);
    *data = plain;
    *length = plain_length;
    return r;
}

// Creates the folder path names and every folder on the way to it. An
// existing folder is no obstacle; a file of the name is.
int make_folder(const char *path)
{
    const size_t n = std::strlen(path);
    char *part = static_cast<char *>(mem_alloc(n + 1));
    if (!part) return fail(ERR_NO_MEMORY, -1);
    ScopeGuard release([&] { mem_free(part); });
    std::memcpy(part, path, n + 1);
    // Parts before the last, each ended at a separator (a drive's "C:\"
    // included, whose mkdir merely fails).
    for (char *p = part + 1; *p; p += path_char_len(p)) {
        if (*p != '/' && !(HOST_SEPARATOR == '\\' && *p == '\\' && path_char_len(p) == 1)) continue;
        const char c = *p;
        *p = 0;
        disk_mkdir(part);
        *p = c;
    }
    if (disk_mkdir(path) == 0) return 0;
    const ErrReason why = err_last();
    const char *detail = err_detail();
    const int probe = disk_open(path, DISK_READ);
    if (probe != -1) {
        disk_close(probe);
        return fail(ERR_EXISTS, -1, "a file, not a folder");
    }
    if (err_last() == ERR_IS_FOLDER) return 0;
    return fail(why, -1, detail);
}

}  // namespace

int cmd_extract(const PakArgs &args)
{
    ArchiveView view;
    if (view_open(&view, args.positional[0], args.present[OPT_APPENDED]) != 0) return PAK_EXIT_FAILED;
    ScopeGuard close([&] { view_close(&view); });
    const char *dir = args.present[OPT_DIR] ? args.value[OPT_DIR] : ".";
    const int pattern_count = args.positional_count - 1;
    const bool raw = args.present[OPT_RAW];
    int code_page = 0;
    if (const int status = code_page_of(args, &code_page); status != PAK_EXIT_OK) return status;
    // Patterns in stored form, each in a block of its own.
    char **patterns = static_cast<char **>(mem_alloc(sizeof(char *) * (static_cast<size_t>(pattern_count) + 1)));
    if (patterns) std::memset(patterns, 0, sizeof(char *) * (static_cast<size_t>(pattern_count) + 1));
    ScopeGuard free_patterns([&] {
        for (int p = 0; patterns && p < pattern_count; ++p) mem_free(patterns[p]);
        mem_free(patterns);
    });
    for (int p = 0; patterns && p < pattern_count; ++p) {
        if (!(patterns[p] = static_cast<char *>(mem_alloc(PATH_BUFFER_SIZE)))) break;
        if (typed_name(args.positional[1 + p], code_page, patterns[p], PATH_BUFFER_SIZE) != 0) return PAK_EXIT_FAILED;
    }
    if (!patterns || (pattern_count && !patterns[pattern_count - 1])) {
        out_error("extract", "not enough memory");
        return PAK_EXIT_FAILED;
    }

    // -C names a folder that need not exist yet.
    if (make_folder(dir) != 0) {
        out_failure(dir, "cannot create the folder");
        return PAK_EXIT_FAILED;
    }
    const size_t root = std::strlen(dir);
    // A stored character takes up to 3 bytes of UTF-8.
    const size_t room = root + 2 + PAK_NAME_SIZE * 4;
    char *path = static_cast<char *>(mem_alloc(room));
    bool *pattern_used = static_cast<bool *>(mem_alloc(static_cast<size_t>(pattern_count) + 1));
    ScopeGuard release([&] {
        mem_free(path);
        mem_free(pattern_used);
    });
    if (!path || !pattern_used) {
        out_error("extract", "not enough memory");
        return PAK_EXIT_FAILED;
    }
    std::memset(pattern_used, 0, static_cast<size_t>(pattern_count) + 1);
    std::memcpy(path, dir, root);
    path[root] = HOST_SEPARATOR;

    const int total = view.facts.entry_count;
    bool failed = false;
    for (int i = 0; i < total; ++i) {
        progress_update("extract", i + 1, total);
        const PakEntry e = view_entry(&view, i);
        if (e.data_offset == 0) continue;
        bool wanted = pattern_count == 0;
        for (int p = 0; p < pattern_count; ++p) {
            if (entry_matches(patterns[p], e.name)) {
                wanted = true;
                pattern_used[p] = true;
            }
        }
        if (!wanted) continue;

        char *target = path + root + 1;
        const ExtractName verdict =
            extract_name_check(e.name, PAK_NAME_SIZE, HOST_SEPARATOR, target, static_cast<int>(room - root - 1));
        if (verdict != XN_OK) {
            report(view, e.name, extract_name_reason(verdict));
            failed = true;
            continue;
        }
        // The checked path, in UTF-8: the conversion keeps every separator
        // and makes none, as neither code page has a '/' or '\' byte in a
        // character that UTF-8 would write as one.
        if (code_page) {
            char checked[PAK_NAME_SIZE * 2];
            std::strcpy(checked, target);
            if (text_to_utf8(code_page, checked, target, static_cast<int>(room - root - 1)) < 0) {
                report(view, e.name, "the name has no UTF-8 form in this code page");
                failed = true;
                continue;
            }
        }
        if (args.present[OPT_KEEP] && exists(path)) {
            if (args.present[OPT_VERBOSE]) out_printf(CONSOLE_OUT, "%s (kept)\n", path);
            continue;
        }
        char *data = nullptr;
        int length = 0;
        const char *reason = nullptr;
        if (entry_content(view, i, raw, &data, &length, &reason) != 0) {
            report(view, e.name, reason);
            failed = true;
            continue;
        }
        make_parents(path, root);
        const int written = write_file(path, data, length);
        mem_free(data);
        if (written != 0) {
            out_failure(path, "cannot write the file");
            failed = true;
        } else if (args.present[OPT_VERBOSE]) {
            out_printf(CONSOLE_OUT, "%s\n", path);
        }
    }
    progress_end();
    for (int p = 0; p < pattern_count; ++p) {
        if (!pattern_used[p]) {
            out_error(args.positional[1 + p], "no entry matches in %s", view.path);
            failed = true;
        }
    }
    return failed ? PAK_EXIT_FAILED : PAK_EXIT_OK;
}
