#include "archive/tests/fixture.h"

namespace {

using Handles = ArchiveTest;

const std::string k60(60, '6');

std::string two_entries(pk::TempDir &tmp)
{
    return tmp.write("a.pak", pk::build(archive_of({pk::raw_entry("#:\\SIXTY", k60), pk::raw_entry("#:\\FIVE", "fives")})));
}

TEST_F(Handles, NumberingAndLimits)
{
    ASSERT_EQ(vfs_mount(two_entries(tmp).c_str(), 2), 0);
    EXPECT_EQ(vfs_open("#:\\FIVE", 0), 20000);
    EXPECT_EQ(vfs_close(20000), 0);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(vfs_open("#:\\SIXTY", 0), 20000 + i) << "the lowest free record";
    EXPECT_EQ(vfs_open("#:\\FIVE", 0), -1);
    EXPECT_EQ(vfs_create("#:\\NEW", 0), -1);
    EXPECT_EQ(slot(0).entry_count, 2) << "a refused create adds nothing";
    EXPECT_EQ(vfs_close(20003), 0);
    EXPECT_EQ(vfs_close(20003), 0) << "closing twice does nothing more";
    EXPECT_EQ(vfs_open_count(), 9);
    EXPECT_EQ(vfs_create("#:\\NEW", 0), 20003);
    for (int i = 0; i < 10; ++i) vfs_close(20000 + i);
    EXPECT_EQ(vfs_open_count(), 0);
}

TEST_F(Handles, ReadsAndSeeksStayInsideTheEntry)
{
    ASSERT_EQ(vfs_mount(two_entries(tmp).c_str(), 0), 0);
    const int h = vfs_open("#:\\SIXTY", 0);
    char buf[100];
    EXPECT_EQ(vfs_read(h, buf, 100), 60);
    EXPECT_EQ(std::string(buf, 60), k60);
    EXPECT_EQ(vfs_read(h, buf, 100), 0);
    const struct { int start, distance, origin, expected; } seeks[] = {
        {0, -4, 2, 56}, {0, 10, 2, 60}, {3, -10, 1, 0}, {3, 7, 1, 10}, {50, 99, 0, 60}, {9, -1, 0, 0}, {9, 5, 7, 5}};
    for (const auto &s : seeks) {
        vfs_seek(h, s.start, 0);
        EXPECT_EQ(vfs_seek(h, s.distance, s.origin), s.expected) << s.start << " " << s.distance << " " << s.origin;
    }
    EXPECT_EQ(vfs_read(h, buf, 100), 55);
    vfs_close(h);
}

TEST_F(Handles, CreatedEntriesAppendAndReachTheFile)
{
    const std::string path = two_entries(tmp);
    ASSERT_EQ(vfs_mount(path.c_str(), 2), 0);
    EXPECT_EQ(vfs_create(("#:\\" + std::string(37, 'L')).c_str(), 0), -1) << "40 characters";
    EXPECT_EQ(vfs_create("#:\\*.TXT", 0), -1) << "wildcards would free whatever they match";
    const int h = vfs_create(("#:\\" + std::string(36, 'L')).c_str(), 0);  // 39 characters
    ASSERT_EQ(h, 20000);
    EXPECT_EQ(vfs_write(h, "0123456789", 10), 10);
    EXPECT_EQ(vfs_write(h, "abcde", 5), 5);
    EXPECT_EQ(vfs_size(h), 15);
    vfs_close(h);
    const int again = vfs_create("#:\\FIVE", 0);  // replaces the old entry
    EXPECT_EQ(vfs_size(again), 0);
    EXPECT_EQ(vfs_write(again, "5", 1), 1);
    vfs_close(again);
    vfs_unmount(0);

    ASSERT_EQ(vfs_mount(path.c_str(), 0), 0);
    EXPECT_EQ(live_names(pk::read_file(path)), (Names{"#:\\SIXTY", "#:\\" + std::string(36, 'L'), "#:\\FIVE"}));
    EXPECT_EQ(read_all("#:\\" + std::string(36, 'l')), "0123456789abcde");
    EXPECT_EQ(read_all("#:\\FIVE"), "5");
    EXPECT_EQ(read_all("#:\\SIXTY"), k60);
}

// A write anywhere but at the end of the archive's newest entry would land
// on data behind it.
TEST_F(Handles, WritesThatWouldOverwriteOtherDataAreRefused)
{
    const std::string path = two_entries(tmp);
    ASSERT_EQ(vfs_mount(path.c_str(), 2), 0);
    const int older = vfs_create("#:\\OLDER", 0);
    ASSERT_EQ(vfs_write(older, "old", 3), 3);
    const int newer = vfs_create("#:\\NEWER", 0);
    EXPECT_EQ(vfs_write(older, "xyz", 3), 0) << "not the newest entry, though at the directory";
    ASSERT_EQ(vfs_write(newer, "new", 3), 3);
    const int first = vfs_open("#:\\SIXTY", 0);
    EXPECT_EQ(vfs_write(older, "xyz", 3), 0) << "not the newest entry";
    EXPECT_EQ(vfs_write(first, "xyz", 3), 0) << "an entry from the file";
    vfs_seek(newer, 1, 0);
    EXPECT_EQ(vfs_write(newer, "x", 1), 0) << "not at the end of its data";
    vfs_seek(newer, 0, 2);
    EXPECT_EQ(vfs_write(newer, "er", 2), 2) << "the end of the newest entry takes more";
    for (int h : {older, newer, first}) vfs_close(h);
    vfs_unmount(0);

    ASSERT_EQ(vfs_mount(path.c_str(), 0), 0);
    EXPECT_EQ(read_all("#:\\OLDER") + read_all("#:\\NEWER") + read_all("#:\\SIXTY"), "oldnewer" + k60);
}

TEST_F(Handles, HandlesSurviveGrowthAndDieWithTheirArchive)
{
    const std::string path = two_entries(tmp);
    ASSERT_EQ(vfs_mount(path.c_str(), 2), 0);
    const int h = vfs_open("#:\\FIVE", 0);
    for (int i = 0; i < 70; ++i) vfs_close(vfs_create(("#:\\N" + std::to_string(i)).c_str(), 0));
    EXPECT_EQ(slot(0).capacity, 130) << "the directory moved twice";
    char buf[8] = {};
    EXPECT_EQ(vfs_read(h, buf, 8), 5);
    EXPECT_STREQ(buf, "fives");
    const int written = vfs_create("#:\\W", 0);
    EXPECT_EQ(vfs_write(written, "w", 1), 1);

    vfs_unmount(0);
    ASSERT_EQ(vfs_mount(path.c_str(), 2), 0) << "the same slot, another mount";
    EXPECT_EQ(vfs_read(h, buf, 8), 0);
    EXPECT_EQ(vfs_write(h, buf, 1), 0);
    EXPECT_EQ(vfs_size(h), -1);
    EXPECT_EQ(vfs_seek(h, 0, 0), -1);
    EXPECT_EQ(vfs_close(h) + vfs_close(written) + vfs_open_count(), 0);
    EXPECT_EQ(slot(0).flags, SLOT_MOUNTED) << "a dead handle marks the new mount nothing";
}

TEST_F(Handles, FailedGrowthKeepsTheDirectoryAsItWas)
{
    ASSERT_EQ(vfs_mount(two_entries(tmp).c_str(), 2), 0);
    fault_arm(FAULT_ALLOC, 1, true);
    EXPECT_EQ(vfs_create("#:\\FIVE", 0), -1);
    fault_disarm();
    EXPECT_EQ(slot(0).entry_count + slot(0).capacity + vfs_open_count(), 4);
    EXPECT_EQ(read_all("#:\\FIVE"), "fives") << "the entry it would replace is still live";
}

}  // namespace
