#include <cstring>
#include <vector>

#include "platform/tests/scratch.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

using Disk = Scratch;

TEST_F(Disk, OpenModeLowFourBitsChooseAccess)
{
    struct Row {
        int mode;
        bool reads, writes;
    } rows[] = {{0, true, false},    {1, false, true},   {2, true, true},  {3, true, false},
                {0x11, false, true}, {0x22, true, true}, {0x10, true, false}};
    put("f", "abc");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.mode);
        const int h = disk_open(at("f").c_str(), row.mode);
        ASSERT_NE(h, -1);
        char c = 0;
        EXPECT_EQ(disk_read(h, &c, 1) == 1, row.reads);
        EXPECT_EQ(disk_write(h, "x", 1) == 1, row.writes);
        EXPECT_EQ(disk_close(h), 0);
    }
}

// A handle that may write shares the file with nobody; readers share with
// readers only.
TEST_F(Disk, SecondHandleFollowsSharingRules)
{
    auto take = [&](char how) {
        switch (how) {
        case 'r': return disk_open(at("f").c_str(), DISK_READ);
        case 'w': return disk_open(at("f").c_str(), DISK_WRITE);
        case 'b': return disk_open(at("f").c_str(), DISK_READ_WRITE);
        case 'c': return disk_create(at("f").c_str(), DISK_ATTR_NORMAL);
        default: return disk_create(at("f").c_str(), DISK_ATTR_READONLY);
        }
    };
    const struct {
        const char *pair;
        bool second_opens;
    } rows[] = {{"rr", true},  {"rw", false}, {"wr", false}, {"bb", false},
                {"cr", false}, {"rc", false}, {"or", true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.pair);
        disk_force_delete(at("f").c_str());
        put("f", "abc");
        const int first = take(row.pair[0]);
        ASSERT_NE(first, -1);
        const int second = take(row.pair[1]);
        EXPECT_EQ(second != -1, row.second_opens);
        disk_close(second);
        disk_close(first);
    }
}

TEST_F(Disk, CreateHonoursAttributes)
{
    const struct {
        int attributes;
        bool handle_writes, read_only_after;
    } rows[] = {{0, true, false}, {1, false, true}, {2, true, false},
                {4, false, false}, {8, true, false}, {9, false, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.attributes);
        const std::string name = "f" + std::to_string(row.attributes);
        const int h = disk_create(at(name).c_str(), row.attributes);
        ASSERT_NE(h, -1);
        EXPECT_EQ(disk_write(h, "new", 3) == 3, row.handle_writes);
        EXPECT_EQ(disk_close(h), 0);
        EXPECT_EQ(read_only(name), row.read_only_after);
    }
}

TEST_F(Disk, CreateTruncatesAnExistingFile)
{
    put("f", "old content");
    const int h = disk_create(at("f").c_str(), DISK_ATTR_NORMAL);
    ASSERT_NE(h, -1);
    EXPECT_EQ(disk_size(h), 0u);
    EXPECT_EQ(disk_write(h, "new", 3), 3);
    disk_close(h);
    EXPECT_EQ(get("f"), "new");
}

TEST_F(Disk, ReadOnlyFileResistsUntilForced)
{
    if (!read_only_is_enforced(host("probe"))) GTEST_SKIP() << "read-only is not enforced here";
    put("f", "keep");
    ASSERT_EQ(disk_set_attributes(at("f").c_str(), FILE_ATTR_READONLY), 0);
    EXPECT_EQ(disk_create(at("f").c_str(), DISK_ATTR_NORMAL), -1);
    EXPECT_EQ(disk_open(at("f").c_str(), DISK_WRITE), -1);
    EXPECT_EQ(disk_open(at("f").c_str(), DISK_READ_WRITE), -1);
    EXPECT_EQ(disk_delete(at("f").c_str()), -1);
    EXPECT_EQ(get("f"), "keep");

    const int h = disk_force_create(at("f").c_str(), DISK_ATTR_NORMAL);
    ASSERT_NE(h, -1);
    EXPECT_EQ(disk_write(h, "new", 3), 3);
    disk_close(h);
    EXPECT_EQ(get("f"), "new");
    EXPECT_FALSE(read_only("f"));

    ASSERT_EQ(disk_set_attributes(at("f").c_str(), FILE_ATTR_READONLY), 0);
    EXPECT_EQ(disk_force_delete(at("f").c_str()), 0);
    EXPECT_FALSE(fs::exists(host("f")));
    EXPECT_EQ(disk_force_delete(at("f").c_str()), -1);
    const int fresh = disk_force_create(at("f").c_str(), DISK_ATTR_NORMAL);
    EXPECT_NE(fresh, -1);
    disk_close(fresh);
}

TEST_F(Disk, RenameNeverReplacesAndOpenFilesStay)
{
    put("a", "A");
    put("b", "B");
    EXPECT_EQ(disk_rename(at("a").c_str(), at("b").c_str()), -1);
    EXPECT_EQ(get("a"), "A");
    EXPECT_EQ(get("b"), "B");
    EXPECT_EQ(disk_rename(at("a").c_str(), at("c").c_str()), 0);
    EXPECT_FALSE(fs::exists(host("a")));
    EXPECT_EQ(get("c"), "A");
    EXPECT_EQ(disk_rename(at("a").c_str(), at("d").c_str()), -1);

    const int h = disk_open(at("c").c_str(), DISK_READ);
    ASSERT_NE(h, -1);
    EXPECT_EQ(disk_delete(at("c").c_str()), -1);
    EXPECT_EQ(disk_rename(at("c").c_str(), at("d").c_str()), -1);
    disk_close(h);
    EXPECT_EQ(disk_delete(at("c").c_str()), 0);
    EXPECT_EQ(disk_delete(at("c").c_str()), -1);
}

// Each row seeks from where the previous one left; a failed seek moves nothing.
TEST_F(Disk, SeekReportsPositionOrFailsInPlace)
{
    put("f", "0123456789");
    const int h = disk_open(at("f").c_str(), DISK_READ);
    ASSERT_NE(h, -1);
    const struct {
        int32_t distance;
        int origin;
        uint32_t expected;
    } rows[] = {{4, DISK_SEEK_SET, 4},          {3, DISK_SEEK_CUR, 7},
                {-2, DISK_SEEK_CUR, 5},         {-6, DISK_SEEK_CUR, DISK_FAILED},
                {0, DISK_SEEK_CUR, 5},          {-1, DISK_SEEK_END, 9},
                {5, DISK_SEEK_END, 15},         {-1, DISK_SEEK_SET, DISK_FAILED},
                {-11, DISK_SEEK_END, DISK_FAILED}, {0, 3, DISK_FAILED},
                {0, DISK_SEEK_CUR, 15}};
    int line = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(line++);
        EXPECT_EQ(disk_seek(h, row.distance, row.origin), row.expected);
    }
    char c;
    EXPECT_EQ(disk_read(h, &c, 1), 0);  // past the end
    EXPECT_EQ(disk_size(h), 10u);
    disk_close(h);
}

TEST_F(Disk, BytesGoOutAndComeBackWhole)
{
    std::vector<char> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    int h = disk_create(at("f").c_str(), DISK_ATTR_NORMAL);
    ASSERT_NE(h, -1);
    EXPECT_EQ(disk_write(h, data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
    EXPECT_EQ(disk_flush(h), 0);
    EXPECT_EQ(disk_size(h), data.size());
    disk_close(h);

    h = disk_open(at("f").c_str(), DISK_READ);
    ASSERT_NE(h, -1);
    std::vector<char> back(data.size() + 10);
    EXPECT_EQ(disk_read(h, back.data(), static_cast<int>(back.size())), static_cast<int>(data.size()));
    back.resize(data.size());
    EXPECT_EQ(back, data);
    EXPECT_EQ(disk_read(h, back.data(), 1), 0);
    EXPECT_EQ(disk_write(h, "x", 1), 0);  // a reading handle writes nothing
    EXPECT_EQ(disk_flush(h), -1);
    EXPECT_EQ(disk_close(h), 0);
    EXPECT_EQ(disk_close(-1), -1);
}

TEST_F(Disk, FoldersAreNoFiles)
{
    EXPECT_EQ(disk_mkdir(at("d").c_str()), 0);
    EXPECT_EQ(disk_mkdir(at("d").c_str()), -1);
    EXPECT_EQ(disk_open(at("d").c_str(), DISK_READ), -1);
    EXPECT_EQ(disk_create(at("d").c_str(), DISK_ATTR_NORMAL), -1);
    EXPECT_EQ(disk_delete(at("d").c_str()), -1);
    std::ofstream(host("d") / "f") << "x";
    EXPECT_EQ(disk_rmdir(at("d").c_str()), -1);
    EXPECT_EQ(disk_delete(at("d\\f").c_str()), 0);
    EXPECT_EQ(disk_rmdir(at("d").c_str()), 0);
    EXPECT_FALSE(fs::exists(host("d")));
}

#ifndef _WIN32
// Descriptors 20000 to 20009 would pass for archive handles.
TEST_F(Disk, NeverHandsOutArchiveHandleValues)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit saved = limit;
    if (limit.rlim_max < 20100) GTEST_SKIP() << "descriptor limit too low";
    limit.rlim_cur = 20100;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    put("f", "x");
    std::vector<int> filler;  // every descriptor below 20000
    for (int fd = dup(1); fd >= 0; fd = dup(1)) {
        filler.push_back(fd);
        if (fd >= 19999) break;
    }
    const int h = disk_open(at("f").c_str(), DISK_READ);
    EXPECT_GT(h, 20009);
    disk_close(h);
    for (int fd : filler) close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
}

// 功 is A5 5C in Big5: its trail byte stays in the name.
TEST_F(Disk, DoubleByteTrailIsNoFolderSeparator)
{
    const int h = disk_create(at("\xA5\x5C").c_str(), DISK_ATTR_NORMAL);
    ASSERT_NE(h, -1);
    disk_close(h);
    EXPECT_TRUE(fs::exists(host("\xA5\x5C")));
}
#endif

}  // namespace
