// Packed blocks: one-shot zlib streams whose first byte is masked, and their
// stored form. The only file that speaks zlib.
//
// PackedBlock, as packed files are stored in archives:
//   off size field
//    0   4   unpacked_size    length before packing
//    4   4   packed_size      length of the stream that follows
//    8   n   stream           zlib (RFC 1950) at the default level; its first
//                             byte XORed with 0x3D
// A packed directory is the masked stream alone.
#define ZLIB_CONST
#include <zlib.h>

#include <cstring>

#include "archive/internal.h"
#include "platform/error.h"
#include "platform/platform.h"

namespace {

// zlib's memory comes from the platform heap, zero-filled.
voidpf zlib_alloc(voidpf, uInt items, uInt size)
{
    const size_t n = static_cast<size_t>(items) * size;
    if (size != 0 && n / size != items) return Z_NULL;
    void *p = mem_alloc(n);
    if (p) std::memset(p, 0, n);
    return p;
}

void zlib_free(voidpf, voidpf block) { mem_free(block); }

z_stream new_stream()
{
    z_stream s;
    std::memset(&s, 0, sizeof s);
    s.zalloc = zlib_alloc;
    s.zfree = zlib_free;
    return s;
}

// Inflates the masked stream into dest; the stream must end exactly at its
// last byte's worth of output. Result: bytes produced, or -1 (reason set).
// dest_capacity may be 0 for a stream that must produce nothing.
int64_t inflate_masked(void *dest, const void *source, int source_length, int dest_capacity)
{
    if (source_length <= 0) return fail(ERR_DAMAGED, int64_t{-1}, "a packed block holds no stream");
    // The source stays untouched: the unmasked first byte is fed on its own.
    const Bytef first = static_cast<const Bytef *>(source)[0] ^ BLOCK_MASK;
    // zlib will not move a byte into no room, so an empty result still gets
    // one byte to write into; a stream that uses it is longer than declared.
    Bytef spare;
    z_stream s = new_stream();
    s.next_out = dest_capacity > 0 ? static_cast<Bytef *>(dest) : &spare;
    s.avail_out = dest_capacity > 0 ? static_cast<uInt>(dest_capacity) : 1;
    const int init = inflateInit(&s);
    if (init != Z_OK) return fail(init == Z_MEM_ERROR ? ERR_NO_MEMORY : ERR_FAILED, int64_t{-1});
    ScopeGuard end_stream([&] { inflateEnd(&s); });

    s.next_in = &first;
    s.avail_in = 1;
    int z = inflate(&s, Z_NO_FLUSH);
    if (z == Z_OK && s.avail_in == 0) {
        s.next_in = static_cast<const Bytef *>(source) + 1;
        s.avail_in = static_cast<uInt>(source_length - 1);
        z = inflate(&s, Z_FINISH);
    }
    if (z == Z_MEM_ERROR) return fail(ERR_NO_MEMORY, int64_t{-1});
    if (dest_capacity == 0 && s.total_out != 0)
        return fail(ERR_DAMAGED, int64_t{-1}, "a packed block holds more than it declares");
    if (z != Z_STREAM_END) return fail(ERR_DAMAGED, int64_t{-1}, "a packed block does not unpack");
    return static_cast<int64_t>(s.total_out);
}

}  // namespace

int block_pack(void *dest, const void *source, int source_length, int dest_capacity)
{
    if (!dest || source_length < 0 || dest_capacity < 0 || (!source && source_length > 0))
        return fail(ERR_FAILED, 0, "bad arguments to block_pack");
    z_stream s = new_stream();
    s.next_in = static_cast<const Bytef *>(source);
    s.avail_in = static_cast<uInt>(source_length);
    s.next_out = static_cast<Bytef *>(dest);
    s.avail_out = dest_capacity ? static_cast<uInt>(dest_capacity) : 0x40000000u;
    if (deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return fail(ERR_NO_MEMORY, 0);
    const int z = deflate(&s, Z_FINISH);
    if (deflateEnd(&s) != Z_OK || z != Z_STREAM_END)
        return fail(ERR_TOO_LARGE, 0, "the packed form does not fit its room");
    static_cast<uint8_t *>(dest)[0] ^= BLOCK_MASK;
    return static_cast<int>(s.total_out);
}

int block_unpack(void *dest, const void *source, int source_length, int dest_capacity)
{
    if (!dest || !source || dest_capacity < 0) return fail(ERR_FAILED, 0, "bad arguments to block_unpack");
    const int64_t n = inflate_masked(dest, source, source_length, dest_capacity);
    // An empty result is reported as a failure, as callers compare counts.
    if (n == 0) return fail(ERR_DAMAGED, 0, "a packed block unpacks to nothing");
    return n < 0 ? 0 : static_cast<int>(n);
}

int64_t block_stored_bound(int64_t size)
{
    // zlib's deflateBound for the default settings, with room to spare, plus
    // the two size words.
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 13 + 64 + PACKED_HEAD_SIZE;
}

int block_pack_stored(void *dest, const void *source, int source_length, int dest_capacity)
{
    if (dest_capacity < PACKED_HEAD_SIZE) return fail(ERR_TOO_LARGE, 0, "no room for a packed block");
    const int packed = block_pack(static_cast<char *>(dest) + PACKED_HEAD_SIZE, source, source_length,
                                  dest_capacity - PACKED_HEAD_SIZE);
    if (packed == 0) return 0;
    const PackedBlockHead head{static_cast<uint32_t>(source_length), static_cast<uint32_t>(packed)};
    std::memcpy(dest, &head, sizeof head);
    return PACKED_HEAD_SIZE + packed;
}

int block_looks_stored(const void *head, int64_t stored_length)
{
    if (stored_length < PACKED_HEAD_SIZE + 2) return 0;
    const auto *p = static_cast<const uint8_t *>(head);
    if (le32(p + 4) != stored_length - PACKED_HEAD_SIZE) return 0;
    // A zlib header (RFC 1950): deflate, a window of at most 32 KB, the check
    // bits right, no preset dictionary.
    const unsigned cmf = p[8] ^ BLOCK_MASK, flg = p[9];
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0 && !(flg & 0x20);
}

int block_unpack_stored(const void *stored, int stored_length, char **out, int *out_length)
{
    *out = nullptr;
    *out_length = 0;
    if (!stored || stored_length < PACKED_HEAD_SIZE)
        return fail(ERR_DAMAGED, -1, "a packed block is shorter than its head");
    const auto *p = static_cast<const uint8_t *>(stored);
    const uint32_t size = le32(p), packed = le32(p + 4);
    const int64_t stream_room = stored_length - PACKED_HEAD_SIZE;
    if (packed > stream_room) return fail(ERR_DAMAGED, -1, "a packed block runs past its entry");
    if (size > DISK_POSITION_LIMIT || static_cast<int64_t>(size) > static_cast<int64_t>(packed) * BLOCK_MAX_RATIO + 64)
        return fail(ERR_DAMAGED, -1, "a packed block declares more than its stream can hold");
    // One byte more than needed, so that an empty result is a block too.
    char *data = static_cast<char *>(mem_alloc(static_cast<size_t>(size) + 1));
    if (!data) return -1;
    const int64_t n = inflate_masked(data, p + PACKED_HEAD_SIZE, static_cast<int>(packed), static_cast<int>(size));
    if (n != size) {
        mem_free(data);
        return n < 0 ? -1 : fail(ERR_DAMAGED, -1, "a packed block unpacks to less than it declares");
    }
    *out = data;
    *out_length = static_cast<int>(size);
    return 0;
}

uint32_t block_checksum(uint32_t crc, const void *data, int length)
{
    return static_cast<uint32_t>(crc32(crc, static_cast<const Bytef *>(data), length > 0 ? static_cast<uInt>(length) : 0));
}

uint32_t pak_read_user_value(const char *path)
{
    if (!path) return 0xFFFFFFFFu;
    const int file = disk_open(path, DISK_READ);
    if (file == -1) return 0xFFFFFFFFu;
    PakHeader header;
    const int n = disk_read(file, &header, PAK_HEADER_SIZE);
    disk_close(file);
    return n == PAK_HEADER_SIZE ? header.user_value : fail(ERR_NOT_ARCHIVE, 0xFFFFFFFFu);
}
