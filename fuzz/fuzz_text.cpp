// The small text routines: wildcard matching, number parsing and formatting.
#include <cstring>
#include <vector>

#include "archive/internal.h"
#include "config/config.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 10) return 0;
    // A 40-byte name field, exactly as a directory record holds it.
    std::vector<char> field(40);
    std::memcpy(field.data(), data, 40 < size ? 40 : size);
    const size_t rest = size > 40 ? size - 40 : 0;
    std::vector<char> text(data + (size - rest), data + size);
    text.push_back(0);

    const int m = wild_match(text.data(), field.data(), 40);
    FUZZ_CHECK(m == 0 || m == -1);

    int32_t value = 12345;
    if (parse_int(text.data(), &value) == 0) FUZZ_CHECK(value == 12345);

    uint32_t v;
    std::memcpy(&v, data, 4);
    const int32_t base = data[4];
    int32_t width = data[5] & 0x3F;
    if (data[6] & 1) width |= static_cast<int32_t>(0x80000000u);
    const int fill = data[7];
    // Width 0 means no limit: 32 binary digits, a sign and the terminator.
    const size_t room = (width & 0x7FFFFFFF) ? static_cast<size_t>(width & 0x7FFFFFFF) + 1 : 34;
    std::vector<char> out(room);
    format_int(v, out.data(), base, width, fill);
    FUZZ_CHECK(std::memchr(out.data(), 0, room) != nullptr);
    return 0;
}
