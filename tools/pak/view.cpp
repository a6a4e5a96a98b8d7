#include "tools/pak/view.h"

#include <cstring>

#include "platform/error.h"
#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/names.h"
#include "tools/pak/output.h"

int view_open(ArchiveView *view, const char *path, bool appended)
{
    appended = appended || vfs_is_appended_name(path);
    std::memset(view, 0, sizeof *view);
    view->path = path;
    view->slot = -1;
    view->file_size = disk_file_size(path);
    if (view->file_size < 0) {
        view_report_mount_failure(path);
        return -1;
    }
    const int file = disk_open(path, DISK_READ);
    if (file == -1) {
        view_report_mount_failure(path);
        return -1;
    }
    ScopeGuard close_file([&] { disk_close(file); });
    // Views go by record position; the name index would be built for nothing.
    const int slot = vfs_mount_unindexed(path, appended);
    if (slot < 0) {
        view_report_mount_failure(path);
        return -1;
    }
    ScopeGuard unmount([&] { vfs_unmount(slot); });
    vfs_mount_facts(slot, &view->facts);
    const uint32_t base = static_cast<uint32_t>(view->facts.base_offset);
    if (disk_seek(file, static_cast<int32_t>(base), DISK_SEEK_SET) != base ||
        disk_read(file, &view->header, PAK_HEADER_SIZE) != PAK_HEADER_SIZE) {
        out_failure(path, "cannot read the header");
        return -1;
    }
    unmount.dismiss();
    view->slot = slot;
    view->appended = appended;
    return 0;
}

void view_close(ArchiveView *view)
{
    if (view->slot >= 0) vfs_unmount(view->slot);
    view->slot = -1;
}

PakEntry view_entry(const ArchiveView *view, int position)
{
    PakEntry e{};
    vfs_entry_at(view->slot, position, &e);
    e.name[PAK_NAME_SIZE - 1] = 0;
    return e;
}

int view_live_count(const ArchiveView *view)
{
    int live = 0;
    for (int i = 0; i < view->facts.entry_count; ++i)
        if (view_entry(view, i).data_offset != 0) ++live;
    return live;
}

int view_read_head(const ArchiveView *view, int position, void *buffer, int n)
{
    const int h = vfs_open_at(view->slot, position);
    if (h < 0) return -1;
    const int got = vfs_read(h, buffer, n);
    vfs_close(h);
    return got;
}

int view_read_entry(const ArchiveView *view, int position, char **data, int *length, const char **reason)
{
    *data = nullptr;
    *length = 0;
    const PakEntry e = view_entry(view, position);
    // Checked against the file before its room is taken: a crafted size must
    // not make us allocate gigabytes.
    const int64_t start = static_cast<int64_t>(view->facts.base_offset) + e.data_offset;
    if (e.data_offset == 0 || start + e.stored_size > view->file_size) {
        *reason = "its data runs past the end of the archive";
        return -1;
    }
    const int h = vfs_open_at(view->slot, position);
    if (h < 0) {
        *reason = "its data lies beyond what an archive can address";
        return -1;
    }
    ScopeGuard close([&] { vfs_close(h); });
    const int n = static_cast<int>(e.stored_size);
    char *buffer = static_cast<char *>(mem_alloc(static_cast<size_t>(n) + 1));
    if (!buffer) {
        *reason = "not enough memory";
        return -1;
    }
    int got = 0;
    while (got < n) {
        const int r = vfs_read(h, buffer + got, n - got);
        if (r <= 0) break;
        got += r;
    }
    if (got != n) {
        mem_free(buffer);
        *reason = "its data cannot be read in full";
        return -1;
    }
    *data = buffer;
    *length = n;
    return 0;
}

int unpack_entry(const char *data, int length, char **out, int *out_length, const char **reason)
{
    if (block_unpack_stored(data, length, out, out_length) == 0) return 0;
    *reason = out_reason();
    return -1;
}

int view_entry_content(const ArchiveView *view, int position, char **data, int *length, const char **reason, bool force)
{
    if (view_read_entry(view, position, data, length, reason) != 0) return -1;
    if (!block_looks_stored(*data, *length)) {
        if (force || !block_looks_damaged(*data, *length)) return 0;
        mem_free(*data);
        *data = nullptr;
        *length = 0;
        *reason = out_reason();
        return -1;
    }
    char *plain = nullptr;
    int plain_length = 0;
    const int unpacked = unpack_entry(*data, *length, &plain, &plain_length, reason);
    mem_free(*data);
    *data = unpacked == 0 ? plain : nullptr;
    *length = unpacked == 0 ? plain_length : 0;
    return unpacked;
}

int find_newest_live(int slot, const char *name, NameMatch match, int before, PakEntry *out)
{
    PakMountFacts f;
    if (vfs_mount_facts(slot, &f) != 0) return -1;
    for (int i = (before < f.entry_count ? before : f.entry_count) - 1; i >= 0; --i) {
        PakEntry e;
        if (vfs_entry_at(slot, i, &e) != 0 || e.data_offset == 0) continue;
        e.name[PAK_NAME_SIZE - 1] = 0;
        if (match == NAME_EXACT ? !names_equal(e.name, name) : !entry_has_name(e.name, name)) continue;
        if (out) *out = e;
        return i;
    }
    return -1;
}

int read_file_at(int64_t offset, void *buffer, int n, void *context)
{
    const int file = *static_cast<int *>(context);
    if (offset < 0 || offset > DISK_POSITION_LIMIT) return -1;
    if (disk_seek(file, static_cast<int32_t>(offset), DISK_SEEK_SET) != offset) return -1;
    return disk_read(file, buffer, n) == n ? 0 : -1;
}

namespace {

// Whether the file carries an archive attached to a program (whatever its name).
bool has_attached_archive(const char *path)
{
    const int64_t size = disk_file_size(path);
    int file = size < 0 ? -1 : disk_open(path, DISK_READ);
    if (file == -1) return false;
    int64_t base = 0, end = 0;
    const bool found = appended_locate(read_file_at, &file, size, &base, &end) == 0;
    disk_close(file);
    return found;
}

}  // namespace

void view_report_mount_failure(const char *path)
{
    switch (err_last()) {
    case ERR_IS_FOLDER: out_error(path, "is a folder, not an archive"); return;
    case ERR_NOT_ARCHIVE:
        if (vfs_is_appended_name(path)) out_error(path, "no archive attached to this program");
        else if (has_attached_archive(path))
            out_error(path, "not a stand-alone archive, but a program with one attached (only names ending in .exe "
                            "are read so); read it with --appended");
        else out_error(path, "not an archive");
        return;
    case ERR_DAMAGED: out_error(path, "%s", out_reason()); return;
    default: out_failure(path, "cannot open"); return;
    }
}

// The name without its drive prefix ("#:\" or "#:"), or null when it has none.
static const char *without_prefix(const char *name)
{
    if (!name[0] || name[1] != ':') return nullptr;
    return name[2] == '\\' ? name + 3 : name + 2;
}

// The one rule by which a name given on the command line finds stored names:
// as written, or with the drive prefix left off either side. A prefix on
// both sides must name the same drive.
static bool names_agree(const char *given, const char *stored, bool (*same)(const char *given, const char *stored))
{
    if (same(given, stored)) return true;
    const char *given_rest = without_prefix(given), *stored_rest = without_prefix(stored);
    if (!given_rest && !stored_rest) return false;
    if (given_rest && stored_rest) {
        const char given_drive[2] = {given[0], 0}, stored_drive[2] = {stored[0], 0};
        if (!same(given_drive, stored_drive)) return false;
    }
    return same(given_rest ? given_rest : given, stored_rest ? stored_rest : stored);
}

bool entry_matches(const char *pattern, const char *name)
{
    return names_agree(pattern, name, [](const char *p, const char *s) { return pattern_matches(p, s); });
}

bool entry_has_name(const char *stored, const char *name)
{
    return names_agree(name, stored, names_equal);
}
