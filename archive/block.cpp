// Packed blocks: zlib streams whose first byte is masked, and their stored
// form; packed in one go, or in pieces joined into one stream (large files).
// The only file that speaks zlib.
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
#include "platform/scope_guard.h"

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
    // the two size words; a split block's pieces each add a flush and their
    // own rounding.
    const int pieces = block_piece_count(size);
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 13 + 64 + PACKED_HEAD_SIZE + (pieces > 1 ? 32LL * pieces : 0);
}

int block_piece_count(int64_t size)
{
    if (size <= BLOCK_SPLIT_SIZE) return 1;
    return static_cast<int>((size + BLOCK_PIECE_SIZE - 1) / BLOCK_PIECE_SIZE);
}

int block_piece_bound(int length)
{
    // deflateBound of a raw stream, and the empty stored block that ends a
    // piece on a byte boundary, with room to spare.
    return length + (length >> 12) + (length >> 14) + (length >> 25) + 13 + 16;
}

int block_pack_piece(void *dest, int dest_capacity, const void *prime, int prime_length, const void *source,
                     int length, bool last, uint32_t *check)
{
    if (!dest || dest_capacity <= 0 || length < 0 || prime_length < 0 || prime_length > BLOCK_PIECE_PRIME ||
        (!source && length > 0) || (!prime && prime_length > 0))
        return fail(ERR_FAILED, 0, "bad arguments to block_pack_piece");
    // Raw deflate: the pieces go between one zlib header and one check.
    z_stream s = new_stream();
    if (deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return fail(ERR_NO_MEMORY, 0);
    ScopeGuard end_stream([&] { deflateEnd(&s); });
    // The bytes before the piece, as the one-shot stream would have them in
    // its window, so that the cut costs little.
    if (prime_length > 0 && deflateSetDictionary(&s, static_cast<const Bytef *>(prime), static_cast<uInt>(prime_length)) != Z_OK)
        return fail(ERR_FAILED, 0, "a piece cannot be primed");
    s.next_in = static_cast<const Bytef *>(source);
    s.avail_in = static_cast<uInt>(length);
    s.next_out = static_cast<Bytef *>(dest);
    s.avail_out = static_cast<uInt>(dest_capacity);
    // A sync flush ends on a byte boundary without ending the data, so the
    // next piece's blocks follow straight on; a full room left means done.
    const int z = deflate(&s, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool done = last ? z == Z_STREAM_END : z == Z_OK && s.avail_in == 0 && s.avail_out != 0;
    if (!done)
        return fail(ERR_TOO_LARGE, 0, "the packed piece does not fit its room");
    *check = static_cast<uint32_t>(adler32(1, static_cast<const Bytef *>(source), static_cast<uInt>(length)));
    return static_cast<int>(s.total_out);
}

int block_join_begin(BlockJoin *join, int64_t size)
{
    std::memset(join, 0, sizeof *join);
    if (size < 0 || size > DISK_POSITION_LIMIT) return fail(ERR_TOO_LARGE, -1, "too large for a packed block");
    // Room for a stream that packs well; it grows when it does not.
    join->capacity = static_cast<int>(size / 4 + PACKED_HEAD_SIZE + 64);
    join->data = static_cast<char *>(mem_alloc(static_cast<size_t>(join->capacity)));
    if (!join->data) return fail(ERR_NO_MEMORY, -1);
    join->size = static_cast<uint32_t>(size);
    join->check = 1;
    // The zlib header that deflate writes at the default level and window.
    join->data[PACKED_HEAD_SIZE] = static_cast<char>(0x78 ^ BLOCK_MASK);
    join->data[PACKED_HEAD_SIZE + 1] = static_cast<char>(0x9C);
    join->length = PACKED_HEAD_SIZE + 2;
    return 0;
}

namespace {

int join_append(BlockJoin *join, const void *bytes, int n)
{
    if (static_cast<int64_t>(join->length) + n > DISK_POSITION_LIMIT)
        return fail(ERR_TOO_LARGE, -1, "too large for a packed block");
    if (join->length + n > join->capacity) {
        int64_t grown = static_cast<int64_t>(join->capacity) * 2;
        if (grown < static_cast<int64_t>(join->length) + n) grown = static_cast<int64_t>(join->length) + n;
        if (grown > DISK_POSITION_LIMIT) grown = DISK_POSITION_LIMIT;
        char *data = static_cast<char *>(mem_realloc(join->data, static_cast<size_t>(grown)));
        if (!data) return fail(ERR_NO_MEMORY, -1);
        join->data = data;
        join->capacity = static_cast<int>(grown);
    }
    std::memcpy(join->data + join->length, bytes, static_cast<size_t>(n));
    join->length += n;
    return 0;
}

}  // namespace

int block_join_add(BlockJoin *join, const void *piece, int piece_length, uint32_t check, int source_length)
{
    if (!join->data || piece_length <= 0 || source_length < 0) return fail(ERR_FAILED, -1, "bad arguments to block_join_add");
    if (join_append(join, piece, piece_length) != 0) return passed(-1);
    join->check = static_cast<uint32_t>(adler32_combine(join->check, check, static_cast<z_off_t>(source_length)));
    return 0;
}

int block_join_end(BlockJoin *join)
{
    if (!join->data) return fail(ERR_FAILED, -1, "bad arguments to block_join_end");
    // The check is stored most significant byte first (RFC 1950).
    const uint8_t tail[4] = {static_cast<uint8_t>(join->check >> 24), static_cast<uint8_t>(join->check >> 16),
                             static_cast<uint8_t>(join->check >> 8), static_cast<uint8_t>(join->check)};
    if (join_append(join, tail, 4) != 0) return passed(-1);
    const PackedBlockHead head{join->size, static_cast<uint32_t>(join->length - PACKED_HEAD_SIZE)};
    std::memcpy(join->data, &head, sizeof head);
    return 0;
}

void block_join_abandon(BlockJoin *join)
{
    mem_free(join->data);
    join->data = nullptr;
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

namespace {

// Whether the stream's two header bytes are a zlib header (RFC 1950): deflate,
// a window of at most 32 KB, the check bits right, no preset dictionary.
bool zlib_header(unsigned cmf, unsigned flg)
{
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0 && !(flg & 0x20);
}

// Whether a stream of stream_length bytes can hold size bytes: no more than
// inflate's ratio allows, no fewer than deflate's stored blocks (and a split
// block's joints) need.
bool size_fits_stream(uint32_t size, int64_t stream_length)
{
    return size <= DISK_POSITION_LIMIT && size <= stream_length * BLOCK_MAX_RATIO + 64 &&
           stream_length <= static_cast<int64_t>(size) + size / 256 + 64;
}

}  // namespace

int block_looks_stored(const void *head, int64_t stored_length)
{
    if (stored_length < PACKED_HEAD_SIZE + 2) return 0;
    const auto *p = static_cast<const uint8_t *>(head);
    if (le32(p + 4) != stored_length - PACKED_HEAD_SIZE) return 0;
    return zlib_header(p[8] ^ BLOCK_MASK, p[9]);
}

int block_looks_damaged(const void *head, int64_t stored_length)
{
    if (stored_length < PACKED_HEAD_SIZE + 2) return 0;
    const auto *p = static_cast<const uint8_t *>(head);
    const int64_t stream = stored_length - PACKED_HEAD_SIZE;
    const uint32_t declared = le32(p + 4);
    const unsigned cmf = p[8] ^ BLOCK_MASK, flg = p[9];
    const bool size_right = declared == stream, header_right = zlib_header(cmf, flg);
    if (size_right && header_right) return 0;  // a packed block, whole or not: unpacking tells
    if (!size_fits_stream(le32(p), stream)) return 0;
    // The stream's size off in one byte, all else right.
    const uint32_t off = static_cast<uint32_t>(declared ^ static_cast<uint64_t>(stream));
    if (header_right && stream <= UINT32_MAX && ((off & ~0xFFu) == 0 || (off & ~0xFF00u) == 0 ||
                                                 (off & ~0xFF0000u) == 0 || (off & ~0xFF000000u) == 0))
        return fail(ERR_DAMAGED, 1, "a packed block with a wrong stream size");
    // The stream's size right (which stored data meets by chance once in 2^32),
    // and one of the two header bytes what a writer puts there: a deflate
    // method byte, or the flag byte of one of zlib's four levels.
    const bool method = (cmf & 0x0F) == 8 && (cmf >> 4) <= 7;
    const bool level = flg == 0x01 || flg == 0x5E || flg == 0x9C || flg == 0xDA;
    if (size_right && (method || level)) return fail(ERR_DAMAGED, 1, "a packed block with a wrong zlib header");
    return 0;
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
    if (!data) return passed(-1);
    const int64_t n = inflate_masked(data, p + PACKED_HEAD_SIZE, static_cast<int>(packed), static_cast<int>(size));
    if (n != size) {
        mem_free(data);
        return n < 0 ? passed(-1) : fail(ERR_DAMAGED, -1, "a packed block unpacks to less than it declares");
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

namespace {

// What a stream unpacked in chunks holds: its input and output buffers.
struct ChunkBuffers {
    Bytef *in = nullptr;
    Bytef *out = nullptr;
    ~ChunkBuffers()
    {
        mem_free(in);
        mem_free(out);
    }
};

}  // namespace

int block_unpack_stored_to(ReadAt read, void *read_context, int64_t stored_length, BlockSink sink, void *sink_context)
{
    if (!read || !sink) return fail(ERR_FAILED, -1, "bad arguments to block_unpack_stored_to");
    // The same checks, in the same order and words, as block_unpack_stored.
    if (stored_length < PACKED_HEAD_SIZE) return fail(ERR_DAMAGED, -1, "a packed block is shorter than its head");
    uint8_t head[PACKED_HEAD_SIZE];
    if (read(0, head, PACKED_HEAD_SIZE, read_context) != 0) return passed(-1);
    const uint32_t size = le32(head), packed = le32(head + 4);
    if (packed > stored_length - PACKED_HEAD_SIZE) return fail(ERR_DAMAGED, -1, "a packed block runs past its entry");
    if (size > DISK_POSITION_LIMIT || static_cast<int64_t>(size) > static_cast<int64_t>(packed) * BLOCK_MAX_RATIO + 64)
        return fail(ERR_DAMAGED, -1, "a packed block declares more than its stream can hold");
    if (packed == 0) return fail(ERR_DAMAGED, -1, "a packed block holds no stream");

    ChunkBuffers buffers;
    buffers.in = static_cast<Bytef *>(mem_alloc(BLOCK_STREAM_CHUNK));
    buffers.out = static_cast<Bytef *>(mem_alloc(BLOCK_STREAM_CHUNK));
    if (!buffers.in || !buffers.out) return passed(-1);
    z_stream s = new_stream();
    const int init = inflateInit(&s);
    if (init != Z_OK) return fail(init == Z_MEM_ERROR ? ERR_NO_MEMORY : ERR_FAILED, -1);
    ScopeGuard end_stream([&] { inflateEnd(&s); });

    int64_t offset = PACKED_HEAD_SIZE, produced = 0;
    uint32_t left = packed;
    int z = Z_OK;
    while (z != Z_STREAM_END) {
        if (s.avail_in == 0) {
            // The stream wants more than its declared length: cut short.
            if (left == 0) return fail(ERR_DAMAGED, -1, "a packed block does not unpack");
            const int n = left < static_cast<uint32_t>(BLOCK_STREAM_CHUNK) ? static_cast<int>(left) : BLOCK_STREAM_CHUNK;
            if (read(offset, buffers.in, n, read_context) != 0) return passed(-1);
            if (offset == PACKED_HEAD_SIZE) buffers.in[0] ^= BLOCK_MASK;
            offset += n;
            left -= static_cast<uint32_t>(n);
            s.next_in = buffers.in;
            s.avail_in = static_cast<uInt>(n);
        }
        s.next_out = buffers.out;
        s.avail_out = BLOCK_STREAM_CHUNK;
        z = inflate(&s, Z_NO_FLUSH);
        if (z == Z_MEM_ERROR) return fail(ERR_NO_MEMORY, -1);
        if (z != Z_OK && z != Z_STREAM_END && z != Z_BUF_ERROR)
            return fail(ERR_DAMAGED, -1, "a packed block does not unpack");
        const int n = BLOCK_STREAM_CHUNK - static_cast<int>(s.avail_out);
        if (produced + n > size)
            return fail(ERR_DAMAGED, -1, size == 0 ? "a packed block holds more than it declares"
                                                   : "a packed block does not unpack");
        produced += n;
        if (n > 0 && sink(buffers.out, static_cast<size_t>(n), sink_context) != 0) return -1;
    }
    if (produced != size) return fail(ERR_DAMAGED, -1, "a packed block unpacks to less than it declares");
    return 0;
}

int block_stream_begin(BlockStream *stream, int64_t size, uint8_t *first)
{
    std::memset(stream, 0, sizeof *stream);
    if (size < 0 || size > DISK_POSITION_LIMIT) return fail(ERR_TOO_LARGE, -1, "too large for a packed block");
    stream->size = static_cast<uint32_t>(size);
    stream->check = 1;
    // The head, its packed size filled in at the end, and the zlib header
    // that deflate writes at the default level and window.
    const PackedBlockHead head{stream->size, 0};
    std::memcpy(first, &head, sizeof head);
    first[PACKED_HEAD_SIZE] = static_cast<uint8_t>(0x78 ^ BLOCK_MASK);
    first[PACKED_HEAD_SIZE + 1] = 0x9C;
    stream->length = BLOCK_STREAM_FIRST - PACKED_HEAD_SIZE;
    return 0;
}

int block_stream_add(BlockStream *stream, int piece_length, uint32_t check, int source_length)
{
    if (piece_length <= 0 || source_length < 0) return fail(ERR_FAILED, -1, "bad arguments to block_stream_add");
    if (PACKED_HEAD_SIZE + stream->length + piece_length + 4 > DISK_POSITION_LIMIT)
        return fail(ERR_TOO_LARGE, -1, "too large for a packed block");
    stream->length += piece_length;
    stream->check = static_cast<uint32_t>(adler32_combine(stream->check, check, static_cast<z_off_t>(source_length)));
    return 0;
}

int block_stream_end(BlockStream *stream, uint8_t *tail, uint8_t *head)
{
    if (PACKED_HEAD_SIZE + stream->length + 4 > DISK_POSITION_LIMIT)
        return fail(ERR_TOO_LARGE, -1, "too large for a packed block");
    // The check is stored most significant byte first (RFC 1950).
    tail[0] = static_cast<uint8_t>(stream->check >> 24);
    tail[1] = static_cast<uint8_t>(stream->check >> 16);
    tail[2] = static_cast<uint8_t>(stream->check >> 8);
    tail[3] = static_cast<uint8_t>(stream->check);
    stream->length += 4;
    const PackedBlockHead h{stream->size, static_cast<uint32_t>(stream->length)};
    std::memcpy(head, &h, sizeof h);
    return 0;
}
