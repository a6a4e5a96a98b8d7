#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "config/config.h"

namespace {

struct ParseCase {
    const char *text;
    bool accepted;
    int32_t value;
};

TEST(ParseInt, ReadsDecimalHexSignAndComplement)
{
    const ParseCase cases[] = {
        {"42", true, 42},
        {" -7", true, -7},
        {"- 7", true, -7},
        {"~5", true, -6},
        {"~0", true, -1},
        {"0x1F", true, 31},
        {"0X1f", true, 31},
        {"0x1f", true, 31},
        {"-0x10", true, -16},
        {"0x", true, 0},
        {"010", true, 10},
        {"4294967295", true, -1},
        {"2147483648", true, INT32_MIN},
        {"0xFFFFFFFF", true, -1},
        {"   0", true, 0},
        {"12 ", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"-", false, 0},
        {"~ ", false, 0},
        {"~-5", false, 0},
        {"-~5", false, 0},
        {"--5", false, 0},
        {"+5", false, 0},
        {"\t5", false, 0},
        {"0x1G", false, 0},
        {"0x1:", false, 0},
        {"0x1@", false, 0},
        {"0xg", false, 0},
        {"1a", false, 0},
        {"MAXLEVEL", false, 0},
    };
    for (const ParseCase &c : cases) {
        int32_t out = 12345;
        EXPECT_EQ(parse_int(c.text, &out), c.accepted ? 1 : 0) << '"' << c.text << '"';
        EXPECT_EQ(out, c.accepted ? c.value : 12345) << '"' << c.text << '"';
    }
}

constexpr int32_t kPlus = INT32_MIN;  // bit 31 of the width

struct FormatCase {
    uint32_t value;
    int32_t base;
    int32_t width;
    int fill;
    const char *expected;
};

TEST(FormatInt, WritesSignFillAndDigitsWithinTheWidth)
{
    const FormatCase cases[] = {
        {static_cast<uint32_t>(-42), 10, 5, '0', "-0042"},
        {12345, 10, 3, 0, "123"},
        {12345, 10, 3, '0', "123"},
        {7, 10, kPlus, 0, "+7"},
        {255, 16, 0, 0, "ff"},
        {0xFFFFFFFFu, 16, 0, 0, "ffffffff"},
        {0xFFFFFFFFu, 16, kPlus, 0, "ffffffff"},
        {static_cast<uint32_t>(-3), 10, 1, 0, "-"},
        {7, 10, kPlus | 1, 0, "+"},
        {7, 10, kPlus | 4, ' ', "+  7"},
        {0, 10, 0, 0, "0"},
        {42, 10, 6, '*', "****42"},
        {42, 10, 6, 0, "42"},
        {0x80000000u, 10, 0, 0, "-2147483648"},
        {0x80000000u, 16, 0, 0, "80000000"},
        {4294967295u, 8, 0, 0, "37777777777"},
        {0xFFFFFFFFu, 2, 0, 0, "11111111111111111111111111111111"},
        {0xFFFFFFFFu, 3, 0, 0, "102002022201221111210"},
        {100, 7, 0, 0, "202"},
        {100, 1, 0, 0, ""},
        {100, 0, 0, 0, ""},
        {100, -10, 0, 0, ""},
        {100, 17, 0, 0, ""},
        {100, 10 + 256, 0, 0, ""},
    };
    for (const FormatCase &c : cases) {
        char dest[64];
        std::memset(dest, 'X', sizeof dest);
        format_int(c.value, dest, c.base, c.width, c.fill);
        EXPECT_STREQ(dest, c.expected) << c.value << " base " << c.base << " width " << c.width;
    }
}

TEST(FormatInt, NeverWritesMoreThanWidthBytesAndTheNul)
{
    for (int32_t width = 1; width <= 12; ++width) {
        char dest[64];
        std::memset(dest, 'X', sizeof dest);
        format_int(static_cast<uint32_t>(-123456789), dest, 10, width | kPlus, '0');
        EXPECT_EQ(std::strlen(dest), static_cast<size_t>(width)) << width;
        EXPECT_EQ(dest[width + 1], 'X') << width;
    }
}

TEST(IntSqrt, TruncatesAndGivesZeroForNegatives)
{
    const struct {
        int32_t x;
        int32_t root;
    } cases[] = {{0, 0}, {1, 1}, {15, 3}, {16, 4}, {17, 4}, {INT32_MAX, 46340}, {-1, 0}, {INT32_MIN, 0}};
    for (const auto &c : cases) EXPECT_EQ(int_sqrt(c.x), c.root) << c.x;
}

}  // namespace
