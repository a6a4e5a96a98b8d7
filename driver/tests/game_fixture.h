// Game folders and payloads for the driver tests, built without the code
// under test, and the outcomes a run may leave.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>

#include "archive/internal.h"
#include "driver/edition.h"
#include "driver/retry.h"
#include "driver/update.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"

namespace game_folders {

namespace fs = std::filesystem;
using namespace fixtures;

// The game's own "Update.PAK": entries named without drive prefix.
inline Bytes game_update_pak(const std::vector<std::string> &names, uint8_t first = '@', uint8_t last = '@')
{
    Archive a;
    a.first_drive = first, a.last_drive = last;
    for (const std::string &name : names) a.entries.push_back(raw_entry(name, "entry " + name));
    return build(a);
}

inline Bytes install_list(const std::vector<std::string> &names, size_t head_size = 776)
{
    Bytes out = pattern_bytes(head_size, 3);
    put_u32(out, 768, static_cast<uint32_t>(head_size));
    put_u32(out, 772, static_cast<uint32_t>(names.size()));
    for (const std::string &name : names) out.insert(out.end(), name.c_str(), name.c_str() + name.size() + 1);
    return out;
}

inline Bytes new_exe() { return pattern_bytes(50000, 7); }
inline Bytes new_update_pak() { return game_update_pak({"Update06.txt", "Map01.dat", "Map02.dat"}); }

inline Bytes payload(const std::vector<Entry> &entries)  // appended to a stand-in executable
{
    Archive a;
    a.entries = entries, a.packed_directory = true;
    return appended(fake_exe(4096), build(a));
}

inline std::vector<Entry> good_payload_entries()
{
    return {packed_entry("#:\\Korin3.EXE", new_exe()), packed_entry("#:\\Update.PAK", new_update_pak())};
}

using Snapshot = std::map<std::string, Bytes>;  // a large file by its size alone
inline Snapshot snapshot(const std::string &folder)
{
    Snapshot out;
    for (const fs::directory_entry &e : fs::directory_iterator(folder))
        out[e.path().filename().string()] =
            e.file_size() > (16u << 20) ? bytes_of("size " + std::to_string(e.file_size())) : read_file(e.path());
    return out;
}

inline void set_read_only(const std::string &path)
{
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

// By default a game that the update fits. A folder runs the update on itself.
struct GameSetup {
    std::optional<uint32_t> pak_size = edition.expected_pak_size;
    std::optional<Bytes> exe = bytes_of("old game executable");
    std::optional<Bytes> update_pak = game_update_pak({"Map01.dat"});
    std::optional<Bytes> install = install_list({"Korin3.PAK"});
    Bytes payload_bytes = payload(good_payload_entries());
    std::string payload_name = "upd.exe";
    bool write_payload = true;
    // Somebody else's files under names like the update's scratch files:
    // every run must leave them as they are.
    std::vector<std::string> foreign = {"Korin3.NEW", "Update.OLD", "INSTALL.N01"};
};

struct GameFolder {
    TempDir temp;
    const std::string dir = temp.file("game");
    std::string payload_path;

    explicit GameFolder(const GameSetup &setup = GameSetup())
    {
        fs::create_directory(dir);
        if (setup.pak_size) {  // one written byte, the rest a hole
            const int h = disk_create(file("Korin3.PAK").c_str(), DISK_ATTR_NORMAL);
            disk_seek(h, static_cast<int32_t>(*setup.pak_size - 1), DISK_SEEK_SET);
            EXPECT_EQ(disk_write(h, "", 1), 1);
            disk_close(h);
        }
        if (setup.exe) write_file(file("Korin3.EXE"), *setup.exe);
        if (setup.update_pak) write_file(file("Update.PAK"), *setup.update_pak);
        if (setup.install) write_file(file("INSTALL.DAT"), *setup.install);
        for (const std::string &name : setup.foreign) write_file(file(name), bytes_of("somebody's " + name));
        payload_path = setup.write_payload ? temp.write(setup.payload_name, setup.payload_bytes)
                                           : temp.file(setup.payload_name);
    }
    std::string file(const std::string &name) const { return (fs::path(dir) / name).string(); }
    Snapshot contents() const { return snapshot(dir); }
    uint32_t run() const  // update_flags
    {
        EXPECT_LT(dir.size(), sizeof game_dir);
        std::memset(game_dir, 0, sizeof game_dir);
        std::strncpy(game_dir, dir.c_str(), sizeof game_dir - 1);
        EXPECT_EQ(update_set_payload(payload_path.c_str()), 0);
        update_run();
        return update_flags;
    }
};

// The retry's clock and wait for tests: a wait only moves the clock on (so a
// held file costs no real time) and may act, as the other program letting go.
struct TestClock {
    static inline uint32_t now = 0;
    static inline long waits = 0;
    static inline int waited_ms = 0, longest_wait_ms = 0;
    static inline std::function<void()> on_wait;
    static uint32_t read() { return now; }
    static void wait(int ms)
    {
        now += static_cast<uint32_t>(ms);
        ++waits;
        waited_ms += ms;
        longest_wait_ms = std::max(longest_wait_ms, ms);
        if (on_wait) on_wait();
    }
    static void install()
    {
        now = 0xFFFFF000u;  // wraps during a long wait
        waits = 0;
        waited_ms = longest_wait_ms = 0;
        on_wait = nullptr;
        retry_set_clock(read);
        retry_set_wait(wait);
    }
};

struct DriverTest : ::testing::Test {
    void SetUp() override { platform_reset(), archive_reset(), update_reset(), TestClock::install(); }
    void TearDown() override { fault_disarm(), fault_set_hook(0, nullptr), SetUp(); }
};

inline void expect_nothing_held()
{
    EXPECT_EQ(vfs_open_count(), 0);
    EXPECT_EQ(g_mount.mount_count, 0);
    for (const ArchiveSlot &slot : g_mount.slots) EXPECT_EQ(slot.flags, 0u);
    EXPECT_EQ(vfs_drive_strip(), 0);
}

// What a clean run makes of a fresh game folder; a run that met an obstacle
// must leave one of these, with flags to match, and nothing held.
struct Outcomes {
    Snapshot before, updated, updated_but_list;
    Outcomes()
    {
        GameFolder game;
        before = game.contents();
        EXPECT_EQ(game.run(), UF_DONE);
        updated = updated_but_list = game.contents();
        updated_but_list["INSTALL.DAT"] = before["INSTALL.DAT"];
    }
    void expect_whole_or_updated(uint32_t flags, const Snapshot &after) const
    {
        if (flags == UF_DONE) {
            EXPECT_TRUE(after == updated || after == updated_but_list) << "half updated";
        } else {
            EXPECT_TRUE(flags == UF_FAILED || flags == UF_PAYLOAD_DAMAGED) << flags;
            EXPECT_EQ(after, before) << "a failed run changed the folder";
        }
        expect_nothing_held();
    }
};

}  // namespace game_folders
