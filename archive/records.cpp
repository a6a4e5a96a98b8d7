// Read access to a mounted archive by record position, for tools that show
// or check every record (free ones included) rather than look names up.
#include <cstring>

#include "archive/internal.h"
#include "platform/platform.h"

namespace {

const char NO_SLOT[] = "no archive is mounted in that slot";
const char NO_RECORD[] = "no record at that position";

}  // namespace

int vfs_mount_facts(int slot, PakMountFacts *out)
{
    const ArchiveSlot *s = slot_live(slot, 0);
    if (!s) return fail(ERR_FAILED, -1, NO_SLOT);
    out->base_offset = s->base_offset;
    out->dir_offset = s->dir_offset - s->base_offset;
    out->entry_count = s->entry_count;
    out->packed_dir_size = s->packed_dir_size;
    out->first_drive = s->first_drive;
    out->last_drive = s->last_drive;
    return 0;
}

int vfs_entry_at(int slot, int position, PakEntry *out)
{
    const ArchiveSlot *s = slot_live(slot, 0);
    if (!s) return fail(ERR_FAILED, -1, NO_SLOT);
    if (position < 0 || position >= s->entry_count) return fail(ERR_NOT_FOUND, -1, NO_RECORD);
    *out = s->directory[position];
    return 0;
}

int vfs_find_live(int slot, const char *name, int before, SameName same)
{
    const ArchiveSlot *s = slot_live(slot, 0);
    if (!s) return fail(ERR_FAILED, -1, NO_SLOT);
    // Names are terminated from the mount on.
    for (int i = (before < s->entry_count ? before : s->entry_count) - 1; i >= 0; --i) {
        const PakEntry &e = s->directory[i];
        if (e.data_offset != 0 && (same ? same(e.name, name) : path_same_name(e.name, name))) return i;
    }
    return fail(ERR_NOT_FOUND, -1, "no live entry of that name");
}

int vfs_open_at(int slot, int position)
{
    const ArchiveSlot *s = slot_live(slot, 0);
    if (!s) return fail(ERR_FAILED, -1, NO_SLOT);
    if (position < 0 || position >= s->entry_count) return fail(ERR_NOT_FOUND, -1, NO_RECORD);
    const PakEntry &e = s->directory[position];
    if (e.data_offset == 0) return fail(ERR_NOT_FOUND, -1, "the record is free");
    const int record = handle_alloc();
    if (record < 0 || handle_place(record, slot, position) != 0) return passed(-1);
    ++g_handles.open_count;
    return VFS_HANDLE_BASE + record;
}

int vfs_name_match(const char *pattern, const char *name)
{
    // wild_match reads up to 40 bytes of a name field; give it a whole one.
    char field[PAK_NAME_SIZE] = {};
    std::strncpy(field, name, PAK_NAME_SIZE - 1);
    return wild_match(pattern, field, PAK_NAME_SIZE);
}
