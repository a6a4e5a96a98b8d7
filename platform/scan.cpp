// Byte scans over text, and numbers read from it. The scans go 16 bytes at
// a time where the processor has SSE2 (every x86-64, and the i686 builds that
// enable it), one at a time elsewhere: the answers are the same either way.
#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/platform.h"

int text_find_any(const char *p, int n, const char *set, int count)
{
    int i = 0;
#if defined(__SSE2__)
    __m128i wanted[TEXT_FIND_SET_MAX];
    for (int k = 0; k < count; ++k) wanted[k] = _mm_set1_epi8(set[k]);
    for (; n - i >= 16; i += 16) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        __m128i hits = _mm_setzero_si128();
        for (int k = 0; k < count; ++k) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(w, wanted[k]));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (mask) return i + std::countr_zero(mask);
    }
#endif
    for (; i < n; ++i)
        for (int k = 0; k < count; ++k)
            if (p[i] == set[k]) return i;
    return n;
}

int64_t text_line_ends(const char *text, int32_t length)
{
    int64_t count = 0;
    int32_t i = 0;
#if defined(__SSE2__)
    // Each byte lane counts its line ends (a match is -1, so subtracting
    // adds one) for at most 255 rounds before the lanes are summed.
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    while (i + 17 <= length) {
        __m128i lanes = _mm_setzero_si128();
        for (int round = 0; round < 255 && i + 17 <= length; ++round, i += 16) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
            const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i + 1));
            const __m128i lone_cr = _mm_andnot_si128(_mm_cmpeq_epi8(after, lf), _mm_cmpeq_epi8(w, cr));
            lanes = _mm_sub_epi8(lanes, _mm_or_si128(_mm_cmpeq_epi8(w, lf), lone_cr));
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        count += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
    }
#endif
    for (; i + 1 < length; ++i) count += text[i] == '\n' || (text[i] == '\r' && text[i + 1] != '\n');
    return count;
}

int text_to_u32(const char *text, int base, uint32_t *value)
{
    const char *p = text;
    const bool prefixed = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    if (prefixed && base != 10) base = 16, p += 2;
    if (base == 0) base = 10;
    if (!*p) return -1;
    uint64_t v = 0;
    for (; *p; ++p) {
        const int c = *p >= 'A' && *p <= 'Z' ? *p + ('a' - 'A') : *p;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
        if (digit >= base) return -1;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (v > 0xFFFFFFFFu) return -1;
    }
    *value = static_cast<uint32_t>(v);
    return 0;
}
