// The appended form: an archive behind a program, found from the file's end.
//
//   [program][archive][u32 trailer = file offset of the archive]
// A signed program carries its certificate table behind that, zero-padded to
// an 8-byte boundary, and names it in the PE security directory:
//   [program][archive][trailer][0..7 zero bytes][certificate table]
// Removing the signature takes the table and empties the directory, but
// leaves the padding:
//   [program][archive][trailer][0..7 zero bytes]   (a multiple of 8 bytes)
//
// PE image headers, as far as they are read here:
//   off        size  field
//   0x00         2   "MZ"
//   0x3C         4   e_lfanew: file offset of the PE signature
//   pe           4   "PE\0\0"
//   pe+4        20   COFF header; SizeOfOptionalHeader at pe+20 (2 bytes)
//   pe+24        2   optional header magic: 0x10B PE32, 0x20B PE32+
//   pe+24+92     4   NumberOfRvaAndSizes (PE32; +108 for PE32+)
//   pe+24+96   8*n   data directories (PE32; +112 for PE32+), each a u32
//                    address and a u32 size; number 4, the security
//                    directory, holds the file offset and size of the
//                    certificate table
#include <cstring>

#include "archive/internal.h"

namespace {

constexpr int SECURITY_DIRECTORY = 4;
const char NOT_PE[] = "not a program image";

}  // namespace

int pe_certificate_table(ReadAt read, void *context, int64_t *offset, int64_t *size)
{
    *offset = *size = 0;
    uint8_t dos[64];
    // A file too short for a header it claims is no image either.
    if (read(0, dos, sizeof dos, context) != 0 || dos[0] != 'M' || dos[1] != 'Z') return fail(ERR_FAILED, -1, NOT_PE);
    const int64_t pe = le32(dos + 0x3C);
    uint8_t head[24 + 2];
    if (read(pe, head, sizeof head, context) != 0 || std::memcmp(head, "PE\0\0", 4) != 0)
        return fail(ERR_FAILED, -1, NOT_PE);
    const uint32_t optional_size = le16(head + 20);
    const uint32_t magic = le16(head + 24);
    const int count_at = magic == 0x10B ? 92 : magic == 0x20B ? 108 : -1;  // PE32, PE32+
    if (count_at < 0) return fail(ERR_FAILED, -1, NOT_PE);
    // An optional header too short for the security directory names none.
    if (optional_size < static_cast<uint32_t>(count_at + 4 + (SECURITY_DIRECTORY + 1) * 8)) return 0;
    uint8_t count[4];
    if (read(pe + 24 + count_at, count, 4, context) != 0) return fail(ERR_FAILED, -1, NOT_PE);
    if (le32(count) <= SECURITY_DIRECTORY) return 0;
    uint8_t security[8];
    if (read(pe + 24 + count_at + 4 + SECURITY_DIRECTORY * 8, security, 8, context) != 0)
        return fail(ERR_FAILED, -1, NOT_PE);
    *offset = le32(security);
    *size = le32(security + 4);
    return 0;
}

namespace {

// The trailer that ends at limit, or up to max_pad zero bytes before it, and
// points at an archive header that fits before it. The ordinary trailer
// comes first; a padded one must also name a directory inside the archive,
// so that zeros shifted into the trailer's place do not lead elsewhere.
// 1 found, 0 not, -1 when the end cannot be read.
int trailer_before(ReadAt read, void *context, int64_t limit, int max_pad, int64_t *base, int64_t *end)
{
    uint8_t tail[PAK_TRAILER_SIZE + 7];
    const int have = static_cast<int>(limit < PAK_TRAILER_SIZE + max_pad ? limit : PAK_TRAILER_SIZE + max_pad);
    if (have < PAK_TRAILER_SIZE) return 0;
    if (read(limit - have, tail, have, context) != 0) return passed(-1);
    for (int pad = 0; pad <= have - PAK_TRAILER_SIZE; ++pad) {
        if (pad > 0 && tail[have - pad] != 0) break;
        const int64_t candidate = le32(tail + have - pad - PAK_TRAILER_SIZE);
        const int64_t trailer_end = limit - pad;
        uint8_t header[PAK_HEADER_SIZE];
        if (candidate + PAK_HEADER_SIZE > trailer_end - PAK_TRAILER_SIZE ||
            read(candidate, header, sizeof header, context) != 0 || le32(header) != PAK_MAGIC)
            continue;
        const int64_t dir_offset = le32(header + 8);
        if (pad > 0 && (dir_offset < PAK_HEADER_SIZE || candidate + dir_offset >= trailer_end - PAK_TRAILER_SIZE))
            continue;
        *end = trailer_end;
        *base = candidate;
        return 1;
    }
    return 0;
}

}  // namespace

int appended_locate(ReadAt read, void *context, int64_t file_size, int64_t *base, int64_t *end)
{
    // The trailer of a signed file stands before the certificate table and
    // its padding. A signature removed leaves that padding at the file's end
    // (the table was 8-byte aligned) and an empty security directory.
    int64_t table = 0, table_size = 0;
    const int is_pe = pe_certificate_table(read, context, &table, &table_size) == 0;
    if (is_pe && table != 0 && table_size != 0 && table + table_size == file_size &&
        trailer_before(read, context, table, 7, base, end) == 1)
        return 0;
    if (file_size < PAK_HEADER_SIZE + PAK_TRAILER_SIZE) return fail(ERR_NOT_ARCHIVE, -1, "no archive attached");
    const bool unsigned_pe = is_pe && table == 0 && table_size == 0;
    const int found = trailer_before(read, context, file_size, unsigned_pe && file_size % 8 == 0 ? 7 : 0, base, end);
    if (found < 0) return passed(-1);
    return found ? 0 : fail(ERR_NOT_ARCHIVE, -1, "no archive attached");
}

int vfs_is_appended_name(const char *path)
{
    const size_t n = path ? std::strlen(path) : 0;
    if (n < 5) return 0;
    const char *e = path + n - 4;
    return e[0] == '.' && (e[1] | 0x20) == 'e' && (e[2] | 0x20) == 'x' && (e[3] | 0x20) == 'e' ? 1 : 0;
}
