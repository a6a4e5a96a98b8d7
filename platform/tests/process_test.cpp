#include <cctype>
#include <cstring>

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
    const struct { const char *line; int n; const char *expected; } rows[] = {
        {"  -x   /y z", 1, "x"}, {"  -x   /y z", 2, "y"}, {"  -x   /y z", 3, "z"}, {"  -x   /y z", 4, ""},
        {"  -x   /y z", -1, ""}, {"--x", 1, "-x"}, {"a\tb \"c d\"", 1, "a\tb"}, {"a\tb \"c d\"", 2, "\"c"}, {"", 1, ""},
    };
    for (const auto &row : rows) EXPECT_EQ(arg(row.line, row.n), row.expected) << row.line << " #" << row.n;
    const std::string self = arg("ignored", 0);  // the running program
    EXPECT_NE(self.find("platform_tests"), std::string::npos) << self;
    const int h = disk_open(self.c_str(), DISK_READ);
    EXPECT_NE(h, -1);
    disk_close(h);
}

TEST(Memory, ReallocKeepsContentsAndNeverFreesOnZero)
{
    char *block = static_cast<char *>(mem_alloc(4));
    std::memcpy(block, "abc", 4);
    block = static_cast<char *>(mem_realloc(block, 1 << 16));
    ASSERT_NE(block, nullptr);
    EXPECT_STREQ(block, "abc");
    block = static_cast<char *>(mem_realloc(block, 0));  // a null here would read as failure with the block still owned
    ASSERT_NE(block, nullptr);
    mem_free(block);
}

using Processes = Scratch;
TEST_F(Processes, AFileIsRunningOnlyWhileAProcessWasStartedFromIt)
{
    const std::string self = arg("", 0);
    put("copy.exe", "MZ");
    std::string upper = self;
    for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const struct { std::string name; int running; } rows[] = {
        {self, 1},
#ifdef _WIN32
        {upper, 1},  // as Windows compares names
#endif
        {at("copy.exe"), 0},
        {at("missing.exe"), 0},
    };
    for (const auto &row : rows) EXPECT_EQ(process_image_running(row.name.c_str()), row.running) << row.name;
    fault_arm(FAULT_IMAGE_RUNNING, 1, false);
    EXPECT_EQ(process_image_running(at("copy.exe").c_str()), 1);
}

using Faults = Scratch;

// The fault build counts a failure passed on while no reason is set, and
// only then; every test binary checks the count at its end.
TEST_F(Faults, AFailurePassedOnWithoutAReasonIsCounted)
{
    const long before = fault_reasonless();
    err_set(ERR_DISK_FULL);
    EXPECT_EQ(passed(-1), -1);
    EXPECT_EQ(fault_reasonless(), before);
    err_clear();
    EXPECT_EQ(passed(-1), -1);
    EXPECT_EQ(fault_reasonless(), before + 1);
    EXPECT_NE(std::strstr(fault_reasonless_where(), "process_test.cpp:"), nullptr) << fault_reasonless_where();
    fault_reasonless_set(before);  // this one was made on purpose
}

// Each row arms faults and passes the points in order: a allocates, c
// creates, w writes, r renames; x in the outcome marks a failed point.
TEST_F(Faults, ArmedPointFailsOnceOrFromThenOn)
{
    const struct { unsigned kinds; long nth; bool sticky; const char *points, *outcome; long counted; } rows[] = {
        {FAULT_WRITE, 2, false, "wwww", ".x..", 4},
        {FAULT_WRITE, 2, true, "wwww", ".xxx", 4},
        {FAULT_ALL, 0, false, "acwr", "....", 4},
        {FAULT_CREATE | FAULT_RENAME, 1, true, "acwrw", ".x.x.", 2},
        {FAULT_ALLOC, 3, false, "awaca", "....x", 3},
    };
    put("c", "");
    const int out = disk_open(at("c").c_str(), DISK_WRITE);
    auto pass = [&](char point) {
        if (point == 'a') {
            void *block = mem_alloc(8);
            return mem_free(block), block != nullptr;
        }
        if (point == 'c') {
            const int h = disk_create(at("new").c_str(), DISK_ATTR_NORMAL);
            return disk_close(h), h != -1;
        }
        if (point == 'w') return disk_write(out, "x", 1) == 1;
        const bool renamed = disk_rename(at("new").c_str(), at("old").c_str()) == 0;
        return fs::remove(host("old")), renamed;
    };
    for (const auto &row : rows) {
        fault_arm(row.kinds, row.nth, row.sticky);
        std::string outcome;
        for (const char *p = row.points; *p; ++p) outcome += pass(*p) ? '.' : 'x';
        fault_disarm();
        EXPECT_EQ(outcome, row.outcome);
        EXPECT_EQ(fault_points(), row.counted) << row.outcome;
        fs::remove(host("new"));
    }
    disk_close(out);
}

TEST_F(Faults, FailedPointLosesNothing)
{
    put("old", "old data");
    put("other", "other");
    const int h = disk_open(at("other").c_str(), DISK_READ_WRITE);
    char *block = static_cast<char *>(mem_alloc(4));
    std::memcpy(block, "abc", 4);
    fault_arm(FAULT_ALL, 1, true);
    EXPECT_EQ(disk_create(at("old").c_str(), DISK_ATTR_NORMAL), -1);
    EXPECT_EQ(disk_write(h, "new", 3), 0);
    EXPECT_EQ(disk_rename(at("old").c_str(), at("new").c_str()), -1);
    EXPECT_EQ(mem_realloc(block, 1 << 20), nullptr);
    EXPECT_EQ(fault_injected(), 4);
    fault_disarm();
    EXPECT_NE(disk_write(h, "x", 1), 0);
    EXPECT_EQ(fault_points(), 4);  // disarmed points are not counted
    EXPECT_EQ(disk_size(h), 5u);
    disk_close(h);
    EXPECT_EQ(get("old") + get("other"), "old dataxther");
    EXPECT_FALSE(fs::exists(host("new")));
    EXPECT_STREQ(block, "abc");
    mem_free(block);
}

}  // namespace
