#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

// Each of dir, file, ext and with-slash on one input; file's and ext's results follow the text.
struct Parts {
    std::string dir, file, ext, slashed;
    int file_n, ext_n;
    bool operator==(const Parts &) const = default;
};

Parts parts(const char *s)
{
    char d[300], f[300], e[300], w[300];
    std::strcpy(w, s);
    path_dir(d, s);
    const int fn = path_file(f, s), en = path_ext(e, s);
    path_add_slash(w);
    return {d, f, e, w, fn, en};
}

// The 16-byte scans answer as a byte-by-byte loop does, wherever the bytes
// fall against the 16-byte blocks.
TEST(TextScan, FindsAndCountsAsAPlainLoopDoes)
{
    std::string text;
    uint32_t seed = 7;
    for (int i = 0; i < 5000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const char pick[] = "ab \t=;/\r\n";
        text += (seed >> 16) % 7 ? 'x' : pick[(seed >> 8) % (sizeof pick - 1)];
    }
    const char set[] = "\r;/ \t=";
    for (int start = 0; start < 40; ++start)
        for (int n : {0, 1, 15, 16, 17, 33, 100, 4000}) {
            int plain = 0;
            while (plain < n && !std::memchr(set, text[start + plain], 6)) ++plain;
            EXPECT_EQ(text_find_any(text.data() + start, n, set, 6), plain) << start << " " << n;
            int64_t ends = 0;
            for (int i = 0; i + 1 < n; ++i)
                ends += text[start + i] == '\n' || (text[start + i] == '\r' && text[start + i + 1] != '\n');
            EXPECT_EQ(text_line_ends(text.data() + start, n), ends) << start << " " << n;
        }
}

TEST(Path, DirectoryFileAndExtensionParts)
{
    const struct { const char *path; Parts expected; } rows[] = {
        {"C:\\dir\\file.txt", {"C:\\dir\\", "file.txt", "txt", "C:\\dir\\file.txt\\", 9, 4}},
        {"C:file", {"C:", "file", "", "C:file\\", 5, 0}},
        {"dir.old\\readme", {"dir.old\\", "readme", "", "dir.old\\readme\\", 7, 0}},
        {"C:\\a\\b.tar.gz", {"C:\\a\\", "b.tar.gz", "tar.gz", "C:\\a\\b.tar.gz\\", 9, 7}},
        {"a/b.", {"", "a/b.", "", "a/b.\\", 5, 1}},  // '/' is no separator
        {"C:\\", {"C:\\", "", "", "C:\\", 1, 0}},
        {"", {"", "", "", "", 1, 0}},
    };
    for (const auto &row : rows) EXPECT_EQ(parts(row.path), row.expected) << row.path;
    char in_place[] = "a\\b\\c";
    EXPECT_EQ(path_dir(in_place, in_place), in_place);
    EXPECT_STREQ(in_place, "a\\b\\");
}

// 功 is A5 5C in Big5: its trail byte is the backslash byte.
TEST(PathDoubleByte, TrailByte5CIsNoSeparator)
{
    ASSERT_EQ(path_dbcs, 1);
    const char folder[] = "C:\\\xB9\x43\xC0\xB8\\\xA5\x5C";  // C:\遊戲\功
    EXPECT_EQ(parts(folder).slashed, std::string(folder) + "\\");
    EXPECT_EQ(parts("C:\\\xA5\x5C" "a.b"), (Parts{"C:\\", "\xA5\x5C" "a.b", "b", "C:\\\xA5\x5C" "a.b\\", 6, 2}));
    // A lead byte stands alone at the end and before a byte no character ends in.
    for (const auto &[s, n] : {std::pair{"\xA5\x5C", 2}, {"\xA5", 1}, {"a", 1}, {"", 0}, {"\xA4:", 1}, {"\xA4\x1F", 1},
                               {"\xA4\x7F", 1}, {"\xA4\xFF", 1}, {"\xA4\x40", 2}, {"\xA4\x80", 2}, {"\xFE\xFE", 2}})
        EXPECT_EQ(path_char_len(s), n) << s;
    EXPECT_EQ(parts("\xA4:x.txt").dir, "\xA4:");
}

// 再 is A6 41 and 地 is A6 61 in Big5: the trail byte is no letter to fold.
TEST(PathDoubleByte, NamesIgnoreTheCaseOfSingleLettersOnly)
{
    const struct { const char *a, *b; int same; } cases[] = {
        {"Update.PAK", "UPDATE.pak", 1}, {"\xA6\x41.txt", "\xA6\x41.TXT", 1}, {"\xA6\x41", "\xA6\x61", 0},
        {"a\xA6", "A\xA6", 1}, {"ab", "abc", 0}, {"", "", 1},
    };
    for (const auto &c : cases) EXPECT_EQ(path_same_name(c.a, c.b), c.same) << c.a << " / " << c.b;
}

}  // namespace
