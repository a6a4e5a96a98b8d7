// The PAK archive format. All integers are little-endian; offsets inside an
// archive count from its first byte (the "P" of the magic), never from the
// start of the file that holds it.
//
// PakHeader, 24 bytes at archive offset 0:
//   off size field
//    0   4   magic            "PAKS" (0x534B4150 as a little-endian u32)
//    4   4   entry_count      PakEntry records in the directory, free ones included
//    8   4   dir_offset       archive offset of the directory
//   12   1   first_drive      lowest drive character served
//   13   1   last_drive       highest drive character served (inclusive)
//   14   2   reserved         zero
//   16   4   user_value       chosen by the creator; never interpreted by mounting
//   20   4   packed_dir_size  0: plain directory (entry_count * 64 bytes);
//                             else the byte length of the packed directory
//
// PakEntry, 64 bytes; the directory is an array of entry_count of them:
//   off size field
//    0   4   stored_size      bytes stored at data_offset (a whole PackedBlock
//                             for a packed file: 8 + packed length)
//    4   4   data_offset      archive offset of the data; 0 marks a free record
//    8  16   reserved         zero when created here; copied unchanged
//   24  40   name             zero-terminated, at most 39 characters
//
// PackedBlock, the stored form of a packed file:
//   off size field
//    0   4   unpacked_size    length before packing
//    4   4   packed_size      length of the stream that follows
//    8   n   stream           zlib stream whose first byte is XORed with 0x3D
//
// A packed directory is block_pack of the entry_count * 64 directory bytes,
// with no size prefix.
//
// Appended form: the archive follows an executable (name ending in ".exe");
// the file's last 4 bytes are a u32 trailer holding the file offset at which
// the archive starts. The trailer is not part of the archive.
#pragma once

#include <cstdint>

struct PakHeader {
    uint32_t magic;
    uint32_t entry_count;
    uint32_t dir_offset;
    uint8_t first_drive;
    uint8_t last_drive;
    uint8_t reserved[2];
    uint32_t user_value;
    uint32_t packed_dir_size;
};
static_assert(sizeof(PakHeader) == 24);

struct PakEntry {
    uint32_t stored_size;
    uint32_t data_offset;
    uint8_t reserved[16];
    char name[40];
};
static_assert(sizeof(PakEntry) == 64);

struct PackedBlockHead {
    uint32_t unpacked_size;
    uint32_t packed_size;
};
static_assert(sizeof(PackedBlockHead) == 8);

// The structs above are the byte layout itself: this code runs only on
// little-endian hosts (x86 Windows and Linux).
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);

constexpr uint32_t PAK_MAGIC = 0x534B4150u;  // "PAKS"
constexpr int PAK_HEADER_SIZE = 24;
constexpr int PAK_ENTRY_SIZE = 64;
constexpr int PAK_NAME_SIZE = 40;               // 39 characters and the terminator
constexpr int PAK_EMPTY_DIR_SIZE = 4096;        // directory space of a new archive
constexpr int PAK_TRAILER_SIZE = 4;
constexpr uint8_t BLOCK_MASK = 0x3D;            // XORed into a stream's first byte
constexpr int PACKED_HEAD_SIZE = 8;             // PackedBlockHead before the stream

// Little-endian fields read from bytes of any alignment.
inline uint32_t le32(const uint8_t *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint32_t le16(const uint8_t *p) { return p[0] | p[1] << 8; }
