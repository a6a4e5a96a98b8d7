#include "archive/tests/fixture.h"

namespace {

using Mount = ArchiveTest;

const pk::Bytes kBig = pk::pattern_bytes(3000, 5);

pk::Archive three_entries(bool packed_directory)
{
    return archive_of({pk::raw_entry("#:\\A.TXT", "alpha"), pk::free_entry("#:\\OLD", pk::bytes_of("old")),
                       pk::packed_entry("#:\\B.BIN", kBig)}, packed_directory);
}

TEST_F(Mount, BothFormsWithPlainAndPackedDirectories)
{
    for (bool appended : {false, true})
        for (bool packed : {false, true}) {
            SCOPED_TRACE(testing::Message() << "appended " << appended << ", packed " << packed);
            const pk::Bytes archive = pk::build(three_entries(packed));
            const int s = vfs_mount(tmp.write("a.exe", appended ? pk::appended(pk::fake_exe(1000), archive) : archive).c_str(), 0);
            ASSERT_EQ(s, appended ? 0 : -1) << "an .exe is read in the appended form";
            if (!appended) {
                ASSERT_EQ(vfs_mount(tmp.write("a.pak", archive).c_str(), 0), 0);
            }
            EXPECT_EQ(slot(0).base_offset, appended ? 1000 : 0);
            EXPECT_EQ(slot(0).capacity, packed ? 23 : 3);
            EXPECT_EQ(read_all("#:\\a.txt"), "alpha");
            EXPECT_EQ(read_all("#:\\OLD"), "<none>");
            EXPECT_EQ(pk::bytes_of(read_all("#:\\B.BIN")), pk::packed_block(kBig));
            vfs_unmount_all();
        }
    EXPECT_EQ(vfs_mount(tmp.file("a.exe").c_str(), 2), -1) << "the appended form is read-only";
    tmp.write(".exe", pk::build(three_entries(false)));
    const auto cwd = fs::current_path();
    fs::current_path(tmp.path());
    EXPECT_EQ(vfs_mount(".exe", 0), 0) << "just \".exe\" is a stand-alone archive";
    fs::current_path(cwd);
}

TEST_F(Mount, SlotRules)
{
    const std::string path = tmp.write("a.pak", pk::build(three_entries(false)));
    const char *p = path.c_str();
    ASSERT_EQ(vfs_mount(p, 0), 0);
    ASSERT_EQ(vfs_mount(p, 0), 1);
    vfs_unmount(0);
    EXPECT_EQ(vfs_mount(p, 0), 2) << "a freed lower slot keeps the count";
    vfs_unmount(2);
    vfs_unmount(1);
    EXPECT_EQ(vfs_mount(p, 0), 0);
    vfs_unmount_all();
    for (int i = 0; i < 10; ++i) ASSERT_EQ(vfs_mount(p, 0), i);
    EXPECT_EQ(vfs_mount(p, 0), -1);
    vfs_unmount(3);
    EXPECT_EQ(vfs_mount(p, 0), -1) << "slot 3 is not reused while the count is 10";
    vfs_unmount(-1), vfs_unmount(3), vfs_unmount(42);
    EXPECT_EQ(g_mount.mount_count, 10);
    vfs_unmount_all();
    EXPECT_EQ(g_mount.mount_count, 0);
}

// Every case must fail with nothing left open or allocated (the disk layer
// deletes no open file; leaks show under the native build's sanitizer).
TEST_F(Mount, DamagedOrCraftedArchivesFailCleanly)
{
    using Craft = void (*)(pk::Archive &);
    using Patch = void (*)(pk::Bytes &);
    // Every case fails with a reason; named: the one it must be (ERR_NONE: any).
    const struct { const char *what; bool exe; Craft craft; Patch patch; ErrReason named = ERR_NONE; } cases[] = {
        {"wrong magic", false, [](pk::Archive &a) { a.magic = 0x4B415051; }, nullptr},
        {"header cut short", false, nullptr, [](pk::Bytes &b) { b.resize(20); }, ERR_DAMAGED},
        {"short and no archive", false, [](pk::Archive &a) { a.magic = 0x4B415051; }, [](pk::Bytes &b) { b.resize(20); }, ERR_NOT_ARCHIVE},
        {"plain directory one byte short", false, nullptr, [](pk::Bytes &b) { b.pop_back(); }},
        {"entry count beyond the file", false, [](pk::Archive &a) { a.entry_count = 1000; }, nullptr},
        {"entry count * 64 wraps to 0", false, [](pk::Archive &a) { a.entry_count = 0x04000000; }, nullptr},
        {"entry count + 20 wraps", true, [](pk::Archive &a) { a.packed_directory = true, a.entry_count = 0xFFFFFFEC; }, nullptr},
        {"packed count no stream could hold", false, [](pk::Archive &a) { a.packed_directory = true, a.entry_count = 30000000; }, nullptr},
        {"packed stream holds fewer records", false, [](pk::Archive &a) { a.packed_directory = true, a.entry_count = 4; }, nullptr},
        {"packed size past the end", false, [](pk::Archive &a) { a.packed_directory = true, a.packed_dir_size = 100000; }, nullptr},
        {"packed stream damaged", false, [](pk::Archive &a) { a.packed_directory = true; }, [](pk::Bytes &b) { b[pk::get_u32(b, 8) + 6] ^= 0x55; }},
        {"directory inside the header", false, [](pk::Archive &a) { a.dir_offset = 4; }, nullptr},
        {"directory at the end", false, [](pk::Archive &a) { a.dir_offset = 1000000; }, nullptr},
        {"directory offset wraps with the base", true, [](pk::Archive &a) { a.dir_offset = 0xFFFFFF00; }, nullptr},
        {"directory reaches into the trailer", true, nullptr, [](pk::Bytes &b) { pk::put_u32(b, 108, pk::get_u32(b, 108) + 1); }},
        {"trailer past the file", true, nullptr, [](pk::Bytes &b) { pk::put_u32(b, b.size() - 4, 0x7FFFFFF0); }},
        {"trailer at the last bytes", true, nullptr, [](pk::Bytes &b) { pk::put_u32(b, b.size() - 4, static_cast<uint32_t>(b.size() - 10)); }},
        {"trailer not at a header", true, nullptr, [](pk::Bytes &b) { pk::put_u32(b, b.size() - 4, 50); }},
        {"file shorter than a trailer", true, nullptr, [](pk::Bytes &b) { b.resize(3); }},
        {"plain empty directory space one byte short", false,
         [](pk::Archive &a) { a.entries.clear(), a.empty_directory_space = false, a.after_directory.resize(4095); }, nullptr},
        {"empty directory space ends in the trailer", true,
         [](pk::Archive &a) { a.entries.clear(), a.empty_directory_space = false, a.after_directory.resize(4092); }, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        pk::Archive a = three_entries(false);
        if (c.craft) c.craft(a);
        pk::Bytes bytes = c.exe ? pk::appended(pk::fake_exe(100), pk::build(a)) : pk::build(a);
        if (c.patch) c.patch(bytes);
        const std::string path = tmp.write(c.exe ? "x.exe" : "x.pak", bytes);
        fault_arm(FAULT_ALLOC, 0, false);
        err_clear();
        EXPECT_EQ(vfs_mount(path.c_str(), 0), -1);
        EXPECT_NE(err_last(), ERR_NONE);
        if (c.named != ERR_NONE) {
            EXPECT_EQ(err_last(), c.named) << err_text(err_last());
        }
        // Counts the file cannot hold are refused before any room is taken.
        if (a.entry_count.value_or(0) >= 1000) {
            EXPECT_EQ(fault_points(), 0);
        }
        fault_disarm();
        EXPECT_EQ(g_mount.mount_count, 0);
        EXPECT_EQ(disk_delete(path.c_str()), 0) << "the file was left open";
    }
}

TEST_F(Mount, FailedAllocationsLeaveNothingBehind)
{
    for (bool packed : {false, true}) {
        const pk::Bytes bytes = pk::build(three_entries(packed));
        bool without_index = false;
        for (long n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "packed " << packed << ", allocation " << n);
            const std::string path = tmp.write("f.pak", bytes);
            fault_arm(FAULT_ALLOC, n, false);
            const int s = vfs_mount(path.c_str(), 0);
            const bool hit = fault_injected() > 0;
            fault_disarm();
            if (s == 0) {  // only the name index may be missing; lookups then scan
                without_index |= slot(0).sorted_index == nullptr;
                EXPECT_EQ(read_all("#:\\B.BIN").size(), pk::packed_block(kBig).size());
                vfs_unmount(0);
            }
            EXPECT_EQ(g_mount.mount_count, 0);
            EXPECT_EQ(disk_delete(path.c_str()), 0);
            if (!hit) break;
        }
        EXPECT_TRUE(without_index);
    }
}

// Executables of 8 lengths give every padding from 0 to 7 bytes; the
// trailer's own high bytes are zero, like the padding.
TEST_F(Mount, SignedExecutableKeepsItsTrailerBeforeTheCertificate)
{
    for (bool packed : {false, true})
        for (size_t extra = 0; extra < 8; ++extra) {
            SCOPED_TRACE(testing::Message() << "packed " << packed << ", extra " << extra);
            const pk::Bytes file = pk::appended(pk::minimal_pe(1024 + extra), pk::build(three_entries(packed)));
            ASSERT_EQ(vfs_mount(tmp.write("signed.exe", pk::signed_pe(file)).c_str(), 0), 0);
            EXPECT_EQ(slot(0).base_offset, static_cast<int>(1024 + extra));
            EXPECT_EQ(read_all("#:\\A.TXT"), "alpha");
            vfs_unmount_all();
        }
    pk::Bytes stray = pk::signed_pe(pk::appended(pk::minimal_pe(1024), pk::build(three_entries(false))));
    stray.push_back(0);  // the table no longer ends the file
    EXPECT_EQ(vfs_mount(tmp.write("stray.exe", stray).c_str(), 0), -1);
}

// A mount over the caller's handle reads through it in either form, whatever
// the file is called now, and leaves it open however the mount ends.
TEST_F(Mount, OverACallersHandleWhichStaysTheCallers)
{
    const pk::Bytes archive = pk::build(three_entries(true));
    const auto still_open = [](int h) {
        char c = 0;
        return disk_seek(h, 0, DISK_SEEK_SET) == 0 && disk_read(h, &c, 1) == 1;
    };
    for (bool appended : {false, true}) {
        SCOPED_TRACE(testing::Message() << "appended " << appended);
        const std::string path = tmp.write("payload.bin", appended ? pk::appended(pk::fake_exe(1000), archive) : archive);
        const int h = disk_open(path.c_str(), DISK_READ);
        ASSERT_NE(h, -1);
        ASSERT_EQ(vfs_mount_handle(h, appended), 0);
        EXPECT_EQ(slot(0).base_offset, appended ? 1000 : 0);
        EXPECT_EQ(read_all("#:\\A.TXT"), "alpha");
        vfs_unmount_all();
        EXPECT_TRUE(still_open(h)) << "closed by the unmount";
        ASSERT_EQ(vfs_mount_handle(h, appended), 0);
        archive_reset();
        EXPECT_TRUE(still_open(h)) << "closed by the reset";
        EXPECT_EQ(vfs_mount_handle(h, !appended), -1) << "read in the other form";
        EXPECT_EQ(g_mount.mount_count, 0);
        EXPECT_TRUE(still_open(h)) << "closed by a failed mount";
        EXPECT_EQ(disk_close(h), 0);
    }
    EXPECT_EQ(vfs_mount_handle(-1, false), -1);
}

TEST_F(Mount, DirectoryWriteBack)
{
    pk::Layout layout;
    pk::Bytes expected = pk::build(three_entries(false), &layout);
    ASSERT_EQ(mount(three_entries(false), "plain.pak", 2), 0);
    EXPECT_EQ(pak_write_directory(0), 0);
    EXPECT_EQ(slot(0).flags, SLOT_MOUNTED) << "writing back leaves the dirty bit alone";
    vfs_unmount(0);
    expected[layout.dir_offset + 64 + 24] = 0;  // the free record's name, emptied at mount
    EXPECT_EQ(file("plain.pak"), expected);

    // An empty packed directory is written as the packed form of nothing.
    ASSERT_EQ(mount(archive_of({}, true), "empty.pak", 2), 0);
    EXPECT_EQ(pak_write_directory(0), 0);
    vfs_unmount(0);
    const pk::Bytes bytes = file("empty.pak"), nothing = pk::masked_stream({});
    EXPECT_EQ(pk::get_u32(bytes, 20), nothing.size());
    EXPECT_EQ(pk::Bytes(bytes.begin() + 24, bytes.begin() + 24 + nothing.size()), nothing);
    EXPECT_EQ(vfs_mount(tmp.file("empty.pak").c_str(), 0), 0);
}

}  // namespace
