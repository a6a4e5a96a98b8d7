// Building, editing, rebuilding and attaching archives. Fixtures come from the
// test support builder and results are read back byte by byte, so the code
// under test never judges its own output.
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/tests/fixture.h"

namespace {

namespace fs = std::filesystem;
using testpak::Bytes;

struct Record {
    std::string name;
    uint32_t data_offset;
};

// The directory of an archive file, parsed here rather than by mounting.
std::vector<Record> directory_of(const Bytes &file)
{
    const uint32_t count = testpak::get_u32(file, 4);
    const uint32_t at = testpak::get_u32(file, 8);
    const uint32_t packed = testpak::get_u32(file, 20);
    Bytes dir(file.begin() + at, file.end());
    if (packed && count) dir = testpak::unmask_and_inflate(Bytes(dir.begin(), dir.begin() + packed), count * 64).value();
    std::vector<Record> records;
    for (uint32_t i = 0; i < count; ++i) {
        const char *name = reinterpret_cast<const char *>(dir.data() + i * 64 + 24);
        records.push_back({std::string(name, strnlen(name, 40)), testpak::get_u32(dir, i * 64 + 4)});
    }
    return records;
}

std::vector<std::string> live_names(const Bytes &file)
{
    std::vector<std::string> names;
    for (const Record &r : directory_of(file))
        if (r.data_offset) names.push_back(r.name);
    return names;
}

int write_entry(const char *name, const std::string &text, bool beside = false)
{
    const int h = beside ? vfs_add(name, 0) : vfs_create(name, 0);
    if (h == -1) return -1;
    const int n = vfs_write(h, text.data(), static_cast<int>(text.size()));
    vfs_close(h);
    return n == static_cast<int>(text.size()) ? 0 : -1;
}

testpak::Archive archive_of(std::vector<testpak::Entry> entries, bool packed = false)
{
    testpak::Archive a;
    a.entries = std::move(entries);
    a.packed_directory = packed;
    return a;
}

// Three entries with the middle one freed; one packed block, one entry with
// reserved bytes that must travel with it, and one over 64000 bytes.
testpak::Archive with_freed_middle(bool packed)
{
    testpak::Entry first = testpak::packed_entry("#:\\Korin3.EXE", testpak::pattern_bytes(3000, 7));
    first.reserved[3] = 0x5A;
    return archive_of({first, testpak::free_entry("#:\\gone.txt", testpak::bytes_of("freed data")),
                       testpak::raw_entry("#:\\big.dat", testpak::pattern_bytes(150000, 9))},
                      packed);
}

class ArchiveWrite : public ArchiveTest {
protected:
    Bytes file(const std::string &name) const { return testpak::read_file(tmp.path() / name); }
    bool exists(const std::string &name) const { return fs::exists(tmp.path() / name); }
};

TEST_F(ArchiveWrite, CreatedArchiveIsExactlyTheEmptyForm)
{
    struct Case { int first, last; uint32_t user; int packed; uint8_t stored_first, stored_last; };
    const Case cases[] = {
        {'@', 'Z', 0xDEADBEEF, 0, '@', 'Z'},
        {0x123, 0x1FF, 7, 1, 0x23, 0xFF},  // only the low byte is stored
    };
    for (const Case &c : cases) {
        archive_reset();
        const std::string path = tmp.file("new.pak");
        testpak::write_file(path, Bytes(9000, 0xEE));  // replaced, not overwritten in part
        const int index = pak_create(path.c_str(), c.first, c.last, c.user, c.packed);
        ASSERT_GE(index, 0);
        EXPECT_EQ(slot(index).entry_count, 0);
        EXPECT_EQ(slot(index).capacity, 64);
        archive_reset();
        testpak::Archive expected;
        expected.first_drive = c.stored_first;
        expected.last_drive = c.stored_last;
        expected.user_value = c.user;
        expected.packed_directory = c.packed != 0;
        EXPECT_EQ(file("new.pak"), testpak::build(expected)) << "packed " << c.packed;
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
    // Unmounted without a write-back, the files show what the flush wrote.
    slot(0).flags &= ~SLOT_DIRTY;
    slot(2).flags &= ~SLOT_DIRTY;
    vfs_unmount_all();
    EXPECT_EQ(live_names(file("c.pak")), std::vector<std::string>{"@:\\two.txt"});
    EXPECT_TRUE(live_names(file("a.pak")).empty());

    // Packed and still empty: the directory written is the packed empty form.
    archive_reset();
    ASSERT_EQ(pak_create(c.c_str(), '@', '@', 0, 1), 0);
    EXPECT_EQ(pak_flush_last(), 0);
    archive_reset();
    EXPECT_EQ(vfs_mount(c.c_str(), DISK_READ), 0);
}

TEST_F(ArchiveWrite, DeletedEntryIsGoneAndAnOlderOneShowsThrough)
{
    for (const bool packed : {false, true}) {
        archive_reset();
        const std::string path = tmp.write("d.pak", testpak::build(archive_of(
            {testpak::raw_entry("#:\\a.txt", "old a"), testpak::raw_entry("#:\\b.txt", "b"),
             testpak::raw_entry("#:\\c.txt", "c")}, packed)));
        ASSERT_EQ(vfs_mount(path.c_str(), DISK_READ_WRITE), 0);
        ASSERT_EQ(write_entry("#:\\a.txt", "new a", true), 0);
        EXPECT_EQ(vfs_delete("#:\\b.txt"), 0);
        EXPECT_EQ(vfs_delete("#:\\a.txt"), 0);
        EXPECT_EQ(read_all("#:\\b.txt"), "<none>");
        EXPECT_EQ(read_all("#:\\a.txt"), "old a");
        EXPECT_EQ(vfs_delete("#:\\nothing.txt"), -1);
        EXPECT_EQ(vfs_delete("#:\\c.*"), -1);  // a pattern would hit whatever matches
        EXPECT_EQ(vfs_open_count(), 0);
        vfs_unmount_all();
        const std::vector<Record> records = directory_of(file("d.pak"));
        ASSERT_EQ(records.size(), 4u);
        EXPECT_EQ(live_names(file("d.pak")), (std::vector<std::string>{"#:\\a.txt", "#:\\c.txt"}));
        EXPECT_EQ(records[1].name, "#:\\b.txt");  // freed records keep their place
    }
}

TEST_F(ArchiveWrite, RenameKeepsTheDirectoryPartAndRefusesWhatCannotBeStored)
{
    struct Case { bool strip; const char *stored, *name, *new_name; int result; const char *after; };
    const std::string at39(39, 'x'), at40(40, 'x');
    const Case cases[] = {
        {false, "#:\\data\\a.txt", "#:\\data\\a.txt", "b.txt", 0, "#:\\data\\b.txt"},
        {false, "#:\\data\\a.txt", "#:\\DATA\\A.TXT", "b.txt", 0, "#:\\DATA\\b.txt"},  // as the caller wrote it
        {true, "a.txt", "#:\\a.txt", "b.txt", 0, "b.txt"},
        {true, "a.txt", "#:\\a.txt", at39.c_str(), 0, at39.c_str()},
        {true, "a.txt", "#:\\a.txt", at40.c_str(), -1, "a.txt"},  // 40 characters
        {false, "#:\\d\\\xA5\x5C.txt", "#:\\d\\\xA5\x5C.txt", "b.txt", 0, "#:\\d\\b.txt"},  // trail byte 0x5C
        {false, "#:\\a.txt", "#:\\a.txt", "keep.txt", -1, "#:\\a.txt"},  // onto a live entry
        {false, "#:\\a.txt", "#:\\a.txt", "A.TXT", 0, "#:\\A.TXT"},      // its own name in other case
        {false, "#:\\a.txt", "#:\\a.txt", "", -1, "#:\\a.txt"},
        {false, "#:\\a.txt", "#:\\a.txt", "b?.txt", -1, "#:\\a.txt"},
        {false, "#:\\a.txt", "#:\\none.txt", "b.txt", -1, "#:\\a.txt"},
    };
    for (const Case &c : cases) {
        archive_reset();
        const std::string keep = c.strip ? "keep.txt" : "#:\\keep.txt";
        const std::string path =
            tmp.write("r.pak", testpak::build(archive_of({testpak::raw_entry(c.stored, "x"), testpak::raw_entry(keep, "k")})));
        vfs_set_drive_strip(c.strip);
        ASSERT_EQ(vfs_mount(path.c_str(), DISK_READ_WRITE), 0);
        EXPECT_EQ(vfs_rename(c.name, c.new_name), c.result) << c.name << " -> " << c.new_name;
        vfs_unmount_all();
        EXPECT_EQ(directory_of(file("r.pak"))[0].name, c.after) << c.name << " -> " << c.new_name;
    }
}

TEST_F(ArchiveWrite, AddedEntriesStayBesideOlderOnesAndGrowTheDirectory)
{
    const std::string path = tmp.file("g.pak");
    ASSERT_EQ(pak_create(path.c_str(), '#', '#', 0, 1), 0);
    for (int i = 0; i < 65; ++i) ASSERT_EQ(write_entry(("#:\\f" + std::to_string(i)).c_str(), std::to_string(i), true), 0);
    EXPECT_EQ(slot(0).capacity, 128);
    ASSERT_EQ(write_entry("#:\\f3", "newer", true), 0);
    EXPECT_EQ(write_entry(("#:\\" + std::string(40 - 3, 'n')).c_str(), "", true), -1);
    vfs_unmount_all();
    const std::vector<std::string> names = live_names(file("g.pak"));
    ASSERT_EQ(names.size(), 66u);
    EXPECT_EQ(names[3], "#:\\f3");
    EXPECT_EQ(names[65], "#:\\f3");
    ASSERT_EQ(vfs_mount(path.c_str(), DISK_READ), 0);
    EXPECT_EQ(read_all("#:\\f64"), "64");
}

TEST_F(ArchiveWrite, SetExtensionCutsAtTheLastDot)
{
    const struct { const char *path, *ext, *result; } cases[] = {
        {"C:\\game\\data.PAK", ".BAK", "C:\\game\\data.BAK"},
        {"C:\\old.set\\data", ".BAK", "C:\\old.BAK"},
        {"data", ".BAK", "data.BAK"},
        {"a.b.c", "", "a.b"},
        {"C:\\\xB9\x43\xC0\xB8\\x.PAK", ".BAK", "C:\\\xB9\x43\xC0\xB8\\x.BAK"},
        {"x\xB9.y", ".BAK", "x\xB9.y.BAK"},  // a '.' behind a lead byte belongs to its character
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
    // Disk side.
    testpak::write_file(tmp.path() / "data.PAK", testpak::bytes_of("archive"));
    testpak::write_file(tmp.path() / "data.BAK", testpak::bytes_of("old backup"));
    EXPECT_EQ(vfs_make_backup(tmp.file("data.PAK").c_str(), ".BAK"), 0);
    EXPECT_FALSE(exists("data.PAK"));
    EXPECT_EQ(file("data.BAK"), testpak::bytes_of("archive"));
    // Refused with nothing deleted: a missing name, a name that is its own
    // backup, a backup name over 127 bytes.
    EXPECT_EQ(vfs_make_backup(tmp.file("data.PAK").c_str(), ".BAK"), -1);
    EXPECT_EQ(vfs_make_backup(tmp.file("data.BAK").c_str(), ".BAK"), -1);
    EXPECT_EQ(vfs_make_backup(tmp.file("data.bak").c_str(), ".BAK"), -1);
    EXPECT_EQ(vfs_make_backup(tmp.file("data.PAK").c_str(), ("." + std::string(130, 'e')).c_str()), -1);
    EXPECT_EQ(file("data.BAK"), testpak::bytes_of("archive"));

    // Archive side: the entry keeps its directory part.
    const std::string path = tmp.write("b.pak", testpak::build(archive_of(
        {testpak::raw_entry("#:\\a\\x.txt", "x"), testpak::raw_entry("#:\\a\\x.BAK", "stale"),
         testpak::raw_entry("#:\\a\\" + std::string(28, 'l') + ".txt", "long")})));
    ASSERT_EQ(vfs_mount(path.c_str(), DISK_READ_WRITE), 0);
    EXPECT_EQ(vfs_make_backup("#:\\a\\x.txt", ".BAK"), 0);
    EXPECT_EQ(read_all("#:\\a\\x.BAK"), "x");
    EXPECT_EQ(vfs_make_backup(("#:\\a\\" + std::string(28, 'l') + ".txt").c_str(), ".BAK"), -1);  // 32-byte file part
    EXPECT_EQ(vfs_make_backup("#:\\a\\none.txt", ".BAK"), -1);
    vfs_unmount_all();
    EXPECT_EQ(live_names(file("b.pak")), (std::vector<std::string>{"#:\\a\\x.BAK", "#:\\a\\" + std::string(28, 'l') + ".txt"}));
}

TEST_F(ArchiveWrite, CompactKeepsTheLiveEntriesBackToBack)
{
    for (const bool packed : {false, true}) {
        archive_reset();
        const testpak::Archive before = with_freed_middle(packed);
        const std::string path = tmp.write("c.pak", testpak::build(before));
        ASSERT_EQ(vfs_mount(path.c_str(), DISK_READ_WRITE), 0);  // compact unmounts it first
        EXPECT_EQ(pak_compact(path.c_str()), 0);
        EXPECT_EQ(g_mount.mount_count, 0);

        testpak::Archive after = before;
        after.entries.erase(after.entries.begin() + 1);
        EXPECT_EQ(file("c.pak"), testpak::build(after)) << "packed " << packed;
        EXPECT_EQ(file("c.BAK"), testpak::build(before));
        EXPECT_FALSE(exists("c.pak.tmp"));
        ASSERT_EQ(vfs_mount(path.c_str(), DISK_READ), 0);
        EXPECT_EQ(read_all("#:\\big.dat").size(), 150000u);
    }
}

TEST_F(ArchiveWrite, CompactWithoutLiveEntriesMountsAgain)
{
    for (const bool packed : {false, true}) {
        archive_reset();
        const std::string path = tmp.write("e.pak", testpak::build(archive_of({testpak::free_entry("#:\\x", Bytes(70000, 1))}, packed)));
        ASSERT_EQ(pak_compact(path.c_str()), 0);
        const Bytes result = file("e.pak");
        EXPECT_EQ(testpak::get_u32(result, 4), 0u);
        EXPECT_EQ(testpak::get_u32(result, 8), 24u);
        const size_t directory = packed ? testpak::masked_stream({}).size() : 4096;
        EXPECT_EQ(result.size(), 24 + directory);
        EXPECT_EQ(testpak::get_u32(result, 20), packed ? directory : 0);
        EXPECT_EQ(vfs_mount(path.c_str(), DISK_READ), 0) << "packed " << packed;
    }
}

TEST_F(ArchiveWrite, CompactRefusesWhatItCannotRebuildAndChangesNothing)
{
    const Bytes archive = testpak::build(with_freed_middle(false));
    Bytes not_an_archive = archive;
    not_an_archive[3] = 'X';
    const struct { const char *name; Bytes content; } cases[] = {
        {"data.BAK", archive},                   // would be deleted for its own backup
        {"data.pak", not_an_archive},
        {"prog.exe", testpak::appended(testpak::fake_exe(5000), archive)},
    };
    for (const auto &c : cases) {
        const std::string path = tmp.write(c.name, c.content);
        EXPECT_EQ(pak_compact(path.c_str()), -1) << c.name;
        EXPECT_EQ(file(c.name), c.content) << c.name;
        fs::remove(path);
        EXPECT_TRUE(fs::is_empty(tmp.path())) << c.name;
    }
    EXPECT_EQ(pak_compact(tmp.file("missing.pak").c_str()), -1);
    EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST_F(ArchiveWrite, AttachAppendsTheArchiveAndItsTrailer)
{
    const Bytes exe = testpak::fake_exe(0x22000);
    for (const Bytes &archive : {testpak::build(testpak::Archive{}), testpak::build(with_freed_middle(true))}) {
        archive_reset();
        const std::string target = tmp.write("prog.exe", exe);
        const std::string source = tmp.write("payload.pak", archive);
        ASSERT_EQ(pak_attach(target.c_str(), source.c_str()), 0);
        EXPECT_EQ(file("prog.exe"), testpak::appended(exe, archive));
        EXPECT_FALSE(exists("prog.exe.tmp") || exists("prog.exe.old"));
        ASSERT_EQ(vfs_mount(target.c_str(), DISK_READ), 0);
    }
    archive_reset();
    EXPECT_EQ(pak_attach(tmp.file("prog.exe").c_str(), tmp.file("missing.pak").c_str()), -1);
    EXPECT_EQ(pak_attach(tmp.file("missing.exe").c_str(), tmp.file("payload.pak").c_str()), -1);
    EXPECT_FALSE(exists("missing.exe"));
}

// Every allocation, create, write and rename of a rebuild fails in turn, once
// and from then on: the original stays, under its own name, and nothing is
// left behind.
TEST_F(ArchiveWrite, FailedRebuildLeavesTheOriginalIntact)
{
    const Bytes archive = testpak::build(with_freed_middle(true));
    const Bytes exe = testpak::fake_exe(70000);
    const std::string path = tmp.file("s.pak"), target = tmp.file("s.exe"), bak = tmp.file("s.BAK");
    const auto compact = [&] { return pak_compact(path.c_str()); };
    const auto attach = [&] { return pak_attach(target.c_str(), path.c_str()); };
    const struct { const char *what; std::function<int()> run; std::string name; Bytes before; } operations[] = {
        {"compact", compact, path, archive},
        {"attach", attach, target, exe},
    };
    const unsigned kinds[] = {FAULT_ALLOC, FAULT_CREATE, FAULT_WRITE, FAULT_RENAME};
    int failures = 0;
    for (const auto &op : operations) {
        for (const unsigned kind : kinds) {
            for (const bool sticky : {false, true}) {
                for (long nth = 1;; ++nth) {
                    archive_reset();
                    fs::remove(bak);
                    testpak::write_file(path, archive);
                    testpak::write_file(target, exe);
                    fault_arm(kind, nth, sticky);
                    const int result = op.run();
                    const bool hit = fault_injected() > 0;
                    fault_disarm();
                    const std::string where = std::string(op.what) + " kind " + std::to_string(kind) + " point " +
                                              std::to_string(nth) + (sticky ? " sticky" : "");
                    EXPECT_EQ(g_mount.mount_count, 0) << where;
                    EXPECT_FALSE(exists(fs::path(op.name).filename().string() + ".tmp")) << where;
                    EXPECT_FALSE(exists("s.exe.old")) << where;
                    if (result == -1) {
                        ++failures;
                        ASSERT_TRUE(fs::exists(op.name)) << where;
                        EXPECT_EQ(testpak::read_file(op.name), op.before) << where;
                        // Opened exclusively: no handle on it was leaked.
                        const int h = disk_open(op.name.c_str(), DISK_READ_WRITE);
                        EXPECT_NE(h, -1) << where;
                        disk_close(h);
                    }
                    if (!hit) {
                        EXPECT_EQ(result, 0) << where;
                        break;
                    }
                }
            }
        }
    }
    EXPECT_GT(failures, 20);
}

}  // namespace
