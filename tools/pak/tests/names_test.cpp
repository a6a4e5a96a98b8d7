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

namespace {

// 功 (A5 5C) before a separator and at the end: one character each, in
// stored form; a host that splits every 0x5C byte is refused such a name.
TEST(ExtractNames, TrailByte5CIsReadAsPartOfItsCharacter)
{
    char out[64];
    ASSERT_EQ(extract_name_check("\xA5\\\\a\\\xB3\\", 40, '/', out, sizeof out), XN_OK);
    EXPECT_STREQ(out, "\xA5\\/a/\xB3\\");
    EXPECT_EQ(extract_name_check("\xA5\\\\a.txt", 40, '/', out, sizeof out, true), XN_SPLIT);
    EXPECT_EQ(extract_name_check("a\\b.txt", 40, '/', out, sizeof out, true), XN_OK);
}

TEST(Patterns, MatchPartByPartWithCharactersOfTheCodePage)
{
    const struct { const char *pattern, *name; bool matches; } cases[] = {
        {"*.ini", "a.ini", true}, {"*.ini", "d\\a.ini", false}, {"*.ini", "a.b.ini", true}, {"*.ini", "README", false},
        {"*\\*.ini", "d\\a.ini", true}, {"*\\*.ini", "d\\e\\a.ini", false}, {"data\\*\\*.ini", "data\\x\\A.INI", true},
        {"**\\*.ini", "a.ini", true}, {"**\\*.ini", "d\\e\\a.ini", true}, {"d\\**\\a.ini", "d\\a.ini", true},
        {"d\\**", "d\\e\\f", true}, {"**\\x", "d\\xy", false},
        {"data\\*", "data\\maps\\m.dat", true}, {"*", "a\\b", true},  // a last part "*": everything beneath
        {"?.txt", "\xA5\\.txt", true}, {"??.txt", "\xA5\\.txt", false}, {"?\\a", "\xA5\\\\a", true},
        {"\xA5\\\\*", "\xA5\\\\x\\y", true}, {"\xA5\\*", "\xA5\\\\x", false}, {"*\xA5\\", "1\xA5\\", true}, {"\xA6\x41", "\xA6\x61", false},
    };
    for (const auto &c : cases) EXPECT_EQ(pattern_matches(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
}

}  // namespace
