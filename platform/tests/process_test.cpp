#include <cstring>
#include <functional>

#include "platform/fault.h"
#include "platform/tests/scratch.h"

namespace {

std::string arg(const char *line, int n)
{
    char dest[300] = "junk";
    cmdline_arg(line, n, dest);
    return dest;
}

TEST(CommandLine, WordsSplitAtSpacesWithOneSwitchCharDropped)
{
    const struct {
        const char *line;
        int n;
        const char *expected;
    } rows[] = {
        {"  -x   /y z", 1, "x"}, {"  -x   /y z", 2, "y"}, {"  -x   /y z", 3, "z"},
        {"  -x   /y z", 4, ""},  {"  -x   /y z", -1, ""}, {"--x", 1, "-x"},
        {"a\tb \"c d\"", 1, "a\tb"}, {"a\tb \"c d\"", 2, "\"c"}, {"- /", 2, ""},
        {"", 1, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.line) + " #" + std::to_string(row.n));
        EXPECT_EQ(arg(row.line, row.n), row.expected);
    }
}

TEST(CommandLine, WordZeroIsTheRunningProgram)
{
    const std::string self = arg("ignored words", 0);
    EXPECT_NE(self.find("platform_tests"), std::string::npos) << self;
    const int h = disk_open(self.c_str(), DISK_READ);
    EXPECT_NE(h, -1);
    disk_close(h);
}

TEST(DriveStrip, SwitchHoldsItsValueUntilReset)
{
    platform_reset();
    EXPECT_EQ(vfs_drive_strip(), 0);
    vfs_set_drive_strip(5);
    EXPECT_EQ(vfs_drive_strip(), 5);
    platform_reset();
    EXPECT_EQ(vfs_drive_strip(), 0);
}

TEST(Memory, ReallocKeepsContentsAndNeverFreesOnZero)
{
    char *block = static_cast<char *>(mem_alloc(4));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abc", 4);
    block = static_cast<char *>(mem_realloc(block, 1 << 16));
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "abc");
    // A null here would read as failure with the block still owned.
    block = static_cast<char *>(mem_realloc(block, 0));
    ASSERT_NE(block, nullptr);
    mem_free(block);
    mem_free(nullptr);
}

class Faults : public Scratch {};

// Each row arms faults and runs the points in order: a for allocation, c for
// create, w for write, r for a rename there and back (two points); x in the
// outcome marks a failure.
TEST_F(Faults, ArmedPointFailsOnceOrFromThenOn)
{
    const struct {
        unsigned kinds;
        long nth;
        bool sticky;
        const char *points, *outcome;
        long counted;
    } rows[] = {
        {FAULT_WRITE, 2, false, "wwww", ".x..", 4},
        {FAULT_WRITE, 2, true, "wwww", ".xxx", 4},
        {FAULT_ALL, 0, false, "acwr", "....", 5},
        {FAULT_CREATE | FAULT_RENAME, 1, true, "acwrw", ".x.x.", 2},
        {FAULT_ALLOC, 3, false, "awaca", "....x", 3},
        {FAULT_ALL, 5, false, "acw", "...", 3},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.points) + " " + row.outcome);
        put("a", "");
        const int out = disk_open(at("a").c_str(), DISK_WRITE);
        ASSERT_NE(out, -1);
        fault_arm(row.kinds, row.nth, row.sticky);
        std::string outcome;
        for (const char *p = row.points; *p; ++p) {
            bool ok = false;
            if (*p == 'a') {
                void *block = mem_alloc(8);
                ok = block != nullptr;
                mem_free(block);
            } else if (*p == 'c') {
                const int h = disk_create(at("c").c_str(), DISK_ATTR_NORMAL);
                ok = h != -1;
                disk_close(h);
            } else if (*p == 'w') {
                ok = disk_write(out, "x", 1) == 1;
            } else {
                ok = disk_rename(at("c").c_str(), at("d").c_str()) == 0 &&
                     disk_rename(at("d").c_str(), at("c").c_str()) == 0;
            }
            outcome += ok ? '.' : 'x';
        }
        fault_disarm();
        EXPECT_EQ(outcome, row.outcome);
        EXPECT_EQ(fault_points(), row.counted);
        disk_close(out);
    }
}

TEST_F(Faults, FailedPointLosesNothing)
{
    put("old", "old data");
    put("other", "other");
    const int h = disk_open(at("other").c_str(), DISK_READ_WRITE);
    ASSERT_NE(h, -1);
    char *block = static_cast<char *>(mem_alloc(4));
    std::memcpy(block, "abc", 4);

    fault_arm(FAULT_ALL, 1, true);
    EXPECT_EQ(disk_create(at("old").c_str(), DISK_ATTR_NORMAL), -1);
    EXPECT_EQ(disk_write(h, "new", 3), 0);
    EXPECT_EQ(disk_rename(at("old").c_str(), at("new").c_str()), -1);
    EXPECT_EQ(mem_realloc(block, 1 << 20), nullptr);
    EXPECT_EQ(fault_injected(), 4);
    fault_disarm();

    EXPECT_EQ(disk_size(h), 5u);
    disk_close(h);
    EXPECT_EQ(get("old"), "old data");
    EXPECT_EQ(get("other"), "other");
    EXPECT_FALSE(fs::exists(host("new")));
    EXPECT_STREQ(block, "abc");
    mem_free(block);
    EXPECT_EQ(fault_points(), 4);  // disarmed: no longer counted
}

}  // namespace
