#include "driver/tests/game_fixture.h"

#include <cstring>
#include <filesystem>

#include "archive/internal.h"
#include "driver/update.h"
#include "platform/fault.h"
#include "platform/platform.h"

const EditionTexts edition = {
    "TEST", 936, 0x12E67196u, "Korin III test", "?", "OK", "Cancel", "browse", "wrong folder",
    "done", "already", "newer", "wrong version", "game damaged", "payload damaged", "failed",
};

namespace gamefix {

namespace fs = std::filesystem;
using namespace testpak;

Bytes game_update_pak(const std::vector<std::string> &names, uint8_t first, uint8_t last)
{
    Archive a;
    a.first_drive = first;
    a.last_drive = last;
    for (const std::string &name : names) a.entries.push_back(raw_entry(name, "entry " + name));
    return build(a);
}

Bytes install_list(const std::vector<std::string> &names, size_t head_size)
{
    Bytes out = pattern_bytes(head_size, 3);
    put_u32(out, 768, static_cast<uint32_t>(head_size));
    put_u32(out, 772, static_cast<uint32_t>(names.size()));
    for (const std::string &name : names) out.insert(out.end(), name.c_str(), name.c_str() + name.size() + 1);
    return out;
}

Bytes new_exe() { return pattern_bytes(50000, 7); }
Bytes new_update_pak() { return game_update_pak({"Update06.txt", "Map01.dat", "Map02.dat"}); }

Bytes payload(const std::vector<Entry> &entries)
{
    Archive a;
    a.entries = entries;
    a.packed_directory = true;
    return appended(fake_exe(4096), build(a));
}

std::vector<Entry> good_payload_entries()
{
    return {packed_entry("#:\\Korin3.EXE", new_exe()), packed_entry("#:\\Update.PAK", new_update_pak())};
}

Snapshot snapshot(const std::string &folder)
{
    Snapshot out;
    for (const fs::directory_entry &e : fs::directory_iterator(folder))
        out[e.path().filename().string()] =
            e.file_size() > (16u << 20) ? bytes_of("size " + std::to_string(e.file_size())) : read_file(e.path());
    return out;
}

void set_read_only(const std::string &path, bool read_only)
{
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    read_only ? fs::perm_options::remove : fs::perm_options::add);
}

GameFolder::GameFolder(const GameSetup &setup) : game_(temp_.file("game"))
{
    fs::create_directory(game_);
    if (setup.pak_size) {  // one written byte, the rest a hole
        const int h = disk_create(file("Korin3.PAK").c_str(), DISK_ATTR_NORMAL);
        disk_seek(h, static_cast<int32_t>(*setup.pak_size - 1), DISK_SEEK_SET);
        EXPECT_EQ(disk_write(h, "", 1), 1);
        disk_close(h);
    }
    if (setup.exe) write_file(file("Korin3.EXE"), *setup.exe);
    if (setup.update_pak) write_file(file("Update.PAK"), *setup.update_pak);
    if (setup.install) write_file(file("INSTALL.DAT"), *setup.install);
    payload_ = setup.write_payload ? temp_.write(setup.payload_name, setup.payload_bytes)
                                   : temp_.file(setup.payload_name);
}

uint32_t GameFolder::run() const
{
    EXPECT_LT(game_.size(), sizeof game_dir);
    std::memset(game_dir, 0, sizeof game_dir);
    std::strncpy(game_dir, game_.c_str(), sizeof game_dir - 1);
    EXPECT_EQ(update_set_payload(payload_.c_str()), 0);
    update_run();
    return update_flags;
}

void DriverTest::SetUp() { platform_reset(), archive_reset(), update_reset(); }
void DriverTest::TearDown() { fault_disarm(), SetUp(); }

Outcomes clean_outcomes()
{
    GameFolder game;
    Outcomes o;
    o.before = game.contents();
    EXPECT_EQ(game.run(), UF_DONE);
    o.updated = o.updated_but_list = game.contents();
    o.updated_but_list["INSTALL.DAT"] = o.before["INSTALL.DAT"];
    return o;
}

void expect_whole_or_updated(uint32_t flags, const Outcomes &o, const Snapshot &after)
{
    if (flags == UF_DONE) {
        EXPECT_TRUE(after == o.updated || after == o.updated_but_list) << "half updated";
    } else {
        EXPECT_TRUE(flags == UF_FAILED || flags == UF_PAYLOAD_DAMAGED) << flags;
        EXPECT_EQ(after, o.before) << "a failed run changed the folder";
    }
    expect_nothing_held();
}

void expect_nothing_held()
{
    EXPECT_EQ(vfs_open_count(), 0);
    EXPECT_EQ(g_mount.mount_count, 0);
    for (const ArchiveSlot &slot : g_mount.slots) EXPECT_EQ(slot.flags, 0u);
    EXPECT_EQ(vfs_drive_strip(), 0);
}

}  // namespace gamefix
