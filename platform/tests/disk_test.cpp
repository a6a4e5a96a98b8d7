#include "platform/tests/scratch.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Disk = Scratch;

TEST_F(Disk, OpenModeLowFourBitsChooseAccess)
{
    const struct { int mode; bool reads, writes; } rows[] = {
        {0, true, false}, {1, false, true}, {2, true, true}, {3, true, false}, {0x11, false, true}, {0x22, true, true}};
    put("f", "abc");
    for (const auto &row : rows) {
        const int h = disk_open(at("f").c_str(), row.mode);
        char c = 0;
        EXPECT_EQ(disk_read(h, &c, 1) == 1, row.reads) << row.mode;
        EXPECT_EQ(disk_write(h, "x", 1) == 1, row.writes) << row.mode;
        EXPECT_EQ(disk_flush(h) == 0, row.writes) << row.mode;
        EXPECT_EQ(disk_close(h), 0) << row.mode;
    }
    EXPECT_EQ(disk_close(-1), -1);
}

// A handle that may write shares the file with nobody; readers share with
// readers only. r, w, b open for read, write, both; c creates, o creates read-only.
TEST_F(Disk, SecondHandleFollowsSharingRules)
{
    auto take = [&](char how) {
        if (how == 'c' || how == 'o') return disk_create(at("f").c_str(), how == 'o' ? DISK_ATTR_READONLY : 0);
        return disk_open(at("f").c_str(), how == 'w' ? DISK_WRITE : how == 'b' ? DISK_READ_WRITE : 0);
    };
    const struct { const char *pair; bool second_opens; } rows[] = {
        {"rr", true}, {"rw", false}, {"wr", false}, {"bb", false}, {"cr", false}, {"rc", false}, {"or", true}};
    for (const auto &row : rows) {
        disk_force_delete(at("f").c_str());
        put("f", "abc");
        const int first = take(row.pair[0]), second = take(row.pair[1]);
        EXPECT_NE(first, -1) << row.pair;
        EXPECT_EQ(second != -1, row.second_opens) << row.pair;
        disk_close(second), disk_close(first);
    }
}

TEST_F(Disk, CreateHonoursAttributesAndTruncates)
{
    const struct { int attributes; bool handle_writes, read_only_after; } rows[] = {
        {0, true, false}, {1, false, true}, {4, false, false}, {8, true, false}, {9, false, true}};
    for (const auto &row : rows) {
        const int h = disk_create(at("f" + std::to_string(row.attributes)).c_str(), row.attributes);
        EXPECT_EQ(disk_write(h, "new", 3) == 3, row.handle_writes) << row.attributes;
        EXPECT_EQ(disk_close(h), 0) << row.attributes;
        EXPECT_EQ(read_only("f" + std::to_string(row.attributes)), row.read_only_after) << row.attributes;
    }
    const std::string data(1 << 20, 'd');
    put("f", "old content");
    const int h = disk_create(at("f").c_str(), DISK_ATTR_NORMAL);
    EXPECT_EQ(disk_size(h), 0u);
    EXPECT_EQ(disk_write(h, data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
    EXPECT_EQ(disk_seek(h, 0, DISK_SEEK_SET), 0u);
    std::string back(data.size() + 1, 0);
    EXPECT_EQ(disk_read(h, back.data(), static_cast<int>(back.size())), static_cast<int>(data.size()));
    disk_close(h);
    EXPECT_EQ(get("f"), data);
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
    EXPECT_EQ(disk_write(h, "new", 3), 3);
    disk_close(h);
    EXPECT_EQ(get("f"), "new");
    ASSERT_EQ(disk_set_attributes(at("f").c_str(), FILE_ATTR_READONLY), 0);
    EXPECT_EQ(disk_force_delete(at("f").c_str()), 0);
    EXPECT_FALSE(fs::exists(host("f")));
    EXPECT_EQ(disk_force_delete(at("f").c_str()), -1);
}

TEST_F(Disk, RenameNeverReplacesAndOpenFilesStay)
{
    put("a", "A");
    put("b", "B");
    EXPECT_EQ(disk_rename(at("a").c_str(), at("b").c_str()), -1);
    EXPECT_EQ(get("a") + get("b"), "AB");
    EXPECT_EQ(disk_rename(at("a").c_str(), at("c").c_str()), 0);
    EXPECT_TRUE(!fs::exists(host("a")) && get("c") == "A");
    const int h = disk_open(at("c").c_str(), DISK_READ);
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
    const struct { int32_t distance; int origin; uint32_t expected; } rows[] = {
        {4, DISK_SEEK_SET, 4}, {3, DISK_SEEK_CUR, 7}, {-6, DISK_SEEK_CUR, 1}, {-6, DISK_SEEK_CUR, DISK_FAILED},
        {-1, DISK_SEEK_END, 9}, {5, DISK_SEEK_END, 15}, {-1, DISK_SEEK_SET, DISK_FAILED}, {0, 3, DISK_FAILED},
        {0, DISK_SEEK_CUR, 15}};
    for (const auto &row : rows) EXPECT_EQ(disk_seek(h, row.distance, row.origin), row.expected) << row.distance << " from " << row.origin;
    EXPECT_EQ(disk_size(h), 10u);
    disk_close(h);
}

// Each row reads at an offset: the bytes, or the reason it cannot.
TEST_F(Disk, ReadAtReadsExactlyOrSaysWhy)
{
    put("f", "0123456789");
    const int h = disk_open(at("f").c_str(), DISK_READ);
    const struct { int64_t offset; int count; const char *bytes; ErrReason reason; const char *detail; } rows[] = {
        {3, 4, "3456", ERR_NONE, nullptr},
        {0, 10, "0123456789", ERR_NONE, nullptr},
        {8, 3, nullptr, ERR_DAMAGED, "the file ends too soon"},
        {10, 1, nullptr, ERR_DAMAGED, "the file ends too soon"},
        {-1, 1, nullptr, ERR_DAMAGED, "an offset lies beyond the file"},
        {DISK_POSITION_LIMIT + 1, 1, nullptr, ERR_DAMAGED, "an offset lies beyond the file"},
    };
    // Threads that share a handle read with disk_read_shared, alike.
    for (auto *read : {disk_read_at, disk_read_shared})
        for (const auto &row : rows) {
            char buffer[16] = {};
            err_clear();
            const int r = read(h, row.offset, buffer, row.count);
            EXPECT_EQ(r, row.bytes ? 0 : -1) << row.offset;
            EXPECT_EQ(err_last(), row.reason) << row.offset;
            if (row.bytes) EXPECT_EQ(std::string(buffer, static_cast<size_t>(row.count)), row.bytes);
            else EXPECT_STREQ(err_detail(), row.detail) << row.offset;
        }
    disk_close(h);
    err_clear();
    EXPECT_EQ(disk_read_at(h, 0, nullptr, 1), -1) << "a closed handle";
    EXPECT_NE(err_last(), ERR_NONE);
}

// Many threads, one handle, each its own offsets: no read lands at another's.
TEST_F(Disk, SharedReadsOfOneHandleKeepTheirOffsets)
{
    std::string text;
    for (int i = 0; i < 4096; ++i) text += static_cast<char>('a' + i % 26);
    put("f", text);
    const int h = disk_open(at("f").c_str(), DISK_READ);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const int offset = (t * 997 + i * 31) % 4000;
                char buffer[64];
                if (disk_read_shared(h, offset, buffer, 64) != 0 || std::memcmp(buffer, &text[static_cast<size_t>(offset)], 64) != 0)
                    ++wrong;
            }
        });
    for (std::thread &t : threads) t.join();
    disk_close(h);
    EXPECT_EQ(wrong, 0);
}

TEST_F(Disk, FoldersAreNoFiles)
{
    EXPECT_EQ(disk_mkdir(at("d").c_str()), 0);
    EXPECT_EQ(disk_mkdir(at("d").c_str()), -1);
    EXPECT_EQ(disk_open(at("d").c_str(), DISK_READ), -1);
    EXPECT_EQ(disk_create(at("d").c_str(), DISK_ATTR_NORMAL), -1);
    EXPECT_EQ(disk_delete(at("d").c_str()), -1);
    put("d/f", "x");
    EXPECT_EQ(disk_rmdir(at("d").c_str()), -1);
    EXPECT_EQ(disk_delete(at("d\\f").c_str()), 0);
    EXPECT_EQ(disk_rmdir(at("d").c_str()), 0);
    EXPECT_FALSE(fs::exists(host("d")));
}

// Threads that extract write their copies, close them and leave them for
// the calling thread to name: a copy this process still holds is not what a
// killed run left, however closed it is, and the next copy beside the same
// name takes another name instead of removing it. From many threads at once.
TEST_F(Disk, TreeCopiesOfThisProcessStayUntilNamedOrDeleted)
{
    auto copy_beside = [&](DiskTree *tree, const std::string &name, const std::string &text) {
        char copy[PATH_BUFFER_SIZE];
        const int at = disk_tree_enter(tree, name.c_str(), 1);
        const int h = disk_tree_create_temp(tree, copy, sizeof copy, name.c_str() + at, ".pak-new");
        EXPECT_NE(h, -1) << name;
        EXPECT_EQ(disk_write(h, text.data(), static_cast<int>(text.size())), static_cast<int>(text.size()));
        EXPECT_EQ(disk_close(h), 0);
        return std::string(copy);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            DiskTree *tree = disk_tree_open(at("").c_str());
            ASSERT_NE(tree, nullptr);
            const std::string name = "d" + std::to_string(t) + "/x";
            const std::string first = copy_beside(tree, name, "one"), second = copy_beside(tree, name, "two");
            EXPECT_NE(first, second);
            disk_tree_enter(tree, name.c_str(), 0);
            EXPECT_EQ(disk_tree_replace(tree, first.c_str(), "x"), 0) << "the first copy was taken for a left one";
            EXPECT_EQ(disk_tree_delete(tree, second.c_str()), 0);
            disk_tree_close(tree);
        });
    for (std::thread &t : threads) t.join();
    for (int t = 0; t < 4; ++t) {
        const fs::path folder = host("d" + std::to_string(t));
        EXPECT_EQ(get("d" + std::to_string(t) + "/x"), "one");
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "a copy was left";
    }
}

#ifndef _WIN32
// 功 is A5 5C in Big5: its trail byte stays in the name.
TEST_F(Disk, DoubleByteTrailIsNoFolderSeparator)
{
    disk_close(disk_create(at("\xA5\x5C").c_str(), DISK_ATTR_NORMAL));
    EXPECT_TRUE(fs::exists(host("\xA5\x5C")));
}
#endif

}  // namespace
