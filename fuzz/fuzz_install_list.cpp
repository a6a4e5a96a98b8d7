// Registering the update archive in an arbitrary installation list: the file
// is either left exactly as it was, or it is the old content with its two
// header fields updated, followed by a well-formed new list that ends in
// "Update.PAK".
#include <cstring>
#include <string>
#include <vector>

#include "driver/edition.h"
#include "driver/update.h"
#include "fuzz/fuzz_support.h"

extern const EditionTexts edition = {};

namespace {

uint32_t u32_at(const std::string &s, size_t at)
{
    uint32_t v;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

bool equal_ignoring_ascii_case(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return *a == *b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string old(reinterpret_cast<const char *>(data), size);
    static fuzz::InputFile list("INSTALL.DAT");
    register_update_pak(list.put(data, size).c_str());
    const std::string now = fuzz::read_file(list.native());
    if (now == old) return 0;

    FUZZ_CHECK(size >= 776);
    const uint32_t old_offset = u32_at(old, 768);
    const int32_t old_count = static_cast<int32_t>(u32_at(old, 772));
    FUZZ_CHECK(now.size() > size);
    FUZZ_CHECK(now.compare(0, 768, old, 0, 768) == 0);
    FUZZ_CHECK(now.compare(776, size - 776, old, 776, size - 776) == 0);
    FUZZ_CHECK(u32_at(now, 768) == size);
    const int32_t kept = old_count > 0 ? old_count : 0;
    FUZZ_CHECK(static_cast<int32_t>(u32_at(now, 772)) == kept + 1);

    // The new list: the old names as they stood, then "Update.PAK".
    size_t at = old_offset, out = size;
    for (int32_t i = 0; i < kept; ++i) {
        FUZZ_CHECK(at < size);
        const char *name = old.data() + at;
        const size_t len = strnlen(name, size - at);
        FUZZ_CHECK(len < size - at);
        FUZZ_CHECK(!equal_ignoring_ascii_case(name, "Update.PAK"));
        FUZZ_CHECK(now.compare(out, len + 1, old, at, len + 1) == 0);
        at += len + 1;
        out += len + 1;
    }
    FUZZ_CHECK(now.size() == out + 11);
    FUZZ_CHECK(std::memcmp(now.data() + out, "Update.PAK", 11) == 0);
    return 0;
}
