// Reading an update journal left by a run that did not finish. Anything that
// is not exactly what a run writes counts as damaged, so that a journal can
// never make the recovery touch a file outside the update's own names.
#include <cstring>

#include "archive/archive.h"
#include "driver/journal.h"
#include "driver/retry.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/scope_guard.h"

namespace {

constexpr char HEADER[] = "KORIN3 UPDATE JOURNAL 1\r\n";
constexpr int MAX_FIELDS = 6;

// A field of at most 10 characters.
bool parse_u32(const char *text, int base, uint32_t *out)
{
    return std::strlen(text) <= 10 && text_to_u32(text, base, out) == 0;
}

// A name this update could have chosen for file f: one of its siblings.
bool is_sibling(const JournalFile &f, const char *ext, const char *name)
{
    char sibling[REPLACE_PATH_SIZE];
    for (int n = 0; n < SIBLING_TRIES; ++n)
        if (sibling_name(sibling, f.target, ext, n) == 0 && std::strcmp(sibling, name) == 0) return true;
    return false;
}

// Applies one record's fields to j; false when they are not a record.
bool apply(Journal *j, char **field, int count)
{
    uint32_t index;
    if (count < 3 || !parse_u32(field[1], 10, &index)) return false;
    const int i = static_cast<int>(index);
    if (std::strcmp(field[0], "file") == 0) {
        if (count != 6 || i != j->file_count || i >= JOURNAL_FILES) return false;
        JournalFile &f = j->files[i];
        if (std::strcmp(field[2], UPDATE_TARGETS[i]) != 0) return false;
        std::strcpy(f.target, field[2]);
        if (std::strcmp(field[3], "0") != 0 && std::strcmp(field[3], "1") != 0) return false;
        f.optional = field[3][0] == '1';
        f.had_old = std::strcmp(field[4], "-") != 0;
        if (f.had_old ? !parse_u32(field[4], 10, &f.old_content.size) || !parse_u32(field[5], 16, &f.old_content.crc)
                      : std::strcmp(field[5], "-") != 0)
            return false;
        ++j->file_count;
        return true;
    }
    if (i >= j->file_count) return false;
    JournalFile &f = j->files[i];
    if (std::strcmp(field[0], "staged") == 0 || std::strcmp(field[0], "aside") == 0) {
        const bool staged = field[0][0] == 's';
        if (count != 3 || std::strlen(field[2]) >= JOURNAL_NAME_SIZE ||
            !is_sibling(f, staged ? "NEW" : "OLD", field[2]))
            return false;
        std::strcpy(staged ? f.staged : f.aside, field[2]);
        if (staged) f.ready = false;
        return true;
    }
    if (std::strcmp(field[0], "ready") == 0) {
        if (count != 4 || !f.staged[0]) return false;
        f.ready = parse_u32(field[2], 10, &f.new_content.size) && parse_u32(field[3], 16, &f.new_content.crc);
        return f.ready;
    }
    if (std::strcmp(field[0], "taken") == 0) {
        if (count != 3) return false;
        if (std::strcmp(field[2], "staged") == 0) {
            f.staged[0] = 0;
            f.ready = false;
        } else if (std::strcmp(field[2], "aside") == 0) {
            f.aside[0] = 0;
        } else {
            return false;
        }
        return true;
    }
    return false;
}

// One line "<crc> <fields>" without its line end; false when it is not one.
bool parse_line(Journal *j, char *line)
{
    const size_t n = std::strlen(line);
    uint32_t crc;
    if (n < 10 || line[8] != ' ') return false;
    line[8] = 0;
    if (!parse_u32(line, 16, &crc) || std::strlen(line) != 8) return false;
    char *fields = line + 9;
    if (block_checksum(0, fields, static_cast<int>(std::strlen(fields))) != crc) return false;
    char *field[MAX_FIELDS] = {};
    int count = 0;
    for (char *p = fields;;) {
        if (count == MAX_FIELDS) return false;
        field[count++] = p;
        char *tab = std::strchr(p, '\t');
        if (!tab) break;
        *tab = 0;
        p = tab + 1;
    }
    return apply(j, field, count);
}

}  // namespace

namespace {

enum Found { NONE, OURS, NOT_OURS, LATER };

// What stands at the journal's name: read into text when it is a journal this
// program wrote (or the start of one).
Found read_journal_file(int folder, const char *name, char *text, uint32_t *size, bool *damaged)
{
    const int h = retry_held([=] { return disk_open_in(folder, name, DISK_READ); });
    if (h == -1) {
        if (err_last() == ERR_NOT_FOUND) return NONE;
        // A link or a folder at the name is nobody's journal.
        return err_last() == ERR_LINK || err_last() == ERR_IS_FOLDER ? NOT_OURS : LATER;
    }
    ScopeGuard close([&] { disk_close(h); });
    const int mine = disk_made_by_us(h);
    if (mine < 0) return LATER;
    if (mine == 0) return NOT_OURS;
    *size = disk_size(h);
    if (*size == DISK_FAILED) return LATER;
    const size_t header = sizeof HEADER - 1;
    const int head = static_cast<int>(*size < header ? *size : header);
    if (disk_read_at(h, 0, text, head) != 0) return LATER;
    // The player's notes are no journal, whoever wrote them: only a file that
    // begins as a journal begins is one. An empty file of ours is one stopped
    // before its first line.
    if (std::memcmp(text, HEADER, static_cast<size_t>(head)) != 0) return NOT_OURS;
    if (*size > JOURNAL_SIZE_LIMIT) {
        *damaged = true;
        return OURS;
    }
    const int rest = static_cast<int>(*size) - head;
    if (disk_read_at(h, head, text + head, rest) != 0) return LATER;
    text[*size] = 0;
    return OURS;
}

}  // namespace

int journal_read(Journal *j, int folder, bool *damaged)
{
    *damaged = false;
    std::memset(j, 0, sizeof *j);
    j->handle = -1;
    j->folder = folder;

    char text[JOURNAL_SIZE_LIMIT + 1];
    uint32_t size = 0;
    Found found = NONE;
    for (int n = 0; found != OURS; ++n) {
        if (journal_name(j->name, n) != 0) return 0;
        found = read_journal_file(folder, j->name, text, &size, damaged);
        if (found == LATER) return passed(-1);
    }
    if (*damaged) return fail(ERR_DAMAGED, -1, "the journal is damaged");

    const size_t header = sizeof HEADER - 1;
    if (size < header) {
        // Stopped while beginning it: nothing was changed yet.
        return delete_own_file(folder, j->name) == 0 ? 0 : passed(-1);
    }
    // A record torn by the stop is the last piece of the text; it is ignored.
    // Anything wrong before the last line end is damage.
    for (char *line = text + header; line < text + size;) {
        char *end = std::strstr(line, "\r\n");
        if (!end) break;
        *end = 0;
        if (!parse_line(j, line)) {
            *damaged = true;
            return fail(ERR_DAMAGED, -1, "the journal is damaged");
        }
        line = end + 2;
    }
    return 1;
}
