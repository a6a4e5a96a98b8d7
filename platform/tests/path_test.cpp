#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

std::string dir_of(const char *s)
{
    char buf[300];
    path_dir(buf, s);
    return buf;
}

std::string file_of(const char *s, int *n = nullptr)
{
    char buf[300];
    const int r = path_file(buf, s);
    if (n) *n = r;
    return buf;
}

std::string with_slash(const char *s)
{
    char buf[300];
    std::strcpy(buf, s);
    path_add_slash(buf);
    return buf;
}

TEST(Path, DirectoryPartKeepsItsSeparator)
{
    EXPECT_EQ(dir_of("C:\\dir\\file.txt"), "C:\\dir\\");
    EXPECT_EQ(dir_of("C:file"), "C:");
    EXPECT_EQ(dir_of("file"), "");
    EXPECT_EQ(dir_of("C:\\dir\\"), "C:\\dir\\");
    char buf[8] = "x";
    EXPECT_EQ(path_dir(buf, ""), nullptr);
    EXPECT_STREQ(buf, "");
    char in_place[] = "a\\b\\c";
    EXPECT_EQ(path_dir(in_place, in_place), in_place);
    EXPECT_STREQ(in_place, "a\\b\\");
}

TEST(Path, FilePartAndItsLength)
{
    int n = 0;
    EXPECT_EQ(file_of("C:\\dir\\file.txt", &n), "file.txt");
    EXPECT_EQ(n, 9);
    EXPECT_EQ(file_of("file", &n), "file");
    EXPECT_EQ(n, 5);
    EXPECT_EQ(file_of("a/b"), "a/b");  // '/' is no separator
}

TEST(Path, ExtensionIsAfterTheFirstDotOfTheFileName)
{
    char ext[64];
    EXPECT_EQ(path_ext(ext, "dir.old\\readme"), 0);
    EXPECT_STREQ(ext, "");
    EXPECT_EQ(path_ext(ext, "C:\\a\\b.tar.gz"), 7);
    EXPECT_STREQ(ext, "tar.gz");
    EXPECT_EQ(path_ext(ext, "name."), 1);
    EXPECT_STREQ(ext, "");
}

TEST(Path, AddSlashOnlyWhenMissing)
{
    EXPECT_EQ(with_slash(""), "");
    EXPECT_EQ(with_slash("C:\\"), "C:\\");
    EXPECT_EQ(with_slash("C:\\x"), "C:\\x\\");
}

// 功 is A5 5C in Big5: its trail byte is the backslash byte.
TEST(PathDoubleByte, TrailByte5CIsNoSeparator)
{
    ASSERT_EQ(path_dbcs, 1);
    const char folder[] = "C:\\\xB9\x43\xC0\xB8\\\xA5\x5C";  // C:\遊戲\功
    EXPECT_EQ(with_slash(folder), std::string(folder) + "\\");
    EXPECT_EQ(dir_of("C:\\\xA5\x5C" "a.txt"), "C:\\");
    EXPECT_EQ(file_of("C:\\\xA5\x5C" "a.txt"), "\xA5\x5C" "a.txt");
    char ext[16];
    EXPECT_EQ(path_ext(ext, "\xA5\x5C.b"), 2);
    EXPECT_STREQ(ext, "b");
    EXPECT_EQ(path_char_len("\xA5\x5C"), 2);
    EXPECT_EQ(path_char_len("\xA5"), 1);  // a lead byte at the end stands alone
    EXPECT_EQ(path_char_len("a"), 1);
    EXPECT_EQ(path_char_len(""), 0);
}

}  // namespace
