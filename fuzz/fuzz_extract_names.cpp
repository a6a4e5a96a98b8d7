// The name checks of "pak extract": whatever a crafted entry name holds, an
// accepted name is a relative path whose every part stays inside the target
// folder, on POSIX and on Windows alike, read by the double-byte walk or (for
// a host that splits at every byte 0x5C) byte by byte.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/platform.h"
#include "tools/pak/names.h"

namespace {

bool is_device(std::string part)
{
    // The stem before any dot, without trailing spaces, in upper case.
    part = part.substr(0, part.find('.'));
    while (!part.empty() && part.back() == ' ') part.pop_back();
    for (char &c : part)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *d : devices)
        if (part == d) return true;
    return part.size() == 4 && (part.compare(0, 3, "COM") == 0 || part.compare(0, 3, "LPT") == 0) &&
           part[3] >= '0' && part[3] <= '9';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const char separator = (data[0] & 1) ? '\\' : '/';
    const bool bytewise = data[0] & 2;
    const int out_size = 8 + (data[0] >> 2);
    std::vector<char> name(data + 1, data + size);
    const int length = static_cast<int>(name.size());
    name.push_back(0);  // never a null pointer; the length still counts only the input
    std::vector<char> out(static_cast<size_t>(out_size));
    const ExtractName verdict =
        extract_name_check(name.data(), length, separator, out.data(), out_size, bytewise);
    FUZZ_CHECK(extract_name_reason(verdict) != nullptr);
    if (verdict != XN_OK) return 0;

    FUZZ_CHECK(std::memchr(out.data(), 0, out.size()) != nullptr);
    const std::string path(out.data());
    FUZZ_CHECK(!path.empty());
    FUZZ_CHECK(path.find(':') == std::string::npos);
    // Split at both separators: the host may read either as one; a byte
    // 0x5C that ends a double-byte character only for a bytewise host.
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); i += i < path.size() && !bytewise ? path_char_len(path.c_str() + i) : 1) {
        const bool single = bytewise || path_char_len(path.c_str() + i) == 1;
        if (i < path.size() && !(single && (path[i] == '/' || path[i] == '\\'))) continue;
        const std::string part = path.substr(start, i - start);
        FUZZ_CHECK(!part.empty());
        FUZZ_CHECK(part != "." && part != "..");
        FUZZ_CHECK(part.back() != '.' && part.back() != ' ');
        FUZZ_CHECK(!is_device(part));
        // No control byte anywhere; the reserved characters only where a
        // byte stands for itself (a trail byte of a double-byte character
        // may be '|').
        for (unsigned char c : part) FUZZ_CHECK(c >= 0x20);
        for (const char *q = part.c_str(); *q; q += path_char_len(q))
            if (path_char_len(q) == 1) FUZZ_CHECK(!std::strchr("<>\"|?*", *q));
        start = i + 1;
    }
    return 0;
}
