#include <gtest/gtest.h>

#include <filesystem>

#include "archive/archive.h"
#include "driver/tests/game_fixture.h"
#include "driver/update.h"
#include "platform/platform.h"

namespace {

using namespace gamefix;
using testpak::Bytes;
using testpak::Entry;

using ExtractTest = DriverTest;

// Mounts a payload holding `entries` and keeps it until the test ends.
void mount_payload(const testpak::TempDir &dir, const std::vector<Entry> &entries)
{
    ASSERT_GE(vfs_mount(dir.write("payload.exe", payload(entries)).c_str(), DISK_READ), 0);
}

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
    damaged.data[damaged.data.size() - 3] ^= 0x40;  // into the stream's checksum
    enum Dest { MISSING, EMPTY, WHOLE };
    struct Case {
        const char *behaviour;
        Entry entry;
        int result;
        Dest dest;
    } cases[] = {
        {"a sound block is unpacked whole", good, 0, WHOLE},
        {"a damaged stream writes nothing, never zeros", damaged, -1, EMPTY},
        {"a block declaring more bytes than it holds", with_u32(good, 0, 70001), -1, EMPTY},
        {"a block declaring fewer bytes than it holds", with_u32(good, 0, 69999), -1, EMPTY},
        {"a packed size past the stored bytes", with_u32(good, 4, static_cast<uint32_t>(good.data.size() - 7)), -1,
         EMPTY},
        {"a huge declared size is refused", with_u32(good, 0, 0xFFFFFFF0u), -1, EMPTY},
        {"an entry shorter than a block head", testpak::raw_entry("#:\\X", Bytes{4, 0, 0, 0, 0, 0, 0}), -1, EMPTY},
        {"a missing entry creates no file", testpak::packed_entry("#:\\Y", data), -1, MISSING},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.behaviour);
        testpak::TempDir dir;
        mount_payload(dir, {c.entry});
        const std::string dest = dir.file("out.bin");
        EXPECT_EQ(extract_file(dest.c_str(), "#:\\X"), c.result);
        EXPECT_EQ(vfs_open_count(), 0);
        vfs_unmount_all();
        ASSERT_EQ(std::filesystem::exists(dest), c.dest != MISSING);
        if (c.dest != MISSING) {
            EXPECT_EQ(testpak::read_file(dest), c.dest == WHOLE ? data : Bytes{});
        }
    }
}

TEST_F(ExtractTest, DestinationThatCannotBeCreatedFails)
{
    testpak::TempDir dir;
    mount_payload(dir, good_payload_entries());
    EXPECT_EQ(extract_file(dir.file("no-such-folder/x.exe").c_str(), "#:\\Korin3.EXE"), -1);
    EXPECT_EQ(vfs_open_count(), 0);
}

TEST_F(ExtractTest, ExtractAllCopiesEveryMatchToDriveAt)
{
    testpak::TempDir dir;
    mount_payload(dir, good_payload_entries());
    testpak::Archive target;
    target.first_drive = target.last_drive = '@';
    ASSERT_GE(vfs_mount(dir.write("target.pak", testpak::build(target)).c_str(), DISK_READ_WRITE), 0);

    EXPECT_EQ(extract_all("#:\\*.EXE"), 1);
    EXPECT_EQ(extract_all("#:\\*.none"), 0);
    const int h = vfs_open("@:\\Korin3.EXE", DISK_READ);
    ASSERT_NE(h, -1);
    Bytes back(static_cast<size_t>(vfs_size(h)));
    EXPECT_EQ(vfs_read(h, back.data(), static_cast<int>(back.size())), static_cast<int>(back.size()));
    vfs_close(h);
    EXPECT_EQ(back, new_exe());
    EXPECT_EQ(vfs_open("@:\\Update.PAK", DISK_READ), -1);
}

TEST_F(ExtractTest, ExtractAllStopsAtTheFirstFailure)
{
    testpak::TempDir dir;
    Entry broken = testpak::packed_entry("#:\\B.EXE", new_exe());
    broken.data[20] ^= 0x7F;
    mount_payload(dir, {testpak::packed_entry("#:\\A.EXE", new_exe()), broken});
    testpak::Archive target;
    target.first_drive = target.last_drive = '@';
    ASSERT_GE(vfs_mount(dir.write("target.pak", testpak::build(target)).c_str(), DISK_READ_WRITE), 0);
    EXPECT_EQ(extract_all("#:\\*.EXE"), 0);
    EXPECT_EQ(vfs_open_count(), 0);
}

}  // namespace
