// Mounting arbitrary bytes, as a stand-alone archive and as an executable
// with an appended archive, then listing, looking up, opening and reading
// every entry and enumerating with wildcards. Nothing may crash, read or
// write outside its buffers, or stay open afterwards.
#include <cstring>
#include <string>
#include <vector>

#include "archive/internal.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"

namespace {

void walk_slot(int slot, const uint8_t *tail, size_t tail_size)
{
    const ArchiveSlot &s = g_mount.slots[slot];
    std::vector<std::string> names;
    for (int i = 0; i < s.entry_count; ++i) {
        const PakEntry *e = slot_entry(slot, i);
        if (!e || e->data_offset == 0) continue;
        names.emplace_back(e->name, strnlen(e->name, sizeof e->name));
    }
    for (const std::string &name : names) {
        const int h = vfs_open(name.c_str(), 0);
        if (h == -1) continue;
        const int size = vfs_size(h);
        FUZZ_CHECK(size >= 0);
        // One buffer for every read: a fresh one per entry cost more than the mount.
        static std::vector<uint8_t> buf(1 << 16);
        while (vfs_read(h, buf.data(), static_cast<int>(buf.size())) > 0) {
        }
        vfs_seek(h, -4, 2);
        FUZZ_CHECK(vfs_close(h) == 0);
    }

    // Enumerate with a pattern from the input, routed to this archive's drive.
    std::string pattern(1, static_cast<char>(s.first_drive));
    pattern += ":\\";
    pattern.append(reinterpret_cast<const char *>(tail), strnlen(reinterpret_cast<const char *>(tail), tail_size > 40 ? 40 : tail_size));
    if (pattern.size() == 3) pattern += "*";
    char out[260];
    int found = 0;
    for (int r = vfs_find_first(pattern.c_str(), 0x80, out); r == 0 && found < 100000; r = vfs_find_next(out)) {
        FUZZ_CHECK(std::memchr(out, 0, sizeof out) != nullptr);
        ++found;
    }
    vfs_find_first_path(pattern.c_str(), 0x80, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const bool appended = data[0] & 1;
    const bool strip = data[0] & 2;
    const size_t tail_size = size > 33 ? 32 : 0;  // the last bytes double as a pattern
    static fuzz::InputFile archive_file("archive.pak"), program_file("payload.exe");
    const std::string &path = (appended ? program_file : archive_file).put(data + 1, size - 1);

    vfs_set_drive_strip(strip);
    const int slot = vfs_mount(path.c_str(), 0);
    if (slot != -1) {
        FUZZ_CHECK(slot >= 0 && slot < VFS_MAX_SLOTS);
        walk_slot(slot, data + size - tail_size, tail_size);
    }
    vfs_unmount_all();
    FUZZ_CHECK(vfs_open_count() == 0);
    vfs_set_drive_strip(0);
    archive_reset();
    return 0;
}
