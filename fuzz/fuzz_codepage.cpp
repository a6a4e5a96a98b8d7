// Names between UTF-8 and GBK (936) or Big5 (950), as "pak --codepage"
// converts them. A conversion either fails with a reason or gives the whole
// name and its terminator within the buffer; a buffer one byte short of the
// whole result fails as too small rather than giving part of it; a name
// that went from UTF-8 to the code page comes back unchanged, and one that
// came from the code page goes there and back again to the same UTF-8.
//
// Input: a flag byte (bit 0: 936 rather than 950, bit 1: from the code page
// rather than from UTF-8), a buffer size byte, then the name (up to a zero).
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/error.h"
#include "platform/platform.h"

namespace {

using Convert = int (*)(int, const char *, char *, int);

// Converts into an exact-size heap buffer (even of 0 bytes); the result, or
// -1 with the reason in *why.
int convert(Convert f, int code_page, const std::string &in, int size, std::string *out, ErrReason *why = nullptr)
{
    const std::unique_ptr<char[]> buf(new char[static_cast<size_t>(size)]);
    const int n = f(code_page, in.c_str(), buf.get(), size);
    if (n == -1) {
        const ErrReason reason = err_last();
        FUZZ_CHECK(reason == ERR_BAD_NAME || reason == ERR_NAME_TOO_LONG);
        if (why) *why = reason;
        return -1;
    }
    FUZZ_CHECK(n >= 0 && n < size);
    FUZZ_CHECK(buf[static_cast<size_t>(n)] == 0 && std::strlen(buf.get()) == static_cast<size_t>(n));
    out->assign(buf.get(), static_cast<size_t>(n));
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 512) return 0;
    const int code_page = data[0] & 1 ? 936 : 950;
    const bool from_page = data[0] & 2;
    const int room = data[1];
    const std::string name(reinterpret_cast<const char *>(data + 2), strnlen(reinterpret_cast<const char *>(data + 2), size - 2));
    const Convert there = from_page ? text_to_utf8 : text_from_utf8;
    const Convert back = from_page ? text_from_utf8 : text_to_utf8;

    std::string small, whole;
    ErrReason why = ERR_NONE;
    const int n = convert(there, code_page, name, room, &small, &why);
    const int full = convert(there, code_page, name, 4 * static_cast<int>(name.size()) + 8, &whole);
    if (full == -1) {
        FUZZ_CHECK(n == -1);
        return 0;
    }
    // Any room that holds the whole result gives it; less gives nothing.
    FUZZ_CHECK(n == (room > full ? full : -1));
    if (n != -1) FUZZ_CHECK(small == whole);
    if (room <= full) FUZZ_CHECK(why == ERR_NAME_TOO_LONG);
    std::string again;
    const int m = convert(back, code_page, whole, 4 * static_cast<int>(whole.size()) + 8, &again);
    FUZZ_CHECK(m != -1);
    if (!from_page) {
        FUZZ_CHECK(again == name);
    } else {
        // Two code-page forms may share a character: compare in UTF-8.
        std::string twice;
        FUZZ_CHECK(convert(there, code_page, again, 4 * static_cast<int>(again.size()) + 8, &twice) != -1);
        FUZZ_CHECK(twice == whole);
    }
    return 0;
}
