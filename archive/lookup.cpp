// Names: routing by drive character, the drive prefix, and finding entries
// by binary search over a slot's sorted index or by a wildcard scan from the
// end of its directory.
#include <algorithm>

#include "archive/internal.h"
#include "platform/platform.h"

LookupState g_lookup = {false, 0, {-1, 0, 0, 0}, {}, 0, 0};

namespace {

int upper(int c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

struct IndexSearch {
    const char *key;
    const ArchiveSlot *slot;
};

int compare_indexed(const void *key, int i, void *context)
{
    const auto *search = static_cast<const IndexSearch *>(context);
    return name_order(static_cast<const char *>(key), search->slot->directory[search->slot->sorted_index[i]].name);
}

}  // namespace

int slot_for_name(const char *name)
{
    if (!name) return -1;
    const int c = static_cast<uint8_t>(name[0]);
    for (int i = g_mount.mount_count - 1; i >= 0; --i) {
        const ArchiveSlot &s = g_mount.slots[i];
        if ((s.flags & SLOT_MOUNTED) && s.first_drive <= c && c <= s.last_drive) return i;
    }
    return -1;
}

void vfs_set_drive_strip(int value) { g_lookup.drive_strip = value; }

int vfs_drive_strip() { return g_lookup.drive_strip; }

const char *strip_drive(const char *name)
{
    if (!g_lookup.drive_strip || name[0] == 0 || name[1] != ':' || name[2] == 0) return name;
    return name[2] == '\\' ? name + 3 : name + 2;
}

int entry_lookup(const char *name, EntryLookup how)
{
    const int c = static_cast<uint8_t>(name[0]);
    const char *key = strip_drive(name);
    int slot = g_mount.mount_count - 1;
    int next = -1;  // position to scan from in slot; -1: start the slot afresh
    if (how == LOOKUP_SCAN_NEXT) {
        const FindCursor &cursor = g_lookup.find_cursor;
        // The cursor dies with its mount; a grown directory only adds
        // records above it.
        if (!slot_live(cursor.slot, cursor.serial)) return -1;
        slot = cursor.slot;
        next = cursor.entry - 1;
        if (next < 0) {
            --slot;
            next = -1;
        }
    }
    for (; slot >= 0; --slot, next = -1) {
        const ArchiveSlot &s = g_mount.slots[slot];
        if (next < 0) {
            if (!(s.flags & SLOT_MOUNTED) || c < s.first_drive || c > s.last_drive || s.entry_count == 0) continue;
            if (how == LOOKUP_NAME && s.sorted_index) {
                IndexSearch search = {key, &s};
                const int i = binary_search(key, s.entry_count, compare_indexed, &search);
                if (i >= 0 && s.directory[s.sorted_index[i]].data_offset != 0) {
                    g_lookup.last_match_slot = slot;
                    return s.sorted_index[i];
                }
                continue;
            }
            next = s.entry_count - 1;
        }
        for (int pos = next; pos >= 0; --pos) {
            const PakEntry &e = s.directory[pos];
            if (e.data_offset == 0 || wild_match(key, e.name, PAK_NAME_SIZE) != 0) continue;
            g_lookup.last_match_slot = slot;
            if (how != LOOKUP_NAME) g_lookup.find_cursor = {slot, s.serial, pos, pos + 1};
            return pos;
        }
    }
    return -1;
}

namespace {

// A cursor over a name that knows whether its byte is the trail of a
// double-byte character: such a byte is never folded, nor taken for a dot,
// a star or a backslash.
struct NameCursor {
    const uint8_t *at;
    const uint8_t *end = nullptr;  // past the field's last byte; null: the string's terminator ends it
    bool trail = false;

    uint8_t byte() const { return *at; }
    bool is(char c) const { return !trail && *at == static_cast<uint8_t>(c); }
    void step()
    {
        // A lead byte in the field's last place has no trail byte to look at.
        const bool last = end && at + 1 >= end;
        trail = !trail && !last && path_char_len(reinterpret_cast<const char *>(at)) == 2;
        ++at;
    }
};

}  // namespace

int wild_match(const char *pattern, const char *name_field, int limit)
{
    NameCursor p{reinterpret_cast<const uint8_t *>(pattern)};
    NameCursor s{reinterpret_cast<const uint8_t *>(name_field), reinterpret_cast<const uint8_t *>(name_field) + limit};
    int n = limit;
    bool star_done = false;  // a star has consumed the name up to a '.'
    for (;;) {
        if (p.is('*')) {
            if (star_done) return 0;
            // Pattern bytes between the star and the next '.' are ignored.
            while (p.byte() && !p.is('.')) p.step();
            if (!p.byte()) return 0;
            p.step();
            for (;;) {
                const bool end = s.byte() == 0, slash = s.is('\\'), dot = s.is('.');
                s.step();
                if (end || --n == 0) return 0;
                if (slash) return -1;
                if (dot) break;
            }
            star_done = true;
            continue;
        }
        if (p.byte() == s.byte() || (!p.trail && !s.trail && upper(p.byte()) == upper(s.byte()))) {
            if (p.byte() == 0) return 0;
        } else if (!p.is('?')) {
            return -1;
        }
        p.step();
        s.step();
        if (--n == 0) return 0;
    }
}

int binary_search(const void *key, int count, int (*compare)(const void *key, int i, void *context), void *context)
{
    if (count <= 0) return -1;
    int lo = 0, hi = count, i = count / 2;
    for (int round = 0; round < 200; ++round) {
        const int order = compare(key, i, context);
        if (order == 0) return i;
        if (order > 0) {
            lo = i;
            i += std::max((hi - i) / 2, 1);
            if (i >= hi) return -1;
        } else {
            hi = i;
            i -= std::max((i - lo) / 2, 1);
            if (i < lo) return -1;
        }
    }
    return -1;
}
