// Writing the update journal: every record is flushed before the step it
// announces is taken.
#include <cstdio>
#include <cstring>

#include "archive/archive.h"
#include "driver/journal.h"
#include "driver/retry.h"
#include "platform/error.h"
#include "platform/platform.h"

namespace {

constexpr char HEADER[] = "KORIN3 UPDATE JOURNAL 1\r\n";

int append(Journal *j, const char *text, int length)
{
    if (disk_write(j->handle, text, length) != length) return passed(-1);
    return disk_flush(j->handle);
}

// One record: its fields' checksum, the fields, the line end.
int record(Journal *j, const char *fields)
{
    char line[3 * JOURNAL_NAME_SIZE];
    const int n = std::snprintf(line, sizeof line, "%08x %s\r\n",
                                static_cast<unsigned>(block_checksum(0, fields, static_cast<int>(std::strlen(fields)))),
                                fields);
    if (n <= 0 || n >= static_cast<int>(sizeof line)) return fail(ERR_TOO_LARGE, -1, "a journal line is too long");
    return append(j, line, n);
}

// Picks a free sibling of file i's target for kind ("NEW" or "OLD"), records
// it, and makes the file with make (a handle, or -1). A name that turns out
// to be taken after all is recorded as such and the next one tried.
template <typename Make>
int name_and_make(Journal *j, int i, const char *ext, char *name, const char *kind, Make make)
{
    JournalFile &f = j->files[i];
    char sibling[REPLACE_PATH_SIZE], fields[2 * JOURNAL_NAME_SIZE];
    for (int n = 0; n < SIBLING_TRIES; ++n) {
        if (sibling_name(sibling, f.target, ext, n) != 0) return passed(-1);
        if (std::strlen(sibling) >= JOURNAL_NAME_SIZE) return fail(ERR_NAME_TOO_LONG, -1);
        if (!name_is_free(j->folder, sibling)) continue;
        std::strcpy(name, sibling);
        std::snprintf(fields, sizeof fields, "%s\t%d\t%s", kind, i, name);
        if (record(j, fields) != 0) return passed(-1);
        const int made = make(name);
        if (made != -1) return made;
        const bool taken = err_last() == ERR_EXISTS;
        std::snprintf(fields, sizeof fields, "taken\t%d\t%s", i, kind);
        if (record(j, fields) != 0) return passed(-1);
        name[0] = 0;
        if (!taken) return passed(-1);
    }
    return fail(ERR_EXISTS, -1, "every sibling name is taken");
}

}  // namespace

int journal_name(char *dest, int n)
{
    if (n >= SIBLING_TRIES) return fail(ERR_EXISTS, -1, "every journal name is taken");
    if (n > 0) return sibling_name(dest, JOURNAL_NAME, "JNL", n);
    std::strcpy(dest, JOURNAL_NAME);
    return 0;
}

int journal_begin(Journal *j, int folder, const char *const *targets, const bool *optional, int count)
{
    std::memset(j, 0, sizeof *j);
    j->handle = -1;
    j->folder = folder;
    if (count > JOURNAL_FILES) return fail(ERR_TOO_MANY, -1, "too many files for one journal");
    j->file_count = count;
    for (int i = 0; i < count; ++i) {
        JournalFile &f = j->files[i];
        if (std::strlen(targets[i]) + 1 > sizeof f.target) return fail(ERR_NAME_TOO_LONG, -1);
        std::strcpy(f.target, targets[i]);
        f.optional = optional[i];
        const int state = file_content(folder, f.target, &f.old_content);
        if (state < 0) return passed(-1);
        f.had_old = state == 1;
    }

    // Somebody's file under the journal's name is left as it is.
    for (int n = 0; j->handle == -1; ++n) {
        if (journal_name(j->name, n) != 0) return passed(-1);
        if (!name_is_free(folder, j->name)) continue;
        j->handle = retry_held([=] { return disk_create_in(folder, j->name); });
        if (j->handle == -1 && err_last() != ERR_EXISTS) return passed(-1);
    }
    bool written = append(j, HEADER, sizeof HEADER - 1) == 0;
    for (int i = 0; written && i < count; ++i) {
        const JournalFile &f = j->files[i];
        char fields[2 * JOURNAL_NAME_SIZE];
        if (f.had_old)
            std::snprintf(fields, sizeof fields, "file\t%d\t%s\t%d\t%u\t%08x", i, f.target, f.optional ? 1 : 0,
                          static_cast<unsigned>(f.old_content.size), static_cast<unsigned>(f.old_content.crc));
        else
            std::snprintf(fields, sizeof fields, "file\t%d\t%s\t%d\t-\t-", i, f.target, f.optional ? 1 : 0);
        written = record(j, fields) == 0;
    }
    // The journal's name must outlast a power cut before any file it names
    // is made, or those files would be left with nothing to name them.
    if (written && disk_flush_name_in(folder, j->handle) == 0) return 0;
    retry_held([=] { return disk_delete_in(folder, j->handle, j->name); });
    disk_close(j->handle);
    j->handle = -1;
    return passed(-1);
}

int journal_stage(Journal *j, int i)
{
    const int folder = j->folder;
    return name_and_make(j, i, "NEW", j->files[i].staged, "staged",
                         [=](const char *name) { return retry_held([=] { return disk_create_in(folder, name); }); });
}

int journal_keep_aside(Journal *j, int i)
{
    const int folder = j->folder;
    const char *target = j->files[i].target;
    return name_and_make(j, i, "OLD", j->files[i].aside, "aside",
                         [=](const char *name) { return keep_aside(folder, target, name); }) == -1
               ? -1
               : 0;
}

int journal_ready(Journal *j, int i, int handle)
{
    JournalFile &f = j->files[i];
    char fields[2 * JOURNAL_NAME_SIZE];
    const int read = handle_content(handle, &f.new_content);
    // Ready means the file outlasts a power cut under its name too: once a
    // target is replaced, the next run can only go forward.
    const int named = read == 1 ? disk_flush_name_in(j->folder, handle) : passed(-1);
    if (disk_close(handle) != 0 || named != 0) return passed(-1);
    std::snprintf(fields, sizeof fields, "ready\t%d\t%u\t%08x", i, static_cast<unsigned>(f.new_content.size),
                  static_cast<unsigned>(f.new_content.crc));
    if (record(j, fields) != 0) return passed(-1);
    f.ready = true;
    return 0;
}
