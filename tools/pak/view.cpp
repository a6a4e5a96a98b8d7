#include "tools/pak/view.h"

#include <cstring>

#include <zlib.h>

#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/names.h"
#include "tools/pak/output.h"

namespace {

// Deflate expands at most about 1032-fold; a block claiming more is damaged,
// and refusing it spares allocating what a crafted size asks for.
constexpr int64_t MAX_RATIO = 1032;

voidpf z_alloc(voidpf, uInt items, uInt size) { return mem_alloc(static_cast<size_t>(items) * size); }
void z_free(voidpf, voidpf block) { mem_free(block); }

// True when the masked stream is complete and unpacks to nothing.
bool empty_stream_ok(const char *stream, int length)
{
    if (length < 2) return false;
    unsigned char *copy = static_cast<unsigned char *>(mem_alloc(static_cast<size_t>(length)));
    if (!copy) return false;
    std::memcpy(copy, stream, static_cast<size_t>(length));
    copy[0] ^= BLOCK_MASK;
    z_stream z{};
    z.zalloc = z_alloc;
    z.zfree = z_free;
    unsigned char out[1];
    z.next_in = copy;
    z.avail_in = static_cast<uInt>(length);
    z.next_out = out;
    z.avail_out = sizeof out;
    bool ok = false;
    if (inflateInit(&z) == Z_OK) {
        ok = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == 0;
        inflateEnd(&z);
    }
    mem_free(copy);
    return ok;
}

}  // namespace

int view_open(ArchiveView *view, const char *path)
{
    std::memset(view, 0, sizeof *view);
    view->path = path;
    view->slot = -1;
    view->file_size = disk_file_size(path);
    if (view->file_size < 0) {
        out_error(path, "cannot open the file");
        return -1;
    }
    // Opened first: a file another program is writing mounts no more than a
    // damaged one would, and the two must not be mistaken.
    const int file = disk_open(path, DISK_READ);
    if (file == -1) {
        out_error(path, "cannot open the file (is another program writing it?)");
        return -1;
    }
    ScopeGuard close_file([&] { disk_close(file); });
    const int slot = vfs_mount(path, DISK_READ);
    if (slot < 0) {
        out_error(path, ends_with_exe(path) ? "no archive attached, or it is damaged"
                                            : "not an archive, or its header or directory is damaged");
        return -1;
    }
    ScopeGuard unmount([&] { vfs_unmount(slot); });
    vfs_mount_facts(slot, &view->facts);
    const uint32_t base = static_cast<uint32_t>(view->facts.base_offset);
    if (disk_seek(file, static_cast<int32_t>(base), DISK_SEEK_SET) != base ||
        disk_read(file, &view->header, PAK_HEADER_SIZE) != PAK_HEADER_SIZE) {
        out_error(path, "cannot read the header");
        return -1;
    }
    unmount.dismiss();
    view->slot = slot;
    view->appended = ends_with_exe(path);
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

bool looks_packed(const unsigned char *head, uint32_t length)
{
    if (length < 10) return false;
    uint32_t packed_size;
    std::memcpy(&packed_size, head + 4, 4);
    if (packed_size != length - 8) return false;
    const unsigned cmf = head[8] ^ BLOCK_MASK, flg = head[9];
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0 && !(flg & 0x20);
}

uint32_t packed_unpacked_size(const unsigned char *head)
{
    uint32_t v;
    std::memcpy(&v, head, 4);
    return v;
}

int unpack_entry(const char *data, int length, char **out, int *out_length, const char **reason)
{
    *out = nullptr;
    *out_length = 0;
    const uint32_t size = packed_unpacked_size(reinterpret_cast<const unsigned char *>(data));
    const int64_t stream = length - 8;
    if (size > 0x7FFFFFFF || static_cast<int64_t>(size) > stream * MAX_RATIO + 64) {
        *reason = "damaged packed block: its unpacked size cannot be right";
        return -1;
    }
    if (size == 0) {
        // block_unpack reports an empty result as a failure; ask zlib itself.
        if (!empty_stream_ok(data + 8, static_cast<int>(stream))) {
            *reason = "damaged packed block";
            return -1;
        }
    }
    char *buffer = static_cast<char *>(mem_alloc(static_cast<size_t>(size) + 1));
    if (!buffer) {
        *reason = "not enough memory";
        return -1;
    }
    if (size > 0 && block_unpack(buffer, data + 8, static_cast<int>(stream), static_cast<int>(size)) !=
                        static_cast<int>(size)) {
        mem_free(buffer);
        *reason = "damaged packed block";
        return -1;
    }
    *out = buffer;
    *out_length = static_cast<int>(size);
    return 0;
}

// The stored name without its drive prefix ("#:\"), or null when it has none.
static const char *without_prefix(const char *stored)
{
    if (!stored[0] || stored[1] != ':') return nullptr;
    return stored[2] == '\\' ? stored + 3 : stored + 2;
}

bool entry_matches(const char *pattern, const char *name)
{
    if (vfs_name_match(pattern, name) == 0) return true;
    const char *rest = without_prefix(name);
    return rest && vfs_name_match(pattern, rest) == 0;
}

bool entry_has_name(const char *stored, const char *name)
{
    if (names_equal(stored, name)) return true;
    const char *rest = without_prefix(stored);
    return rest && names_equal(rest, name);
}
