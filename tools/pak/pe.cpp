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
#include "tools/pak/pe.h"

#include <cstring>

#include "archive/format.h"

namespace {

uint32_t le32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
unsigned le16(const unsigned char *p) { return p[0] | p[1] << 8; }

}  // namespace

int pe_is_signed(ReadAt read, void *context)
{
    unsigned char dos[64];
    if (read(0, dos, sizeof dos, context) != 0 || dos[0] != 'M' || dos[1] != 'Z') return 0;
    const uint32_t pe = le32(dos + 0x3C);
    unsigned char head[24 + 2];
    if (pe > 0x7FFFFFF0u || read(pe, head, sizeof head, context) != 0) return 0;
    if (std::memcmp(head, "PE\0\0", 4) != 0) return 0;
    const unsigned optional_size = le16(head + 20);
    const unsigned magic = le16(head + 24);
    const unsigned count_at = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
    if (count_at == 0 || optional_size < count_at + 4 + 5 * 8) return 0;
    unsigned char count[4];
    if (read(pe + 24 + count_at, count, 4, context) != 0 || le32(count) < 5) return 0;
    unsigned char security[8];
    if (read(pe + 24 + count_at + 4 + 4 * 8, security, 8, context) != 0) return 0;
    return le32(security) != 0 || le32(security + 4) != 0 ? 1 : 0;
}

int has_appended_archive(ReadAt read, void *context, uint32_t file_size)
{
    if (file_size < PAK_HEADER_SIZE + PAK_TRAILER_SIZE) return 0;
    unsigned char trailer[4];
    if (read(file_size - PAK_TRAILER_SIZE, trailer, 4, context) != 0) return 0;
    const uint32_t base = le32(trailer);
    if (base > file_size - PAK_TRAILER_SIZE - PAK_HEADER_SIZE) return 0;
    unsigned char magic[4];
    return read(base, magic, 4, context) == 0 && le32(magic) == PAK_MAGIC ? 1 : 0;
}
