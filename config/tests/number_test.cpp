#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"

namespace {

TEST(Numbers, ParseIntReadsDecimalHexSignAndComplementOnly)
{
    const struct {
        const char *text;
        int ok;
        int32_t value;
    } cases[] = {
        {"42", 1, 42}, {" -7", 1, -7}, {"- 7", 1, -7}, {"~5", 1, -6}, {"0X1f", 1, 31}, {"-0x10", 1, -16},
        {"0x", 1, 0}, {"010", 1, 10}, {"4294967295", 1, -1}, {"12 ", 0, 0}, {"", 0, 0}, {"-", 0, 0},
        {"~-5", 0, 0}, {"-~5", 0, 0}, {"+5", 0, 0}, {"\t5", 0, 0}, {"0x1G", 0, 0}, {"0x1:", 0, 0}, {"0x1@", 0, 0},
    };
    for (const auto &c : cases) {
        int32_t out = 12345;
        EXPECT_EQ(parse_int(c.text, &out), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(out, c.ok ? c.value : 12345) << '"' << c.text << '"';
    }
}

TEST(Numbers, FormatIntKeepsToTheWidthAndItsDigitBuffer)
{
    constexpr int32_t plus = INT32_MIN;
    const struct {
        uint32_t value;
        int32_t base, width;
        int fill;
        const char *expected;
    } cases[] = {
        {static_cast<uint32_t>(-42), 10, 5, '0', "-0042"}, {12345, 10, 3, '0', "123"}, {7, 10, plus, 0, "+7"},
        {0xFFFFFFFFu, 16, plus, 0, "ffffffff"}, {static_cast<uint32_t>(-3), 10, 1, 0, "-"},
        {7, 10, plus | 4, ' ', "+  7"}, {0x80000000u, 10, 0, 0, "-2147483648"},
        // Bases below 7 need up to 32 digits; bases above 16 have no digit characters.
        {0xFFFFFFFFu, 2, 0, 0, "11111111111111111111111111111111"}, {0xFFFFFFFFu, 3, 0, 0, "102002022201221111210"},
        {100, 1, 0, 0, ""}, {100, -10, 0, 0, ""}, {100, 17, 0, 0, ""},
    };
    for (const auto &c : cases) {
        char dest[48];
        std::memset(dest, 'X', sizeof dest);
        format_int(c.value, dest, c.base, c.width, c.fill);
        EXPECT_STREQ(dest, c.expected) << c.value << " base " << c.base << " width " << (c.width & 0x7FFFFFFF);
    }
}

TEST(Numbers, IntSqrtTruncatesAndGivesZeroForNegatives)
{
    const int32_t cases[][2] = {{0, 0}, {15, 3}, {16, 4}, {INT32_MAX, 46340}, {-1, 0}, {INT32_MIN, 0}};
    for (const auto &c : cases) EXPECT_EQ(int_sqrt(c[0]), c[1]) << c[0];
}

}  // namespace
