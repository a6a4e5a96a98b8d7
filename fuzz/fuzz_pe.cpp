// Reading arbitrary bytes as a program with an archive appended: the PE
// security directory and the trailer, signed or not. Every read asked for
// is a real range (the reader refuses what lies past the end); the
// certificate table found is the one the documented header fields name;
// an archive found starts with its magic, inside the bytes before its
// trailer, and its trailer (or its certificate table) ends the file.
#include <cstring>

#include "archive/format.h"
#include "archive/internal.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Bytes {
    const uint8_t *data;
    int64_t size;
};

int read_at(int64_t offset, void *buffer, int n, void *context)
{
    const Bytes &b = *static_cast<const Bytes *>(context);
    FUZZ_CHECK(offset >= 0 && n > 0);
    if (offset > b.size || n > b.size - offset) return -1;
    std::memcpy(buffer, b.data + offset, static_cast<size_t>(n));
    return 0;
}

uint32_t u32(const Bytes &b, int64_t at, bool *ok)
{
    if (at < 0 || at + 4 > b.size) return *ok = false, 0;
    return le32(b.data + at);
}

// The security directory as the layout above appended.cpp reads: the
// file offset and size, or false when the bytes are no PE image.
bool expected_table(const Bytes &b, int64_t *offset, int64_t *size)
{
    *offset = *size = 0;
    bool ok = b.size >= 64 && b.data[0] == 'M' && b.data[1] == 'Z';
    const int64_t pe = ok ? u32(b, 0x3C, &ok) : 0;
    if (!ok || pe + 26 > b.size || std::memcmp(b.data + pe, "PE\0\0", 4) != 0) return false;
    const uint32_t optional_size = le16(b.data + pe + 20), magic = le16(b.data + pe + 24);
    const int64_t count_at = pe + 24 + (magic == 0x10B ? 92 : 108);
    if (magic != 0x10B && magic != 0x20B) return false;
    if (optional_size < (magic == 0x10B ? 92u : 108u) + 4 + 5 * 8) return true;
    const uint32_t count = u32(b, count_at, &ok);
    if (!ok) return false;
    if (count <= 4) return true;
    *offset = u32(b, count_at + 4 + 32, &ok);
    *size = u32(b, count_at + 4 + 36, &ok);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes b{data, static_cast<int64_t>(size)};
    int64_t table = -1, table_size = -1, want_table, want_size;
    const int r = pe_certificate_table(read_at, &b, &table, &table_size);
    const bool is_pe = expected_table(b, &want_table, &want_size);
    FUZZ_CHECK(r == (is_pe ? 0 : -1));
    if (r == 0) FUZZ_CHECK(table == want_table && table_size == want_size);

    int64_t base = -1, end = -1;
    if (appended_locate(read_at, &b, b.size, &base, &end) != 0) return 0;
    FUZZ_CHECK(base >= 0 && base + PAK_HEADER_SIZE <= end - PAK_TRAILER_SIZE && end <= b.size);
    FUZZ_CHECK(le32(data + base) == PAK_MAGIC);
    FUZZ_CHECK(le32(data + end - PAK_TRAILER_SIZE) == base);
    if (end != b.size) {
        // Signed: only zero padding of at most 7 bytes, then the table to the end.
        FUZZ_CHECK(r == 0 && table + table_size == b.size && table >= end && table - end <= 7);
        for (int64_t i = end; i < table; ++i) FUZZ_CHECK(data[i] == 0);
    }
    return 0;
}
