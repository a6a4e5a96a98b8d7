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
    if (disk_write(j->handle, text, length) != length) return -1;
    return disk_flush(j->handle);
}

// One record: its fields' checksum, the fields, the line end.
int record(Journal *j, const char *fields)
{
    char line[3 * JOURNAL_NAME_SIZE];
    const int n = std::snprintf(line, sizeof line, "%08x %s\r\n",
                                static_cast<unsigned>(block_checksum(0, fields, static_cast<int>(std::strlen(fields)))),
                                fields);
    if (n <= 0 || n >= static_cast<int>(sizeof line)) return -1;
    return append(j, line, n);
}

// Picks a free sibling of file i's target for kind ("NEW" or "OLD"), records
// it, and makes the file with make. A name that turns out to be taken after
// all is recorded as such and the next one tried.
template <typename Make>
int name_and_make(Journal *j, int i, const char *ext, char *name, const char *kind, Make make)
{
    JournalFile &f = j->files[i];
    char target[REPLACE_PATH_SIZE], path[REPLACE_PATH_SIZE], fields[2 * JOURNAL_NAME_SIZE];
    journal_path(j, f.target, target);
    for (int n = 0; n < SIBLING_TRIES; ++n) {
        if (sibling_name(path, target, ext, n) != 0) return -1;
        if (!name_is_free(path)) continue;
        std::snprintf(name, JOURNAL_NAME_SIZE, "%s", path + std::strlen(j->dir));
        std::snprintf(fields, sizeof fields, "%s\t%d\t%s", kind, i, name);
        if (record(j, fields) != 0) return -1;
        if (make(path) == 0) return 0;
        const bool taken = err_last() == ERR_EXISTS;
        std::snprintf(fields, sizeof fields, "taken\t%d\t%s", i, kind);
        if (record(j, fields) != 0) return -1;
        name[0] = 0;
        if (!taken) return -1;
    }
    return -1;
}

}  // namespace

void journal_path(const Journal *j, const char *name, char *dest)
{
    std::snprintf(dest, REPLACE_PATH_SIZE, "%s%s", j->dir, name);
}

int journal_begin(Journal *j, const char *dir, const char *const *targets, const bool *optional, int count)
{
    std::memset(j, 0, sizeof *j);
    j->handle = -1;
    const size_t dir_length = std::strlen(dir);
    if (count > JOURNAL_FILES || dir_length + JOURNAL_NAME_SIZE >= sizeof j->dir) return -1;
    std::memcpy(j->dir, dir, dir_length + 1);
    j->file_count = count;
    for (int i = 0; i < count; ++i) {
        JournalFile &f = j->files[i];
        if (std::strlen(targets[i]) + 1 > sizeof f.target) return -1;
        std::strcpy(f.target, targets[i]);
        f.optional = optional[i];
        char path[REPLACE_PATH_SIZE];
        journal_path(j, f.target, path);
        const int state = file_content(path, &f.old_content);
        if (state < 0) return -1;
        f.had_old = state == 1;
    }

    char path[REPLACE_PATH_SIZE];
    journal_path(j, JOURNAL_NAME, path);
    j->handle = retry_create_new(path);
    if (j->handle == -1) return -1;
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
    if (written) return 0;
    disk_close(j->handle);
    j->handle = -1;
    retry_force_delete(path);
    return -1;
}

int journal_stage(Journal *j, int i)
{
    return name_and_make(j, i, "NEW", j->files[i].staged, "staged", [](const char *path) {
        const int h = retry_create_new(path);
        return h == -1 ? -1 : disk_close(h);
    });
}

int journal_keep_aside(Journal *j, int i)
{
    char target[REPLACE_PATH_SIZE];
    journal_path(j, j->files[i].target, target);
    return name_and_make(j, i, "OLD", j->files[i].aside, "aside",
                         [&](const char *path) { return keep_aside(target, path); });
}

int journal_ready(Journal *j, int i)
{
    JournalFile &f = j->files[i];
    char path[REPLACE_PATH_SIZE], fields[2 * JOURNAL_NAME_SIZE];
    journal_path(j, f.staged, path);
    if (file_content(path, &f.new_content) != 1) return -1;
    std::snprintf(fields, sizeof fields, "ready\t%d\t%u\t%08x", i, static_cast<unsigned>(f.new_content.size),
                  static_cast<unsigned>(f.new_content.crc));
    if (record(j, fields) != 0) return -1;
    f.ready = true;
    return 0;
}
