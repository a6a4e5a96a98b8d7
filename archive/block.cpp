// Packed blocks: one-shot zlib streams whose first byte is masked.
//
// PackedBlock, as files are stored in archives (callers frame it):
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

}  // namespace

int block_pack(void *dest, const void *source, int source_length, int dest_capacity)
{
    if (!dest || source_length < 0 || dest_capacity < 0 || (!source && source_length > 0)) return 0;
    z_stream s = new_stream();
    s.next_in = static_cast<const Bytef *>(source);
    s.avail_in = static_cast<uInt>(source_length);
    s.next_out = static_cast<Bytef *>(dest);
    s.avail_out = dest_capacity ? static_cast<uInt>(dest_capacity) : 0x40000000u;
    if (deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
    if (deflate(&s, Z_FINISH) != Z_STREAM_END) {
        deflateEnd(&s);
        return 0;
    }
    if (deflateEnd(&s) != Z_OK) return 0;
    static_cast<uint8_t *>(dest)[0] ^= BLOCK_MASK;
    return static_cast<int>(s.total_out);
}

int block_unpack(void *dest, const void *source, int source_length, int dest_capacity)
{
    if (!dest || !source || source_length <= 0 || dest_capacity < 0) return 0;
    // The source stays untouched: the unmasked first byte is fed on its own.
    const Bytef first = static_cast<const Bytef *>(source)[0] ^ BLOCK_MASK;
    z_stream s = new_stream();
    s.next_out = static_cast<Bytef *>(dest);
    s.avail_out = static_cast<uInt>(dest_capacity);
    if (inflateInit(&s) != Z_OK) return 0;
    ScopeGuard end_stream([&] { inflateEnd(&s); });

    s.next_in = &first;
    s.avail_in = 1;
    if (inflate(&s, Z_NO_FLUSH) != Z_OK || s.avail_in != 0) return 0;
    s.next_in = static_cast<const Bytef *>(source) + 1;
    s.avail_in = static_cast<uInt>(source_length - 1);
    if (inflate(&s, Z_FINISH) != Z_STREAM_END) return 0;

    end_stream.dismiss();
    if (inflateEnd(&s) != Z_OK) return 0;
    return static_cast<int>(s.total_out);
}

uint32_t pak_read_user_value(const char *path)
{
    if (!path) return 0xFFFFFFFFu;
    const int file = disk_open(path, DISK_READ);
    if (file == -1) return 0xFFFFFFFFu;
    PakHeader header;
    const int n = disk_read(file, &header, PAK_HEADER_SIZE);
    disk_close(file);
    return n == PAK_HEADER_SIZE ? header.user_value : 0xFFFFFFFFu;
}
