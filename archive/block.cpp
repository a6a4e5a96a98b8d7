// Packed blocks: zlib streams whose first byte is masked, and their stored
// form; packed in one go, or in pieces joined into one stream (large files).
// The only file that speaks zlib, and the only one that knows which codec
// makes and reads the streams: libdeflate where the build has it (whole
// blocks about three times as fast as zlib, and a little smaller), zlib
// otherwise and for what libdeflate cannot do. Either way the stream is
// standard zlib, which is all the update programs read.
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
#if KORIN_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
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

// The level zlib and libdeflate call their default, and the flag byte of a
// zlib header that says how hard a level packs (RFC 1950's FLEVEL, as both
// write it; check bits included).
constexpr int DEFAULT_LEVEL = 6;
uint8_t header_flags(int level)
{
    return level < 2 ? 0x01 : level < 6 ? 0x5E : level == 6 ? 0x9C : 0xDA;
}

bool level_valid(int level) { return level == BLOCK_LEVEL_DEFAULT || (level >= 1 && level <= block_level_best()); }

// Whether the stream's two header bytes are a zlib header (RFC 1950): deflate,
// a window of at most 32 KB, the check bits right, no preset dictionary.
bool zlib_header(unsigned cmf, unsigned flg)
{
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0 && !(flg & 0x20);
}

// The most a deflate stream of n bytes takes, either codec: libdeflate may
// cut incompressible data into stored blocks as short as 5000 bytes, 5 bytes
// of frame each, and wants 8 bytes of room beyond what it writes.
int64_t deflate_bound(int64_t n) { return n + 5 * (n / 4096 + 1) + 16; }

#if KORIN_LIBDEFLATE
// Setting a compressor up costs more than packing a small file, so each
// thread keeps one per level, and its decompressor, until it ends (or
// block_codec_release). They come from the C heap, not mem_alloc: they
// outlive the operations that count blocks.
struct Codecs {
    libdeflate_compressor *pack[13] = {};
    libdeflate_decompressor *unpack = nullptr;
    void release()
    {
        for (libdeflate_compressor *&c : pack) {
            if (c) libdeflate_free_compressor(c);
            c = nullptr;
        }
        if (unpack) libdeflate_free_decompressor(unpack);
        unpack = nullptr;
    }
    ~Codecs() { release(); }
};
thread_local Codecs t_codecs;

libdeflate_compressor *compressor(int level)
{
    if (level == BLOCK_LEVEL_DEFAULT) level = DEFAULT_LEVEL;
    libdeflate_compressor *&c = t_codecs.pack[level];
    if (!c) c = libdeflate_alloc_compressor(level);
    return c;
}

uint32_t big_endian32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Packs source as a zlib stream into dest (at most capacity bytes), unmasked;
// bytes written, or 0 (reason set). libdeflate wants some room beyond what it
// writes: a stream that fits only without it is packed aside and copied.
int pack_zlib(void *dest, const void *source, int source_length, int capacity, int level)
{
    libdeflate_compressor *c = compressor(level);
    if (!c) return fail(ERR_NO_MEMORY, 0);
    size_t n = libdeflate_zlib_compress(c, source, static_cast<size_t>(source_length), dest, static_cast<size_t>(capacity));
    if (n == 0) {
        const size_t room = libdeflate_zlib_compress_bound(c, static_cast<size_t>(source_length));
        char *aside = static_cast<char *>(mem_alloc(room));
        if (!aside) return passed(0);
        n = libdeflate_zlib_compress(c, source, static_cast<size_t>(source_length), aside, room);
        if (n != 0 && n <= static_cast<size_t>(capacity)) std::memcpy(dest, aside, n);
        mem_free(aside);
        if (n == 0 || n > static_cast<size_t>(capacity)) return fail(ERR_TOO_LARGE, 0, "the packed form does not fit its room");
    }
    return static_cast<int>(n);
}

// Inflates a masked zlib stream whose header is right. As zlib's inflate
// does: the output at most dest_capacity bytes, the check right, bytes after
// the check ignored. Result: bytes produced, or -1 (reason set).
int64_t inflate_libdeflate(void *dest, const uint8_t *source, int source_length, int dest_capacity)
{
    if (!t_codecs.unpack) t_codecs.unpack = libdeflate_alloc_decompressor();
    if (!t_codecs.unpack) return fail(ERR_NO_MEMORY, int64_t{-1});
    size_t used = 0, produced = 0;
    const libdeflate_result r = libdeflate_deflate_decompress_ex(t_codecs.unpack, source + 2, static_cast<size_t>(source_length - 2),
                                                                 dest, static_cast<size_t>(dest_capacity), &used, &produced);
    if (r == LIBDEFLATE_INSUFFICIENT_SPACE && dest_capacity == 0)
        return fail(ERR_DAMAGED, int64_t{-1}, "a packed block holds more than it declares");
    if (r != LIBDEFLATE_SUCCESS || 2 + used + 4 > static_cast<size_t>(source_length) ||
        big_endian32(source + 2 + used) != libdeflate_adler32(1, dest, produced))
        return fail(ERR_DAMAGED, int64_t{-1}, "a packed block does not unpack");
    return static_cast<int64_t>(produced);
}

// ---- Continuing a finished deflate stream ----------------------------------------
//
// libdeflate ends every stream it makes: its last block says it is the last,
// and the stream stops somewhere in its last byte. To join a piece to the
// next, the walk below finds that block and that bit; the piece then says
// "not last" and is brought to a byte boundary by an empty stored block, as
// zlib's sync flush would. The walk decodes every code and writes nothing.

struct BitWalk {
    const uint8_t *start, *next, *end;
    uint64_t bits;  // unread bits, the next one lowest
    int count;      // how many
    int over;       // zero bytes fed past the end
    bool bad;

    // At least 56 bits ready (zeros past the end, counted).
    void refill()
    {
        if (end - next >= 8) {
            uint64_t word;
            std::memcpy(&word, next, 8);
            bits |= word << count;  // little-endian hosts only: the walk is native only
            next += (63 - count) >> 3;
            count |= 56;
            return;
        }
        while (count <= 56) {
            if (next < end) bits |= static_cast<uint64_t>(*next++) << count;
            else if (++over > 16) bad = true;
            count += 8;
        }
    }
    uint32_t take(int n)
    {
        const uint32_t v = static_cast<uint32_t>(bits & ((uint64_t{1} << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }
    int64_t position() const { return (next - start + over) * int64_t{8} - count; }
    void seek(int64_t byte)
    {
        next = start + byte;
        bits = 0;
        count = 0;
        over = 0;
    }
};

// A decoding table of 2^bits entries, indexed by the next bits of the
// stream: symbol | code length << 9; 0 where no code starts.
struct Code {
    uint16_t *table;
    int bits;
};

bool build_code(Code *code, const uint8_t *lengths, int n)
{
    int count[16] = {}, next[16];
    for (int i = 0; i < n; ++i) ++count[lengths[i]];
    count[0] = 0;
    int left = 1, longest = 0;
    for (int len = 1; len <= 15; ++len) {
        left = (left << 1) - count[len];
        if (left < 0) return false;  // more codes than room
        if (count[len]) longest = len;
    }
    code->bits = longest ? longest : 1;
    const int size = 1 << code->bits;
    std::memset(code->table, 0, sizeof(uint16_t) * static_cast<size_t>(size));
    next[1] = 0;
    for (int len = 1; len < 15; ++len) next[len + 1] = (next[len] + count[len]) << 1;
    for (int sym = 0; sym < n; ++sym) {
        const int len = lengths[sym];
        if (!len) continue;
        int c = next[len]++, reversed = 0;
        for (int i = 0; i < len; ++i, c >>= 1) reversed = reversed << 1 | (c & 1);
        for (int i = reversed; i < size; i += 1 << len) code->table[i] = static_cast<uint16_t>(sym | len << 9);
    }
    return true;
}

int decode(BitWalk *w, const Code &code)
{
    const uint16_t e = code.table[w->bits & ((uint64_t{1} << code.bits) - 1)];
    if (!e) {
        w->bad = true;
        return 0;
    }
    w->take(e >> 9);
    return e & 511;
}

constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Walks the codes of one Huffman block to its end of block.
bool walk_codes(BitWalk *w, const Code &literal, const Code &distance)
{
    for (;;) {
        w->refill();
        const int sym = decode(w, literal);
        if (w->bad) return false;
        if (sym < 256) continue;
        if (sym == 256) return true;
        if (sym > 285) return false;
        w->take(LENGTH_EXTRA[sym - 257]);
        const int d = decode(w, distance);
        if (w->bad || d > 29) return false;
        w->take(DISTANCE_EXTRA[d]);
    }
}

// Reads a dynamic block's code lengths (RFC 1951, 3.2.7) into the two codes.
bool read_codes(BitWalk *w, Code *literal, Code *distance, uint16_t *scratch)
{
    static constexpr uint8_t ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    w->refill();
    const int nlen = static_cast<int>(w->take(5)) + 257, ndist = static_cast<int>(w->take(5)) + 1;
    const int ncode = static_cast<int>(w->take(4)) + 4;
    if (nlen > 286 || ndist > 30) return false;
    uint8_t lengths[286 + 30] = {};
    for (int i = 0; i < ncode; ++i) {
        w->refill();
        lengths[ORDER[i]] = static_cast<uint8_t>(w->take(3));
    }
    Code lens{scratch, 0};
    if (!build_code(&lens, lengths, 19)) return false;
    std::memset(lengths, 0, 19);
    for (int i = 0; i < nlen + ndist;) {
        w->refill();
        const int sym = decode(w, lens);
        if (w->bad) return false;
        if (sym < 16) {
            lengths[i++] = static_cast<uint8_t>(sym);
            continue;
        }
        int repeat = 0;
        uint8_t value = 0;
        if (sym == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + static_cast<int>(w->take(2));
        } else {
            repeat = sym == 17 ? 3 + static_cast<int>(w->take(3)) : 11 + static_cast<int>(w->take(7));
        }
        if (i + repeat > nlen + ndist) return false;
        while (repeat--) lengths[i++] = value;
    }
    if (lengths[256] == 0) return false;
    return build_code(literal, lengths, nlen) && build_code(distance, lengths + nlen, ndist);
}

// Finds, in a whole raw deflate stream of n bytes, the bit that marks its
// last block as last and the bit after its end. 0, or -1 when it is not one
// whole stream.
int find_last_block(const uint8_t *stream, int n, int64_t *last_bit, int64_t *end_bit)
{
    // Two full tables (15-bit codes at most) and one for the code lengths.
    uint16_t *tables = static_cast<uint16_t *>(mem_alloc(sizeof(uint16_t) * ((2u << 15) + 128)));
    if (!tables) return passed(-1);
    ScopeGuard release([&] { mem_free(tables); });
    Code literal{tables, 0}, distance{tables + (1 << 15), 0};
    BitWalk w{stream, stream, stream + n, 0, 0, 0, false};
    for (;;) {
        w.refill();
        const int64_t header = w.position();
        const bool last = w.take(1);
        const uint32_t type = w.take(2);
        if (type == 0) {
            const int64_t at = (w.position() + 7) / 8;
            if (at + 4 > n) break;
            const unsigned length = stream[at] | stream[at + 1] << 8;
            if ((length ^ (stream[at + 2] | stream[at + 3] << 8)) != 0xFFFF || at + 4 + length > n) break;
            w.seek(at + 4 + length);
        } else if (type == 1) {
            uint8_t lengths[288 + 32];
            std::memset(lengths, 8, 144);
            std::memset(lengths + 144, 9, 112);
            std::memset(lengths + 256, 7, 24);
            std::memset(lengths + 280, 8, 8);
            std::memset(lengths + 288, 5, 32);
            if (!build_code(&literal, lengths, 288) || !build_code(&distance, lengths + 288, 32) ||
                !walk_codes(&w, literal, distance))
                break;
        } else if (type != 2 || !read_codes(&w, &literal, &distance, tables + (2 << 15)) ||
                   !walk_codes(&w, literal, distance)) {
            break;
        }
        if (w.bad || w.position() > int64_t{8} * n) break;
        if (last) {
            *last_bit = header;
            *end_bit = w.position();
            return 0;
        }
    }
    return fail(ERR_FAILED, -1, "a packed piece is no whole deflate stream");
}

// Packs a piece as raw deflate that the next piece's data may follow: not
// the last block, and ending on a byte boundary. Bytes written, or 0.
int pack_piece_libdeflate(uint8_t *dest, int capacity, const void *source, int length, bool last, int level)
{
    libdeflate_compressor *c = compressor(level);
    if (!c) return fail(ERR_NO_MEMORY, 0);
    // Room for the empty stored block the joint takes.
    const size_t n = libdeflate_deflate_compress(c, source, static_cast<size_t>(length), dest, static_cast<size_t>(capacity - 6));
    if (n == 0) return fail(ERR_TOO_LARGE, 0, "the packed piece does not fit its room");
    if (last) return static_cast<int>(n);
    int64_t last_bit = 0, end_bit = 0;
    if (find_last_block(dest, static_cast<int>(n), &last_bit, &end_bit) != 0) return passed(0);
    dest[last_bit / 8] &= static_cast<uint8_t>(~(1u << (last_bit % 8)));
    // The stored block's three header bits (all 0) start at end_bit; what is
    // left of their byte is padding, and then its length 0 and the length's
    // complement.
    int at = static_cast<int>((end_bit + 7) / 8);
    const int used = static_cast<int>(end_bit % 8);
    if (used) dest[at - 1] &= static_cast<uint8_t>((1u << used) - 1);
    if (used == 0 || used > 5) dest[at++] = 0;
    const uint8_t empty_stored[4] = {0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(dest + at, empty_stored, 4);
    return at + 4;
}
#endif

// Inflates the masked stream into dest; the stream must end exactly at its
// last byte's worth of output. Result: bytes produced, or -1 (reason set).
// dest_capacity may be 0 for a stream that must produce nothing.
int64_t inflate_masked(void *dest, const void *source, int source_length, int dest_capacity)
{
    if (source_length <= 0) return fail(ERR_DAMAGED, int64_t{-1}, "a packed block holds no stream");
#if KORIN_LIBDEFLATE
    // zlib reads what has no right header, so that it fails as zlib fails.
    const uint8_t *bytes = static_cast<const uint8_t *>(source);
    if (source_length > 6 && zlib_header(bytes[0] ^ BLOCK_MASK, bytes[1]))
        return inflate_libdeflate(dest, bytes, source_length, dest_capacity);
#endif
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
    return block_pack_at(dest, source, source_length, dest_capacity, BLOCK_LEVEL_DEFAULT);
}

int block_pack_at(void *dest, const void *source, int source_length, int dest_capacity, int level)
{
    if (!dest || source_length < 0 || dest_capacity < 0 || (!source && source_length > 0) || !level_valid(level))
        return fail(ERR_FAILED, 0, "bad arguments to block_pack");
#if KORIN_LIBDEFLATE
    // "No practical limit" is what any stream of this input takes at most:
    // libdeflate writes a little beyond its output within the room it has.
    const int capacity = dest_capacity ? dest_capacity
                                       : static_cast<int>(std::min<int64_t>(0x40000000, deflate_bound(source_length) + 6));
    const int n = pack_zlib(dest, source, source_length, capacity, level);
    if (n == 0) return passed(0);
    static_cast<uint8_t *>(dest)[0] ^= BLOCK_MASK;
    return n;
#else
    z_stream s = new_stream();
    s.next_in = static_cast<const Bytef *>(source);
    s.avail_in = static_cast<uInt>(source_length);
    s.next_out = static_cast<Bytef *>(dest);
    s.avail_out = dest_capacity ? static_cast<uInt>(dest_capacity) : 0x40000000u;
    if (deflateInit2(&s, level == BLOCK_LEVEL_DEFAULT ? Z_DEFAULT_COMPRESSION : level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return fail(ERR_NO_MEMORY, 0);
    const int z = deflate(&s, Z_FINISH);
    if (deflateEnd(&s) != Z_OK || z != Z_STREAM_END)
        return fail(ERR_TOO_LARGE, 0, "the packed form does not fit its room");
    static_cast<uint8_t *>(dest)[0] ^= BLOCK_MASK;
    return static_cast<int>(s.total_out);
#endif
}

int block_level_best()
{
#if KORIN_LIBDEFLATE
    return 12;
#else
    return Z_BEST_COMPRESSION;
#endif
}

void block_codec_release()
{
#if KORIN_LIBDEFLATE
    t_codecs.release();
#endif
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
    // The deflate data, with room to spare, its zlib header and check, and
    // the two size words; a split block's pieces each add a flush and their
    // own rounding.
    const int pieces = block_piece_count(size);
    return deflate_bound(size) + 64 + PACKED_HEAD_SIZE + (pieces > 1 ? 32LL * pieces : 0);
}

int block_piece_count(int64_t size)
{
    if (size <= BLOCK_SPLIT_SIZE) return 1;
    return static_cast<int>((size + BLOCK_PIECE_SIZE - 1) / BLOCK_PIECE_SIZE);
}

int block_piece_bound(int length)
{
    // A raw deflate stream, and the empty stored block that ends a piece on
    // a byte boundary, with room to spare.
    return static_cast<int>(deflate_bound(length)) + 16;
}

int block_pack_piece(void *dest, int dest_capacity, const void *prime, int prime_length, const void *source,
                     int length, bool last, uint32_t *check, int level)
{
    if (!dest || dest_capacity <= 0 || length < 0 || prime_length < 0 || prime_length > BLOCK_PIECE_PRIME ||
        (!source && length > 0) || (!prime && prime_length > 0) || !level_valid(level))
        return fail(ERR_FAILED, 0, "bad arguments to block_pack_piece");
#if KORIN_LIBDEFLATE
    // libdeflate takes no prime: a piece starts afresh, which costs a few
    // hundred bytes a piece and is still smaller than zlib with one.
    const int n = pack_piece_libdeflate(static_cast<uint8_t *>(dest), dest_capacity, source, length, last, level);
    if (n == 0) return passed(0);
    *check = libdeflate_adler32(1, source, static_cast<size_t>(length));
    return n;
#else
    // Raw deflate: the pieces go between one zlib header and one check.
    z_stream s = new_stream();
    if (deflateInit2(&s, level == BLOCK_LEVEL_DEFAULT ? Z_DEFAULT_COMPRESSION : level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
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
#endif
}

int block_pack_stored(void *dest, const void *source, int source_length, int dest_capacity)
{
    return block_pack_stored_at(dest, source, source_length, dest_capacity, BLOCK_LEVEL_DEFAULT);
}

int block_pack_stored_at(void *dest, const void *source, int source_length, int dest_capacity, int level)
{
    if (dest_capacity < PACKED_HEAD_SIZE) return fail(ERR_TOO_LARGE, 0, "no room for a packed block");
    const int packed = block_pack_at(static_cast<char *>(dest) + PACKED_HEAD_SIZE, source, source_length,
                                     dest_capacity - PACKED_HEAD_SIZE, level);
    if (packed == 0) return 0;
    const PackedBlockHead head{static_cast<uint32_t>(source_length), static_cast<uint32_t>(packed)};
    std::memcpy(dest, &head, sizeof head);
    return PACKED_HEAD_SIZE + packed;
}

namespace {

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

int block_stored_unpacked_size(const void *stored, int64_t stored_length, uint32_t *size)
{
    if (!stored || stored_length < PACKED_HEAD_SIZE)
        return fail(ERR_DAMAGED, -1, "a packed block is shorter than its head");
    const auto *p = static_cast<const uint8_t *>(stored);
    *size = le32(p);
    const int64_t packed = le32(p + 4);
    if (packed > stored_length - PACKED_HEAD_SIZE) return fail(ERR_DAMAGED, -1, "a packed block runs past its entry");
    if (*size > DISK_POSITION_LIMIT || static_cast<int64_t>(*size) > packed * BLOCK_MAX_RATIO + 64)
        return fail(ERR_DAMAGED, -1, "a packed block declares more than its stream can hold");
    return 0;
}

int block_unpack_stored_into(const void *stored, int stored_length, void *dest, int64_t dest_capacity)
{
    uint32_t size = 0;
    if (block_stored_unpacked_size(stored, stored_length, &size) != 0) return -1;
    if (!dest || dest_capacity < size) return fail(ERR_FAILED, -1, "bad arguments to block_unpack_stored_into");
    const auto *p = static_cast<const uint8_t *>(stored);
    const int64_t n = inflate_masked(dest, p + PACKED_HEAD_SIZE, static_cast<int>(le32(p + 4)), static_cast<int>(size));
    if (n == size) return 0;
    return n < 0 ? passed(-1) : fail(ERR_DAMAGED, -1, "a packed block unpacks to less than it declares");
}

int block_unpack_stored(const void *stored, int stored_length, char **out, int *out_length)
{
    *out = nullptr;
    *out_length = 0;
    uint32_t size = 0;
    if (block_stored_unpacked_size(stored, stored_length, &size) != 0) return -1;
    // One byte more than needed, so that an empty result is a block too.
    char *data = static_cast<char *>(mem_alloc(static_cast<size_t>(size) + 1));
    if (!data) return passed(-1);
    if (block_unpack_stored_into(stored, stored_length, data, size) != 0) {
        mem_free(data);
        return -1;
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
    uint32_t size = 0;
    if (block_stored_unpacked_size(head, stored_length, &size) != 0) return -1;
    const uint32_t packed = le32(head + 4);
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

int block_stream_begin(BlockStream *stream, int64_t size, uint8_t *first, int level)
{
    std::memset(stream, 0, sizeof *stream);
    if (!level_valid(level)) return fail(ERR_FAILED, -1, "bad arguments to block_stream_begin");
    if (size < 0 || size > DISK_POSITION_LIMIT) return fail(ERR_TOO_LARGE, -1, "too large for a packed block");
    stream->size = static_cast<uint32_t>(size);
    stream->check = 1;
    // The head, its packed size filled in at the end, and the zlib header
    // that a one-shot block of this level has.
    const PackedBlockHead head{stream->size, 0};
    std::memcpy(first, &head, sizeof head);
    first[PACKED_HEAD_SIZE] = static_cast<uint8_t>(0x78 ^ BLOCK_MASK);
    first[PACKED_HEAD_SIZE + 1] = static_cast<uint8_t>(header_flags(level == BLOCK_LEVEL_DEFAULT ? DEFAULT_LEVEL : level));
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
