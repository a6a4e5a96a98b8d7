// Building, editing, rebuilding and attaching archives; results are read back
// byte by byte, so the code under test never judges its own output.
#include <functional>

#include "archive/tests/fixture.h"

namespace {

using pk::Bytes;

// A packed block, a record whose reserved bytes must travel with it, a freed
// record and one over 64000 bytes.
pk::Archive with_freed_middle(bool packed)
{
    pk::Entry first = pk::packed_entry("#:\\Korin3.EXE", pk::pattern_bytes(3000, 7));
    first.reserved[3] = 0x5A;
    return archive_of({first, pk::free_entry("#:\\gone.txt", pk::bytes_of("freed data")),
                       pk::raw_entry("#:\\big.dat", pk::pattern_bytes(150000, 9))}, packed);
}

using ArchiveWrite = ArchiveTest;

TEST_F(ArchiveWrite, CreatedArchiveIsExactlyTheEmptyForm)
{
    const struct { int first, last; uint32_t user; int packed; uint8_t stored_first, stored_last; } cases[] = {
        {'@', 'Z', 0xDEADBEEF, 0, '@', 'Z'}, {0x123, 0x1FF, 7, 1, 0x23, 0xFF}};  // only the low byte is stored
    for (const auto &c : cases) {
        archive_reset();
        const std::string path = tmp.write("new.pak", Bytes(9000, 0xEE));  // replaced, not overwritten in part
        ASSERT_GE(pak_create(path.c_str(), c.first, c.last, c.user, c.packed), 0);
        archive_reset();
        pk::Archive expected = archive_of({}, c.packed);
        expected.first_drive = c.stored_first, expected.last_drive = c.stored_last, expected.user_value = c.user;
        EXPECT_EQ(file("new.pak"), pk::build(expected)) << "packed " << c.packed;
    }
    EXPECT_EQ(pak_create(tmp.file("missing/new.pak").c_str(), '#', '#', 0, 0), -1);
}

TEST_F(ArchiveWrite, FlushWritesTheLastMountedArchiveOnly)
{
    const std::string a = tmp.file("a.pak"), b = tmp.file("b.pak"), c = tmp.file("c.pak");
    EXPECT_EQ(pak_flush_last(), 0);  // nothing mounted
    ASSERT_EQ(pak_create(a.c_str(), '#', '#', 0, 0), 0);
    ASSERT_EQ(pak_create(b.c_str(), '$', '$', 0, 0), 1);
    ASSERT_EQ(pak_create(c.c_str(), '@', '@', 0, 1), 2);
    vfs_unmount(1);
    ASSERT_EQ(write_entry("#:\\one.txt", "one"), 0);
    ASSERT_EQ(write_entry("@:\\two.txt", "two"), 0);
    EXPECT_EQ(pak_flush_last(), 0);
    slot(0).flags &= ~SLOT_DIRTY, slot(2).flags &= ~SLOT_DIRTY;  // the files show what the flush wrote
    vfs_unmount_all();
    EXPECT_EQ(live_names(file("c.pak")), Names{"@:\\two.txt"});
    EXPECT_TRUE(live_names(file("a.pak")).empty());
}

TEST_F(ArchiveWrite, DeletedEntryIsGoneAndAnOlderOneShowsThrough)
{
    for (const bool packed : {false, true}) {
        archive_reset();
        ASSERT_EQ(mount(archive_of({pk::raw_entry("#:\\a.txt", "old a"), pk::raw_entry("#:\\b.txt", "b"),
                                    pk::raw_entry("#:\\c.txt", "c")}, packed), "d.pak", DISK_READ_WRITE), 0);
        ASSERT_EQ(write_entry("#:\\a.txt", "new a", true), 0);
        EXPECT_EQ(vfs_delete("#:\\b.txt"), 0);
        EXPECT_EQ(vfs_delete("#:\\a.txt"), 0);
        EXPECT_EQ(read_all("#:\\b.txt"), "<none>");
        EXPECT_EQ(read_all("#:\\a.txt"), "old a");
        EXPECT_EQ(vfs_delete("#:\\nothing.txt"), -1);
        EXPECT_EQ(vfs_delete("#:\\c.*"), -1);  // a pattern would hit whatever matches
        EXPECT_EQ(vfs_open_count(), 0);
        vfs_unmount_all();
        EXPECT_EQ(live_names(file("d.pak"), true), (Names{"#:\\a.txt", "#:\\b.txt", "#:\\c.txt", "#:\\a.txt"}));
        EXPECT_EQ(live_names(file("d.pak")), (Names{"#:\\a.txt", "#:\\c.txt"}));
    }
}

TEST_F(ArchiveWrite, RenameKeepsTheDirectoryPartAndRefusesWhatCannotBeStored)
{
    const std::string at39(39, 'x'), at40(40, 'x');
    const struct { bool strip; const char *stored, *name, *new_name; int result; const char *after; } cases[] = {
        {false, "#:\\data\\a.txt", "#:\\DATA\\A.TXT", "b.txt", 0, "#:\\DATA\\b.txt"},  // as the caller wrote it
        {true, "a.txt", "#:\\a.txt", at39.c_str(), 0, at39.c_str()},
        {true, "a.txt", "#:\\a.txt", at40.c_str(), -1, "a.txt"},
        {false, "#:\\d\\\xA5\x5C.txt", "#:\\d\\\xA5\x5C.txt", "b.txt", 0, "#:\\d\\b.txt"},  // trail byte 0x5C
        {false, "#:\\a.txt", "#:\\a.txt", "keep.txt", -1, "#:\\a.txt"},  // onto a live entry
        {false, "#:\\a.txt", "#:\\a.txt", "A.TXT", 0, "#:\\A.TXT"},      // its own name in other case
        {false, "#:\\a.txt", "#:\\a.txt", "", -1, "#:\\a.txt"},
        {false, "#:\\a.txt", "#:\\a.txt", "b?.txt", -1, "#:\\a.txt"},
        {false, "#:\\a.txt", "#:\\none.txt", "b.txt", -1, "#:\\a.txt"},
    };
    for (const auto &c : cases) {
        archive_reset();
        vfs_set_drive_strip(c.strip);
        ASSERT_EQ(mount(archive_of({pk::raw_entry(c.stored, "x"), pk::raw_entry(c.strip ? "keep.txt" : "#:\\keep.txt", "k")}),
                        "r.pak", DISK_READ_WRITE), 0);
        EXPECT_EQ(vfs_rename(c.name, c.new_name), c.result) << c.name << " -> " << c.new_name;
        vfs_unmount_all();
        EXPECT_EQ(live_names(file("r.pak"), true)[0], c.after) << c.name << " -> " << c.new_name;
    }
}

// A lead byte as the drive character: ':' is never a trail byte, so the
// prefix stays whole.
TEST_F(ArchiveWrite, RenameKeepsADoubleByteLeadDrivesPrefix)
{
    pk::Archive a = archive_of({pk::raw_entry("\xA4:x.txt", "x")});
    a.first_drive = a.last_drive = 0xA4;
    ASSERT_EQ(mount(a, "lead.pak", DISK_READ_WRITE), 0);
    EXPECT_EQ(vfs_rename("\xA4:x.txt", "y.txt"), 0);
    vfs_unmount_all();
    EXPECT_EQ(live_names(file("lead.pak")), Names{"\xA4:y.txt"});
}

TEST_F(ArchiveWrite, AddedEntriesStayBesideOlderOnesAndGrowTheDirectory)
{
    const std::string path = tmp.file("g.pak");
    ASSERT_EQ(pak_create(path.c_str(), '#', '#', 0, 1), 0);
    for (int i = 0; i < 65; ++i) ASSERT_EQ(write_entry("#:\\f" + std::to_string(i), std::to_string(i), true), 0);
    ASSERT_EQ(write_entry("#:\\f3", "newer", true), 0);
    EXPECT_EQ(write_entry("#:\\" + std::string(37, 'n'), "", true), -1);
    vfs_unmount_all();
    const Names names = live_names(file("g.pak"));
    ASSERT_EQ(names.size(), 66u);
    EXPECT_EQ(names[3] + names[65], "#:\\f3#:\\f3");
    ASSERT_EQ(vfs_mount(path.c_str(), DISK_READ), 0);
    EXPECT_EQ(read_all("#:\\f64"), "64");
}

TEST_F(ArchiveWrite, SetExtensionCutsAtTheLastDot)
{
    const struct { const char *path, *ext, *result; } cases[] = {
        {"C:\\old.set\\data", ".BAK", "C:\\old.BAK"}, {"data", ".BAK", "data.BAK"}, {"a.b.c", "", "a.b"},
        {"C:\\\xB9\x43\xC0\xB8\\x.PAK", ".BAK", "C:\\\xB9\x43\xC0\xB8\\x.BAK"},
        {"x\xB9.y", ".BAK", "x\xB9.BAK"},  // no character has a trail byte '.'
        {"x\xB9\x2E", ".BAK", "x\xB9.BAK"}, {"x\xA4\x40y", ".BAK", "x\xA4\x40y.BAK"},
    };
    for (const auto &c : cases) {
        char buffer[64];
        std::strcpy(buffer, c.path);
        EXPECT_EQ(path_set_ext(buffer, c.ext), 0);
        EXPECT_STREQ(buffer, c.result) << c.path;
    }
}

TEST_F(ArchiveWrite, BackupReplacesTheOldBackupOnlyWhenItCanBeMade)
{
    tmp.write("data.PAK", pk::bytes_of("archive"));
    tmp.write("data.BAK", pk::bytes_of("old backup"));
    EXPECT_EQ(vfs_make_backup(tmp.file("data.PAK").c_str(), ".BAK"), 0);
    EXPECT_FALSE(exists("data.PAK"));
    // Refused with nothing deleted: missing, its own backup, a name over 127 bytes.
    for (const std::string &refused : {tmp.file("data.PAK"), tmp.file("data.BAK"), tmp.file("data.bak")})
        EXPECT_EQ(vfs_make_backup(refused.c_str(), ".BAK"), -1) << refused;
    EXPECT_EQ(vfs_make_backup(tmp.file("data.PAK").c_str(), ("." + std::string(130, 'e')).c_str()), -1);
    EXPECT_EQ(file("data.BAK"), pk::bytes_of("archive"));

    const std::string longer = "#:\\a\\" + std::string(28, 'l') + ".txt";  // 32-byte file part
    ASSERT_EQ(mount(archive_of({pk::raw_entry("#:\\a\\x.txt", "x"), pk::raw_entry("#:\\a\\x.BAK", "stale"),
                                pk::raw_entry(longer, "long")}), "b.pak", DISK_READ_WRITE), 0);
    EXPECT_EQ(vfs_make_backup("#:\\a\\x.txt", ".BAK"), 0);
    EXPECT_EQ(read_all("#:\\a\\x.BAK"), "x");
    EXPECT_EQ(vfs_make_backup(longer.c_str(), ".BAK"), -1);
    EXPECT_EQ(vfs_make_backup("#:\\a\\none.txt", ".BAK"), -1);
    vfs_unmount_all();
    EXPECT_EQ(live_names(file("b.pak")), (Names{"#:\\a\\x.BAK", longer}));
}

TEST_F(ArchiveWrite, CompactKeepsTheLiveEntriesBackToBack)
{
    for (const bool packed : {false, true}) {
        for (const bool any_live : {true, false}) {
            SCOPED_TRACE(testing::Message() << "packed " << packed << ", live " << any_live);
            archive_reset();
            const pk::Archive before = any_live ? with_freed_middle(packed) : archive_of({pk::free_entry("#:\\x", Bytes(70000, 1))}, packed);
            pk::Archive after = before;
            after.entries.erase(after.entries.begin() + (any_live ? 1 : 0));
            if (!any_live && packed) {  // no records: the packed form of nothing
                after.empty_directory_space = false, after.after_directory = pk::masked_stream({});
                after.packed_dir_size = static_cast<uint32_t>(after.after_directory.size());
            }
            ASSERT_EQ(mount(before, "c.pak", DISK_READ_WRITE), 0);  // compact unmounts it first
            EXPECT_EQ(pak_compact(tmp.file("c.pak").c_str()), 0);
            EXPECT_EQ(g_mount.mount_count, 0);
            EXPECT_EQ(file("c.pak"), pk::build(after));
            EXPECT_EQ(file("c.BAK"), pk::build(before));
            EXPECT_FALSE(exists("c.pak.tmp"));
            EXPECT_EQ(vfs_mount(tmp.file("c.pak").c_str(), DISK_READ), 0);
        }
    }
}

TEST_F(ArchiveWrite, CompactRefusesWhatItCannotRebuildAndChangesNothing)
{
    const Bytes archive = pk::build(with_freed_middle(false));
    Bytes not_an_archive = archive;
    not_an_archive[3] = 'X';
    const struct { const char *name; Bytes content; } cases[] = {
        {"data.BAK", archive},  // would be deleted for its own backup
        {"data", archive},      // no extension to change: no backup name
        {"data.pak", not_an_archive},
        {"prog.exe", pk::appended(pk::fake_exe(5000), archive)},
    };
    for (const auto &c : cases) {
        const std::string path = tmp.write(c.name, c.content);
        EXPECT_EQ(pak_compact(path.c_str()), -1) << c.name;
        EXPECT_EQ(file(c.name), c.content) << c.name;
        fs::remove(path);
        EXPECT_TRUE(fs::is_empty(tmp.path())) << c.name;
    }
    EXPECT_EQ(pak_compact(tmp.file("missing.pak").c_str()), -1);
}

// A read-only archive's attribute comes off only for the rename that puts
// the new archive in its place, and is back when that rename fails.
TEST_F(ArchiveWrite, CompactOfAReadOnlyArchiveKeepsItReadOnlyWhateverHappens)
{
    const Bytes archive = pk::build(with_freed_middle(false));
    const std::string path = tmp.file("r.pak");
    const auto writable = [&] {
        const int h = disk_open(path.c_str(), DISK_READ_WRITE);
        if (h != -1) disk_close(h);
        return h != -1;
    };
    // The backup's rename, the refused one over the archive, and the one after the attribute came off.
    for (const long failing : {0L, 3L}) {
        SCOPED_TRACE(failing);
        archive_reset();
        for (const std::string &name : {tmp.file("r.BAK"), path}) {
            disk_set_attributes(name.c_str(), FILE_ATTR_NORMAL);
            fs::remove(name);
        }
        pk::write_file(path, archive);
        ASSERT_EQ(disk_set_attributes(path.c_str(), FILE_ATTR_READONLY), 0);
        if (writable()) GTEST_SKIP() << "read-only files are writable here";
        if (failing) fault_arm(FAULT_RENAME, failing, false);
        EXPECT_EQ(pak_compact(path.c_str()), failing ? -1 : 0);
        EXPECT_EQ(fault_injected(), failing ? 1 : 0);
        fault_disarm();
        EXPECT_FALSE(writable());
        if (failing) EXPECT_EQ(file("r.pak"), archive);
        else EXPECT_EQ(live_names(file("r.pak")), (Names{"#:\\Korin3.EXE", "#:\\big.dat"}));
        disk_set_attributes(path.c_str(), FILE_ATTR_NORMAL);
    }
}

TEST_F(ArchiveWrite, AttachAppendsTheArchiveAndItsTrailer)
{
    const Bytes exe = pk::fake_exe(0x22000);
    for (const Bytes &archive : {pk::build(pk::Archive{}), pk::build(with_freed_middle(true))}) {
        archive_reset();
        const std::string target = tmp.write("prog.exe", exe), source = tmp.write("payload.pak", archive);
        ASSERT_EQ(pak_attach(target.c_str(), source.c_str()), 0);
        EXPECT_EQ(file("prog.exe"), pk::appended(exe, archive));
        EXPECT_FALSE(exists("prog.exe.tmp") || exists("prog.exe.old"));
        ASSERT_EQ(vfs_mount(target.c_str(), DISK_READ), 0);
    }
    archive_reset();
    EXPECT_EQ(pak_attach(tmp.file("prog.exe").c_str(), tmp.file("missing.pak").c_str()), -1);
    EXPECT_EQ(pak_attach(tmp.file("missing.exe").c_str(), tmp.file("payload.pak").c_str()), -1);
    EXPECT_FALSE(exists("missing.exe"));
}

// Every allocation, create, write and rename of a rebuild fails in turn, once
// and from then on: the original stays, under its own name, nothing is left
// behind and no handle on it leaks.
TEST_F(ArchiveWrite, FailedRebuildLeavesTheOriginalIntact)
{
    const Bytes archive = pk::build(with_freed_middle(true)), exe = pk::fake_exe(70000);
    const std::string path = tmp.file("s.pak"), target = tmp.file("s.exe");
    const struct { const char *what; std::function<int()> run; std::string name; Bytes before; } operations[] = {
        {"compact", [&] { return pak_compact(path.c_str()); }, path, archive},
        {"attach", [&] { return pak_attach(target.c_str(), path.c_str()); }, target, exe},
    };
    int failures = 0;
    for (const auto &op : operations)
        for (const unsigned kind : {FAULT_ALLOC, FAULT_CREATE, FAULT_WRITE, FAULT_RENAME})
            for (const bool sticky : {false, true})
                for (long nth = 1;; ++nth) {
                    SCOPED_TRACE(testing::Message() << op.what << " kind " << kind << " point " << nth << " sticky " << sticky);
                    archive_reset();
                    fs::remove(tmp.file("s.BAK"));
                    pk::write_file(path, archive), pk::write_file(target, exe);
                    fault_arm(kind, nth, sticky);
                    err_clear();
                    const int result = op.run();
                    const bool hit = fault_injected() > 0;
                    fault_disarm();
                    EXPECT_EQ(g_mount.mount_count, 0);
                    EXPECT_FALSE(exists(fs::path(op.name).filename().string() + ".tmp") || exists("s.exe.old"));
                    if (result == -1) {
                        ++failures;
                        EXPECT_NE(err_last(), ERR_NONE) << "a failure without a reason";
                        ASSERT_TRUE(fs::exists(op.name));
                        EXPECT_EQ(pk::read_file(op.name), op.before);
                        const int h = disk_open(op.name.c_str(), DISK_READ_WRITE);  // opened exclusively
                        EXPECT_NE(h, -1);
                        disk_close(h);
                    }
                    if (!hit) {
                        EXPECT_EQ(result, 0);
                        break;
                    }
                }
    EXPECT_GT(failures, 20);
}

}  // namespace
