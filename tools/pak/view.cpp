#include "tools/pak/view.h"

#include <cstring>

#include "platform/error.h"
#include "platform/platform.h"
#include "tools/pak/names.h"
#include "tools/common/output.h"

int view_open(ArchiveView *view, const char *path, bool appended)
{
    view_close(view);
    view->path = path;
    view->appended = appended = appended || vfs_is_appended_name(path);
    // One open serves the mount, the header and every read after them.
    view->file = disk_open(path, DISK_READ);
    // Views go by record position; the name index would be built for nothing.
    view->slot = view->file == -1 ? -1 : vfs_mount_handle(view->file, appended, false);
    if (view->slot < 0) {
        view_report_mount_failure(path, view->file);
        view_close(view);
        return -1;
    }
    vfs_mount_facts(view->slot, &view->facts);
    const uint32_t size = disk_size(view->file);
    view->file_size = size;
    if (size == DISK_FAILED || disk_read_at(view->file, view->facts.base_offset, &view->header, PAK_HEADER_SIZE) != 0) {
        out_failure(path, "cannot read the header");
        view_close(view);
        return -1;
    }
    return 0;
}

void view_close(ArchiveView *view)
{
    if (view->slot >= 0) vfs_unmount(view->slot);
    if (view->file != -1) disk_close(view->file);
    view->slot = view->file = -1;
}

namespace {

// n bytes at offset of the view's file; threads may read it at once.
int view_read_at(const ArchiveView *view, int64_t offset, void *buffer, int n)
{
    return disk_read_shared(view->file, offset, buffer, n);
}

}  // namespace

PakEntry view_entry(const ArchiveView *view, int position)
{
    PakEntry e{};
    vfs_entry_at(view->slot, position, &e);
    return e;
}

int view_live_count(const ArchiveView *view)
{
    int live = 0;
    for (int i = 0; i < view->facts.entry_count; ++i)
        if (view_entry(view, i).data_offset != 0) ++live;
    return live;
}

bool view_packed(const ArchiveView *view, int position, uint32_t *unpacked_size)
{
    const PakEntry e = view_entry(view, position);
    unsigned char head[10];
    if (e.data_offset == 0 || e.stored_size < sizeof head ||
        view_read_at(view, static_cast<int64_t>(view->facts.base_offset) + e.data_offset, head, sizeof head) != 0 ||
        !block_looks_stored(head, e.stored_size))
        return false;
    *unpacked_size = le32(head);
    return true;
}

const char VIEW_STOPPED[] = "stopped by its reader";

namespace {

// A record's stored bytes, read where they lie in the view's file.
struct EntryReader {
    const ArchiveView *view;
    int64_t start;     // file offset of the record's first byte
    bool failed;       // a read fell short
    int (*sink)(const void *bytes, size_t n, void *context);
    void *context;
    bool stopped;      // the sink said stop
};

int read_entry_at(int64_t offset, void *buffer, int n, void *context)
{
    EntryReader *r = static_cast<EntryReader *>(context);
    if (view_read_at(r->view, r->start + offset, buffer, n) == 0) return 0;
    r->failed = true;
    return -1;
}

int pass_on(const void *bytes, size_t n, void *context)
{
    EntryReader *r = static_cast<EntryReader *>(context);
    if (r->sink(bytes, n, r->context) == 0) return 0;
    r->stopped = true;
    return -1;
}

}  // namespace

ViewBuffers::~ViewBuffers()
{
    mem_free(stored);
    mem_free(plain);
}

namespace {

// Room for n bytes in a kept buffer; what it held is not kept.
bool room_for(char **buffer, int64_t *room, int64_t n)
{
    if (n <= *room) return true;
    mem_free(*buffer);
    *room = 0;
    // A quarter more, so that files growing one by one do not each take anew.
    const int64_t want = n + n / 4;
    *buffer = static_cast<char *>(mem_alloc(static_cast<size_t>(want)));
    if (!*buffer) return false;
    *room = want;
    return true;
}

// A packed record too large to hold, unpacked a chunk at a time; reasons as
// view_entry_into gives them.
int stream_packed(const ArchiveView *view, int position, bool force,
                  int (*sink)(const void *bytes, size_t n, void *context), void *context, const char **reason)
{
    const PakEntry e = view_entry(view, position);
    EntryReader r{view, static_cast<int64_t>(view->facts.base_offset) + e.data_offset, false, sink, context, false};
    unsigned char head[10];
    if (read_entry_at(0, head, sizeof head, &r) != 0) {
        *reason = "its data cannot be read in full";
        return -1;
    }
    if (!block_looks_stored(head, e.stored_size)) {
        if (!force && block_looks_damaged(head, e.stored_size)) return -1;
        return view_stored_stream(view, position, sink, context, reason);
    }
    if (block_unpack_stored_to(read_entry_at, &r, e.stored_size, pass_on, &r) == 0) return 0;
    if (r.stopped) *reason = VIEW_STOPPED;
    else if (r.failed) *reason = "its data cannot be read in full";
    return -1;
}

}  // namespace

int view_entry_into(const ArchiveView *view, int position, bool raw, bool force, ViewBuffers *buffers, long long limit,
                    int (*sink)(const void *bytes, size_t n, void *context), void *context, const char **reason)
{
    *reason = nullptr;
    const PakEntry e = view_entry(view, position);
    const int64_t start = static_cast<int64_t>(view->facts.base_offset) + e.data_offset;
    if (e.data_offset == 0 || start + e.stored_size > view->file_size) {
        *reason = "its data runs past the end of the archive";
        return -1;
    }
    if (e.stored_size + 1LL > limit)
        return raw ? view_stored_stream(view, position, sink, context, reason)
                   : stream_packed(view, position, force, sink, context, reason);
    const int n = static_cast<int>(e.stored_size);
    if (!room_for(&buffers->stored, &buffers->stored_room, n + 1LL)) {
        *reason = "not enough memory";
        return -1;
    }
    if (view_read_at(view, start, buffers->stored, n) != 0) {
        *reason = "its data cannot be read in full";
        return -1;
    }
    const char *content = buffers->stored;
    int64_t length = n;
    if (!raw && block_looks_stored(buffers->stored, n)) {
        uint32_t size = 0;
        if (block_stored_unpacked_size(buffers->stored, n, &size) != 0) return -1;
        // What unpacks to much more than it stores is streamed after all.
        if (n + 1LL + size + 1LL > limit) return stream_packed(view, position, force, sink, context, reason);
        if (!room_for(&buffers->plain, &buffers->plain_room, size + 1LL)) {
            *reason = "not enough memory";
            return -1;
        }
        if (block_unpack_stored_into(buffers->stored, n, buffers->plain, size) != 0) return -1;
        content = buffers->plain;
        length = size;
    } else if (!raw && !force && block_looks_damaged(buffers->stored, n)) {
        return -1;
    }
    if (sink(content, static_cast<size_t>(length), context) == 0) return 0;
    *reason = VIEW_STOPPED;
    return -1;
}

int view_entry_stream(const ArchiveView *view, int position, bool force,
                      int (*sink)(const void *bytes, size_t n, void *context), void *context, const char **reason)
{
    ViewBuffers buffers;
    if (view_entry_into(view, position, false, force, &buffers, VIEW_WHOLE_LIMIT, sink, context, reason) == 0) return 0;
    if (!*reason) *reason = out_reason();
    return -1;
}

int view_entry_check(const ArchiveView *view, int position, const char **reason)
{
    ViewBuffers none;
    const auto ignore = [](const void *, size_t, void *) { return 0; };
    // No entry is held whole: every packed one is unpacked a chunk at a time.
    if (view_entry_into(view, position, false, false, &none, 0, ignore, nullptr, reason) == 0) return 0;
    if (!*reason) *reason = out_reason();
    return -1;
}

int view_stored_stream(const ArchiveView *view, int position, int (*sink)(const void *bytes, size_t n, void *context),
                       void *context, const char **reason)
{
    *reason = nullptr;
    const PakEntry e = view_entry(view, position);
    EntryReader r{view, static_cast<int64_t>(view->facts.base_offset) + e.data_offset, false, sink, context, false};
    if (e.data_offset == 0 || r.start + e.stored_size > view->file_size) {
        *reason = "its data runs past the end of the archive";
        return -1;
    }
    const int room = e.stored_size < static_cast<uint32_t>(BLOCK_STREAM_CHUNK) ? static_cast<int>(e.stored_size) + 1 : BLOCK_STREAM_CHUNK;
    char *chunk = static_cast<char *>(mem_alloc(static_cast<size_t>(room)));
    if (!chunk) {
        *reason = "not enough memory";
        return -1;
    }
    int result = 0;
    for (int64_t done = 0; result == 0 && done < e.stored_size;) {
        const int n = e.stored_size - done < room ? static_cast<int>(e.stored_size - done) : room;
        result = read_entry_at(done, chunk, n, &r) == 0 ? pass_on(chunk, static_cast<size_t>(n), &r) : -1;
        done += n;
    }
    mem_free(chunk);
    if (result == 0) return 0;
    *reason = r.stopped ? VIEW_STOPPED : "its data cannot be read in full";
    return -1;
}

int find_newest_live(int slot, const char *name, NameMatch match, int before, PakEntry *out)
{
    const int found = vfs_find_live(slot, name, before, match == NAME_EXACT ? nullptr : entry_has_name);
    if (found >= 0 && out) vfs_entry_at(slot, found, out);
    return found;
}

int record_at(int slot, const char *archive, const char *typed)
{
    uint32_t position = 0;
    PakEntry e{};
    if (text_to_u32(typed, 0, &position) != 0 || position > INT32_MAX) {
        out_error(typed, "not a record position (a number, as 'pak list -l' shows it)");
        return -1;
    }
    if (vfs_entry_at(slot, static_cast<int>(position), &e) != 0 || e.data_offset == 0) {
        out_error(archive, "no live entry at position %u", position);
        return -1;
    }
    return static_cast<int>(position);
}

int read_file_at(int64_t offset, void *buffer, int n, void *context)
{
    return disk_read_at(*static_cast<int *>(context), offset, buffer, n);
}

void view_report_mount_failure(const char *path, int file)
{
    int64_t base = 0, end = 0;
    switch (err_last()) {
    case ERR_IS_FOLDER: out_error(path, "is a folder, not an archive"); return;
    case ERR_NOT_ARCHIVE:
        if (vfs_is_appended_name(path)) out_error(path, "no archive attached to this program");
        // A program with an archive attached, whatever its name.
        else if (file != -1 && appended_locate(read_file_at, &file, disk_size(file), &base, &end) == 0)
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
