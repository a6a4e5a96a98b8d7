#include <gtest/gtest.h>

#include <string>

#include "tools/pak/names.h"

namespace {

std::pair<ExtractName, std::string> check(const std::string &name)
{
    char out[200];
    const ExtractName v = extract_name_check(name.data(), static_cast<int>(name.size()), '/', out, sizeof out);
    return {v, v == XN_OK ? std::string(out) : std::string()};
}

TEST(ExtractNames, SafeNamesBecomeRelativePaths)
{
    const std::pair<const char *, const char *> cases[] = {
        {"#:\\Korin3.EXE", "Korin3.EXE"}, {"#:Korin3.EXE", "Korin3.EXE"}, {"C:x", "x"}, {"Update07.txt", "Update07.txt"},
        {"@:\\data\\sub\\a.txt", "data/sub/a.txt"}, {"a/b.txt", "a/b.txt"}, {"..a\\b..c", "..a/b..c"},
        {"CONFIG.SYS", "CONFIG.SYS"}, {"COM10", "COM10"},
        {"\xB9\x41\\\xA5\x5C.txt", "\xB9\x41/\xA5\x5C.txt"},  // trail byte 0x5C is no separator
    };
    for (const auto &[name, path] : cases) EXPECT_EQ(check(name), std::make_pair(XN_OK, std::string(path))) << name;
}

TEST(ExtractNames, NamesLeavingTheFolderAreRefused)
{
    const std::pair<std::string, ExtractName> cases[] = {
        {"", XN_EMPTY}, {"#:\\", XN_EMPTY}, {"\\etc\\passwd", XN_ABSOLUTE}, {"#:\\\\server\\share", XN_ABSOLUTE},
        {"/etc/passwd", XN_ABSOLUTE}, {"#:\\C:\\Windows\\x", XN_DRIVE}, {"a\\file:stream", XN_DRIVE},
        {"..\\evil", XN_DOTS}, {"a\\..\\..\\evil", XN_DOTS}, {"a/../evil", XN_DOTS}, {".", XN_DOTS},
        {"a\\.. \\x", XN_DOTS}, {"a\\...\\x", XN_DOTS}, {"name.", XN_DOTS},  // Windows trims trailing dots and spaces
        {"a\\\\b", XN_EMPTY_PART}, {"dir\\", XN_EMPTY_PART}, {"CON", XN_DEVICE}, {"dir\\nul.txt", XN_DEVICE},
        {"Com1.log", XN_DEVICE}, {"LPT\xB9", XN_DEVICE}, {"AUX .txt", XN_DEVICE}, {"a\x01" "b", XN_BAD_CHAR},
        {"what?.txt", XN_BAD_CHAR}, {"a|b", XN_BAD_CHAR},
        {"\xA5\\..\\x", XN_DOTS},  // a trail byte 0x5C hides '..' from a double-byte reading only
    };
    for (const auto &[name, verdict] : cases) EXPECT_EQ(check(name).first, verdict) << name;
}

TEST(ExtractNames, BuffersAreNeverOverrun)
{
    char small[8], field[40], out[64];
    EXPECT_EQ(extract_name_check("#:\\abcdefghij", 13, '/', small, sizeof small), XN_TOO_LONG);
    for (char &c : field) c = 'a';  // a record's 40-byte field need not hold a terminator
    ASSERT_EQ(extract_name_check(field, sizeof field, '/', out, sizeof out), XN_OK);
    EXPECT_EQ(std::string(out), std::string(40, 'a'));
}

// 再 (A6 41) and 地 (A6 61) differ in a trail byte that looks like a letter.
TEST(StoredNames, DoubleByteCharactersCompareExactly)
{
    EXPECT_TRUE(names_equal("#:\\Korin3.exe", "#:\\KORIN3.EXE"));
    EXPECT_TRUE(names_equal("\xA6\x41.txt", "\xA6\x41.TXT"));
    EXPECT_FALSE(names_equal("\xA6\x41", "\xA6\x61"));
}

}  // namespace
