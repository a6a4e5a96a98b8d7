// Settling an update journal: the folder is brought to the new state when
// every new file is complete, or back to the old one, judged by what the
// files hold (size and CRC-32), never by how far the run got. Each step can
// be repeated, so a stop while settling is settled by the next run.
#include <cstring>
#include <initializer_list>

#include "driver/journal.h"
#include "driver/retry.h"
#include "platform/platform.h"

namespace {

struct FileState {
    int target, staged, aside;  // 1 present, 0 missing (file_content)
    bool target_old, target_new, staged_new, aside_old;

    bool can_finish() const { return target_new || staged_new; }
    bool can_undo(const JournalFile &f) const
    {
        return target_old || aside_old || (!f.had_old && (target == 0 || target_new));
    }
};

bool same(const Content &a, const Content &b) { return a.size == b.size && a.crc == b.crc; }

// What file f's three names hold; false when one cannot be read now.
bool assess(const Journal *j, const JournalFile &f, FileState *s)
{
    Content c;
    *s = FileState{};
    s->target = file_content(j->folder, f.target, &c);
    if (s->target < 0) return false;
    s->target_old = s->target == 1 && f.had_old && same(c, f.old_content);
    s->target_new = s->target == 1 && f.ready && same(c, f.new_content);
    if (f.staged[0]) {
        s->staged = file_content(j->folder, f.staged, &c);
        if (s->staged < 0) return false;
        s->staged_new = s->staged == 1 && f.ready && same(c, f.new_content);
    }
    if (f.aside[0]) {
        s->aside = file_content(j->folder, f.aside, &c);
        if (s->aside < 0) return false;
        s->aside_old = s->aside == 1 && f.had_old && same(c, f.old_content);
    }
    return true;
}

bool finish(const Journal *j, const FileState *s)
{
    for (int i = 0; i < j->file_count; ++i) {
        const JournalFile &f = j->files[i];
        if (s[i].target_new || !s[i].staged_new) continue;
        // The list is only replaced while it is the one the update read.
        if (f.optional && !(s[i].target_old || (!f.had_old && s[i].target == 0))) continue;
        if (replace_in_one_step(j->folder, f.staged, f.target) != 0 && !f.optional) return false;
    }
    return true;
}

bool undo(const Journal *j, const FileState *s)
{
    for (int i = j->file_count - 1; i >= 0; --i) {
        const JournalFile &f = j->files[i];
        if (s[i].target_old) continue;
        bool undone = false;
        if (s[i].aside_old) {
            // A rename or nothing: copying into the target by name would write
            // wherever a link planted there leads. The journal stays for the
            // next run when the rename cannot happen now.
            undone = replace_in_one_step(j->folder, f.aside, f.target) == 0;
        } else if (!f.had_old && s[i].target_new) {
            undone = delete_own_file(j->folder, f.target) == 0;  // the update's own file
        } else {
            undone = !f.had_old && s[i].target == 0;
        }
        if (!undone && !f.optional) return false;
    }
    return true;
}

// Removes the scratch files the journal names, then the journal.
// Only files this program made go: a name the journal records that now holds
// somebody else's file is left to its owner.
bool clean_up(const Journal *j)
{
    bool clean = true;
    for (int i = 0; i < j->file_count; ++i) {
        for (const char *name : {j->files[i].staged, j->files[i].aside}) {
            if (name[0] && !name_is_free(j->folder, name) && delete_own_file(j->folder, name) < 0) clean = false;
        }
    }
    return clean && delete_own_file(j->folder, j->name) == 0;
}

}  // namespace

SettleResult journal_settle(Journal *j, SettleWay way, bool *finished)
{
    *finished = false;
    if (j->handle != -1) {
        disk_close(j->handle);
        j->handle = -1;
    }
    FileState s[JOURNAL_FILES];
    // A journal stopped before all its files were named has none ready.
    bool finish_open = true, undo_open = true;
    for (int i = 0; i < j->file_count; ++i) {
        if (!assess(j, j->files[i], &s[i])) return SETTLE_LATER;
        if (j->files[i].optional) continue;
        finish_open = finish_open && s[i].can_finish();
        undo_open = undo_open && s[i].can_undo(j->files[i]);
    }
    const bool forward = way == SETTLE_EITHER ? finish_open : !undo_open && finish_open;
    if (!forward && !undo_open) return SETTLE_DAMAGED;
    if (!(forward ? finish(j, s) : undo(j, s))) return SETTLE_LATER;
    *finished = forward;
    return clean_up(j) ? SETTLED : SETTLE_LATER;
}
