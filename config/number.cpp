// The number routines: parse_int, which the numeric lookups use, format_int,
// its counterpart for output, and int_sqrt.
#include <cmath>

#include "config/config.h"

int parse_int(const char *text, int32_t *out)
{
    const char *p = text;
    while (*p == ' ') ++p;
    if (!*p) return 0;

    char sign = 0;
    if (*p == '-' || *p == '~') {
        sign = *p++;
        while (*p == ' ') ++p;
        if (!*p) return 0;
    }

    uint32_t base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }

    // Wraps without complaint: 4294967295 reads as -1.
    uint32_t value = 0;
    for (; *p; ++p) {
        uint32_t digit;
        if (*p >= '0' && *p <= '9') digit = static_cast<uint32_t>(*p - '0');
        else if (base == 16 && *p >= 'a' && *p <= 'f') digit = static_cast<uint32_t>(*p - 'a' + 10);
        else if (base == 16 && *p >= 'A' && *p <= 'F') digit = static_cast<uint32_t>(*p - 'A' + 10);
        else return 0;
        value = value * base + digit;
    }

    if (sign == '-') value = 0u - value;
    else if (sign == '~') value = ~value;
    *out = static_cast<int32_t>(value);
    return 1;
}

// Bit 31 of width asks for a '+' before values that are not negative; bits
// 0..30 bound every byte written before the NUL (0: no bound and no fill).
// Bases 2 to 16 are written (base 2 needs all 32 digits); any other base has
// no digit characters and gives the empty text.
void format_int(uint32_t value, char *dest, int32_t base, int32_t width, int fill)
{
    char *out = dest;
    if (base < 2 || base > 16) {
        *out = 0;
        return;
    }
    const bool plus = (static_cast<uint32_t>(width) & 0x80000000u) != 0;
    const bool bounded = (width & 0x7FFFFFFF) != 0;
    int32_t left = width & 0x7FFFFFFF;

    // Writes one byte; false once the bound is used up.
    auto put = [&](char c) {
        *out++ = c;
        return !bounded || --left > 0;
    };

    const bool negative = static_cast<int32_t>(value) < 0;
    if (plus && !negative && !put('+')) {
        *out = 0;
        return;
    }
    if (base == 10 && negative) {
        value = 0u - value;
        if (!put('-')) {
            *out = 0;
            return;
        }
    }

    char digits[32];
    int32_t count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value % static_cast<uint32_t>(base)];
        value /= static_cast<uint32_t>(base);
    } while (value);

    if (fill && bounded && left > count)
        while (left > count) put(static_cast<char>(fill));
    // Cut at the bound: the leading digits remain.
    while (count > 0 && put(digits[--count])) {}
    *out = 0;
}

int32_t int_sqrt(int32_t x)
{
    if (x < 0) return 0;
    return static_cast<int32_t>(std::sqrt(static_cast<double>(x)));
}
