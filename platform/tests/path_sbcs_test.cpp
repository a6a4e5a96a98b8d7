#include <gtest/gtest.h>

#include "platform/platform.h"

// Builds for a single-byte code page take every 0x5C for a backslash.
TEST(PathSingleByte, Every5CByteIsASeparator)
{
    ASSERT_EQ(path_dbcs, 0);
    char buf[64] = "C:\\\xA5\x5C", dir[64];
    path_add_slash(buf);
    EXPECT_STREQ(buf, "C:\\\xA5\x5C");
    EXPECT_STREQ(path_dir(dir, "C:\\\xA5\x5C" "a.txt"), "C:\\\xA5\x5C");
}
