#include <gtest/gtest.h>

#include <string>

#include "tools/pak/names.h"

namespace {

struct Checked {
    ExtractName verdict;
    std::string path;
};

Checked check(const std::string &name)
{
    char out[200];
    const ExtractName v = extract_name_check(name.data(), static_cast<int>(name.size()), '/', out, sizeof out);
    return {v, v == XN_OK ? std::string(out) : std::string()};
}

TEST(ExtractNames, SafeNamesBecomeRelativePaths)
{
    const struct {
        const char *name;
        const char *path;
    } cases[] = {
        {"#:\\Korin3.EXE", "Korin3.EXE"},     // drive prefix dropped
        {"#:Korin3.EXE", "Korin3.EXE"},       // prefix without backslash
        {"Update07.txt", "Update07.txt"},     // no prefix
        {"@:\\data\\sub\\a.txt", "data/sub/a.txt"},
        {"a/b.txt", "a/b.txt"},               // '/' separates too
        {"..a\\b..c", "..a/b..c"},            // dots inside a part are fine
        {"CONFIG.SYS", "CONFIG.SYS"},         // not a device
        {"COM10", "COM10"},
        {"\xB9\x41\\\xA5\x5C.txt", "\xB9\x41/\xA5\x5C.txt"},  // trail byte 0x5C is no separator
    };
    for (const auto &c : cases) {
        const Checked r = check(c.name);
        EXPECT_EQ(r.verdict, XN_OK) << c.name;
        EXPECT_EQ(r.path, c.path) << c.name;
    }
}

TEST(ExtractNames, NamesLeavingTheFolderAreRefused)
{
    const struct {
        std::string name;
        ExtractName verdict;
    } cases[] = {
        {"", XN_EMPTY},
        {"#:\\", XN_EMPTY},
        {"\\etc\\passwd", XN_ABSOLUTE},
        {"#:\\\\server\\share", XN_ABSOLUTE},
        {"/etc/passwd", XN_ABSOLUTE},
        {"#:\\C:\\Windows\\x", XN_DRIVE},     // drive-qualified after the prefix
        {"a\\file:stream", XN_DRIVE},
        {"..\\evil", XN_DOTS},
        {"a\\..\\..\\evil", XN_DOTS},
        {"a/../evil", XN_DOTS},
        {".", XN_DOTS},
        {"a\\.. \\x", XN_DOTS},               // Windows trims the space: ".."
        {"a\\...\\x", XN_DOTS},
        {"name.", XN_DOTS},
        {"a\\\\b", XN_EMPTY_PART},
        {"dir\\", XN_EMPTY_PART},
        {"CON", XN_DEVICE},
        {"dir\\nul.txt", XN_DEVICE},
        {"Com1.log", XN_DEVICE},
        {"LPT\xB9", XN_DEVICE},
        {"AUX .txt", XN_DEVICE},
        {"a\x01" "b", XN_BAD_CHAR},
        {"what?.txt", XN_BAD_CHAR},
        {"a|b", XN_BAD_CHAR},
        // A trail byte 0x5C hides a '..' from the double-byte reading; a
        // single-byte host would still see it.
        {"\xA5\\..\\x", XN_DOTS},
    };
    for (const auto &c : cases) EXPECT_EQ(check(c.name).verdict, c.verdict) << c.name;
    // A one-letter prefix is a drive prefix whatever letter it is.
    EXPECT_EQ(check("C:x").path, "x");
}

TEST(ExtractNames, BuffersAreNeverOverrun)
{
    char small[8];
    const std::string name = "#:\\abcdefghij";
    EXPECT_EQ(extract_name_check(name.data(), static_cast<int>(name.size()), '/', small, sizeof small), XN_TOO_LONG);
    // A record's 40-byte field need not hold a terminator.
    char field[40], out[64];
    for (char &c : field) c = 'a';
    ASSERT_EQ(extract_name_check(field, sizeof field, '/', out, sizeof out), XN_OK);
    EXPECT_EQ(std::string(out), std::string(40, 'a'));
}

TEST(StoredNames, RoutedToTheArchiveWithTheRightSwitch)
{
    const struct {
        const char *stored;
        int first, last;
        const char *routed;
        int strip;
    } cases[] = {
        {"#:\\Korin3.EXE", '#', '#', "#:\\Korin3.EXE", 0},  // carries its drive
        {"Update07.txt", '@', '@', "@:\\Update07.txt", 1},  // bare name, prefix added and stripped
        {"Korin3.EXE", 'A', 'Z', "Korin3.EXE", 0},          // 'K' is served
        {"\\lead", '@', '@', "@:\\\\lead", 1},               // the strip removes one backslash only
    };
    for (const auto &c : cases) {
        char out[48];
        int strip = -1;
        ASSERT_EQ(archive_route_name(c.stored, c.first, c.last, out, sizeof out, &strip), 0);
        EXPECT_STREQ(out, c.routed);
        EXPECT_EQ(strip, c.strip) << c.stored;
    }
    char small[4];
    int strip;
    EXPECT_EQ(archive_route_name("abc", '@', '@', small, sizeof small, &strip), -1);
}

}  // namespace
