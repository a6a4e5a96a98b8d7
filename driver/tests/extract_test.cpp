#include <gtest/gtest.h>

#include <filesystem>

#include "archive/archive.h"
#include "driver/tests/game_fixture.h"
#include "driver/update.h"
#include "platform/platform.h"

namespace {

using namespace gamefix;

using ExtractTest = DriverTest;

Entry with_u32(Entry e, size_t at, uint32_t value)
{
    testpak::put_u32(e.data, at, value);
    return e;
}

TEST_F(ExtractTest, DestinationHoldsTheWholeFileOrNothing)
{
    const Bytes data = testpak::pattern_bytes(70000, 11);
    const Entry good = testpak::packed_entry("#:\\X", data);
    Entry damaged = good;
    damaged.data[damaged.data.size() - 3] ^= 0x40;  // into the checksum
    const Bytes none = testpak::bytes_of("(no file)");
    const struct {
        const char *behaviour;
        Entry entry;
        Bytes dest;
    } cases[] = {
        {"a sound block is unpacked whole", good, data},
        {"a damaged stream writes nothing, never zeros", damaged, {}},
        {"a block declaring more bytes than it holds", with_u32(good, 0, 70001), {}},
        {"a huge declared size", with_u32(good, 0, 0xFFFFFFF0u), {}},
        {"an entry shorter than a block head", testpak::raw_entry("#:\\X", "1234567"), {}},
        {"a missing entry creates no file", testpak::packed_entry("#:\\Y", data), none},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.behaviour);
        testpak::TempDir dir;
        ASSERT_GE(vfs_mount(dir.write("p.exe", payload({c.entry})).c_str(), DISK_READ), 0);
        const std::string dest = dir.file("out.bin");
        EXPECT_EQ(extract_file(dest.c_str(), "#:\\X"), c.dest == data ? 0 : -1);
        EXPECT_EQ(vfs_open_count(), 0);
        vfs_unmount_all();
        EXPECT_EQ(std::filesystem::exists(dest) ? testpak::read_file(dest) : none, c.dest);
    }
}

TEST_F(ExtractTest, ExtractAllCopiesEveryMatchToDriveAtOrStopsAtAFailure)
{
    testpak::TempDir dir;
    Entry broken = testpak::packed_entry("#:\\B.PAK", new_exe());
    broken.data[20] ^= 0x7F;
    std::vector<Entry> entries = good_payload_entries();
    entries.push_back(broken);
    ASSERT_GE(vfs_mount(dir.write("p.exe", payload(entries)).c_str(), DISK_READ), 0);
    testpak::Archive target;
    target.first_drive = target.last_drive = '@';
    ASSERT_GE(vfs_mount(dir.write("t.pak", testpak::build(target)).c_str(), DISK_READ_WRITE), 0);

    EXPECT_EQ(extract_all("#:\\*.EXE"), 1);
    EXPECT_EQ(extract_all("#:\\*.none"), 0);
    EXPECT_EQ(extract_all("#:\\*.PAK"), 0);
    EXPECT_EQ(vfs_open_count(), 0);
    const int h = vfs_open("@:\\Korin3.EXE", DISK_READ);
    ASSERT_NE(h, -1);
    Bytes back(static_cast<size_t>(vfs_size(h)));
    EXPECT_EQ(vfs_read(h, back.data(), static_cast<int>(back.size())), static_cast<int>(back.size()));
    vfs_close(h);
    EXPECT_EQ(back, new_exe());
}

}  // namespace
