#include <zlib.h>

#include <algorithm>

#include "archive/tests/fixture.h"

namespace {

pk::Bytes noise(size_t n)
{
    pk::Bytes b(n);
    uint32_t x = 2463534242u;
    for (auto &c : b) x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = static_cast<uint8_t>(x);
    return b;
}

TEST(PackedBlock, RoundTripIsZlibWithTheFirstByteMasked)
{
    for (const pk::Bytes &in : {pk::Bytes{'x'}, pk::pattern_bytes(100000), noise(5000), pk::Bytes(4096, 0)}) {
        SCOPED_TRACE(in.size());
        pk::Bytes packed(in.size() + 1024);
        const int n = block_pack(packed.data(), in.data(), static_cast<int>(in.size()), 0);  // 0: no practical limit
        ASSERT_GT(n, 0);
        packed.resize(n);
        EXPECT_EQ(packed, pk::masked_stream(in));
        EXPECT_EQ(pk::unmask_and_inflate(packed, in.size()), in) << "zlib reads it";
        pk::Bytes back(in.size());
        EXPECT_EQ(block_unpack(back.data(), packed.data(), n, static_cast<int>(back.size())), static_cast<int>(in.size()));
        EXPECT_EQ(back, in);
    }
}

TEST(PackedBlock, FailuresGiveZeroAndLeaveTheSourceAsItWas)
{
    const pk::Bytes data = pk::pattern_bytes(3000), good = pk::masked_stream(data);
    pk::Bytes unmasked = good, corrupt = good;
    unmasked[0] ^= 0x3D;
    corrupt[good.size() / 2] ^= 0xFF;
    const struct { const char *what; pk::Bytes stream; int capacity; } cases[] = {
        {"output one byte larger than the room", good, 2999},
        {"stream cut short", pk::Bytes(good.begin(), good.end() - 5), 3000},
        {"first byte not masked", unmasked, 3000},
        {"damaged deflate data", corrupt, 3000},
        {"first byte alone", pk::Bytes(good.begin(), good.begin() + 1), 3000},
        {"empty source", {}, 3000},
    };
    for (const auto &c : cases) {
        pk::Bytes source = c.stream, out(3000);
        EXPECT_EQ(block_unpack(out.data(), source.data(), static_cast<int>(source.size()), c.capacity), 0) << c.what;
        EXPECT_EQ(source, c.stream) << c.what;
    }
    pk::Bytes small(good.size() - 1);
    EXPECT_EQ(block_pack(small.data(), data.data(), 3000, static_cast<int>(small.size())), 0) << "larger than the room";
}

// Lines from a small table in a random order: text that packs into dynamic
// blocks with matches across any cut.
pk::Bytes lines(size_t n)
{
    const pk::Bytes table = pk::pattern_bytes(6000, 9);
    pk::Bytes out;
    uint32_t x = 5;
    while (out.size() < n) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        const size_t at = x % 5900, length = 20 + x % 80;
        out.insert(out.end(), table.begin() + at, table.begin() + at + length);
        out.push_back('\n');
    }
    out.resize(n);
    return out;
}

// A block joined from pieces cut at the given lengths (the last takes the
// rest), as pak add joins a large file's.
pk::Bytes joined(const pk::Bytes &in, const std::vector<size_t> &cuts, int level)
{
    BlockStream stream;
    pk::Bytes block(BLOCK_STREAM_FIRST);
    EXPECT_EQ(block_stream_begin(&stream, static_cast<int64_t>(in.size()), block.data(), level), 0);
    size_t at = 0;
    for (size_t k = 0; at < in.size() || k == 0; ++k) {
        const bool last = k + 1 >= cuts.size() || at + cuts[k] >= in.size();
        const int length = static_cast<int>(last ? in.size() - at : cuts[k]);
        const int prime = static_cast<int>(std::min<size_t>(at, BLOCK_PIECE_PRIME));
        pk::Bytes piece(static_cast<size_t>(block_piece_bound(length)));
        uint32_t check = 0;
        const int n = block_pack_piece(piece.data(), static_cast<int>(piece.size()), in.data() + at - prime, prime,
                                       in.data() + at, length, last, &check, level);
        EXPECT_GT(n, 0) << "piece " << k << ": " << err_detail();
        EXPECT_EQ(block_stream_add(&stream, n, check, length), 0);
        block.insert(block.end(), piece.begin(), piece.begin() + std::max(n, 0));
        at += static_cast<size_t>(length);
        if (last) break;
    }
    uint8_t tail[4], head[PACKED_HEAD_SIZE];
    EXPECT_EQ(block_stream_end(&stream, tail, head), 0);
    block.insert(block.end(), tail, tail + 4);
    std::copy(head, head + PACKED_HEAD_SIZE, block.begin());
    return block;
}

// zlib's inflate, which the update programs use, reads every block the
// packer writes, one-shot or joined from pieces, at every level, to the
// same bytes: empty, incompressible and text, pieces of every size down to
// one byte, so that the joints fall at every bit of a byte.
TEST(PackedBlock, EveryBlockThePackerWritesInflatesWithZlib)
{
    const pk::Bytes text = lines(300000), random = noise(150000);
    pk::Bytes mixed = lines(70000);
    mixed.insert(mixed.end(), random.begin(), random.begin() + 70000);
    const struct { const char *what; pk::Bytes data; } inputs[] = {
        {"empty", {}}, {"one byte", {'x'}}, {"text", text}, {"incompressible", random}, {"text and noise", mixed}};
    const std::vector<size_t> cuts = {1, 7, 100, 3, 5000, 65536 + 3, 2, 11, 17, 40000, 29, 31};
    std::vector<int> levels = {BLOCK_LEVEL_DEFAULT};
    for (int level = 1; level <= block_level_best(); ++level) levels.push_back(level);
    for (const int level : levels) {
        for (const auto &in : inputs) {
            SCOPED_TRACE(std::string(in.what) + ", level " + std::to_string(level));
            pk::Bytes stored(static_cast<size_t>(block_stored_bound(static_cast<int64_t>(in.data.size()))));
            const int n = block_pack_stored_at(stored.data(), in.data.data(), static_cast<int>(in.data.size()),
                                               static_cast<int>(stored.size()), level);
            ASSERT_GT(n, 0);
            stored.resize(static_cast<size_t>(n));
            for (const pk::Bytes &block : {stored, joined(in.data, cuts, level), joined(in.data, {BLOCK_PIECE_SIZE}, level)}) {
                ASSERT_GE(block.size(), 8u);
                EXPECT_EQ(pk::get_u32(block, 0), in.data.size());
                EXPECT_EQ(pk::get_u32(block, 4), block.size() - 8);
                EXPECT_EQ(pk::unmask_and_inflate(pk::Bytes(block.begin() + 8, block.end()), in.data.size()), in.data);
                char *out = nullptr;
                int length = 0;
                ASSERT_EQ(block_unpack_stored(block.data(), static_cast<int>(block.size()), &out, &length), 0);
                EXPECT_TRUE(pk::Bytes(out, out + length) == in.data);
                mem_free(out);
            }
        }
    }
    // The default packs no larger than zlib's default, the best level
    // smaller than zlib's best (or as small, where zlib is the codec).
    for (const pk::Bytes &in : {text, mixed}) {
        pk::Bytes out(in.size() * 2);
        uLongf zlib_default = static_cast<uLongf>(out.size()), zlib_best = zlib_default;
        ASSERT_EQ(compress2(out.data(), &zlib_default, in.data(), in.size(), Z_DEFAULT_COMPRESSION), Z_OK);
        ASSERT_EQ(compress2(out.data(), &zlib_best, in.data(), in.size(), Z_BEST_COMPRESSION), Z_OK);
        const int size = static_cast<int>(in.size()), room = static_cast<int>(out.size());
        EXPECT_LE(block_pack_at(out.data(), in.data(), size, room, BLOCK_LEVEL_DEFAULT), static_cast<int>(zlib_default));
        EXPECT_LE(block_pack_at(out.data(), in.data(), size, room, block_level_best()), static_cast<int>(zlib_best));
    }
}

using UserValue = ArchiveTest;

TEST_F(UserValue, IsReadFromTheHeaderWithoutMounting)
{
    pk::Archive a;
    a.user_value = 0x12345678;
    a.magic = 0x11111111;  // the magic is not checked
    EXPECT_EQ(pak_read_user_value(tmp.write("a.pak", pk::build(a)).c_str()), 0x12345678u);
    EXPECT_EQ(pak_read_user_value(tmp.write("short.pak", pk::Bytes(23, 0)).c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(pak_read_user_value(tmp.file("missing.pak").c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(g_mount.mount_count, 0);
}

}  // namespace

namespace {

pk::Bytes cut_short(pk::Bytes block)
{
    block.resize(block.size() - 3);
    pk::put_u32(block, 4, static_cast<uint32_t>(block.size() - 8));
    return block;
}

// The byte in the middle, or the last one, changed.
pk::Bytes flipped(pk::Bytes block, bool last)
{
    block[last ? block.size() - 1 : block.size() / 2] ^= 0x21;
    return block;
}

uint32_t get_u32(const pk::Bytes &b, size_t at)
{
    return b.size() < at + 4 ? 0 : b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A block read from memory and what it unpacks to, chunk by chunk.
struct Chunks {
    const pk::Bytes *block;
    pk::Bytes out;
    size_t largest;
    int stop_after = 0;  // chunks taken before the sink says stop; 0: never
};

int read_from(int64_t offset, void *buffer, int n, void *context)
{
    const Chunks *c = static_cast<const Chunks *>(context);
    if (offset < 0 || static_cast<size_t>(offset) + n > c->block->size()) return -1;
    std::copy(c->block->begin() + offset, c->block->begin() + offset + n, static_cast<uint8_t *>(buffer));
    return 0;
}

int take(const void *bytes, size_t n, void *context)
{
    Chunks *c = static_cast<Chunks *>(context);
    c->out.insert(c->out.end(), static_cast<const uint8_t *>(bytes), static_cast<const uint8_t *>(bytes) + n);
    c->largest = std::max(c->largest, n);
    return c->stop_after && c->out.size() >= static_cast<size_t>(c->stop_after) ? -1 : 0;
}

// The stored form: a block unpacks only to exactly what its head declares, and
// a block that declares nothing must hold a stream that produces nothing.
TEST(PackedBlock, StoredBlocksUnpackToExactlyTheirDeclaredSize)
{
    const pk::Bytes abc = pk::bytes_of("abc"), empty_block = pk::packed_block({});
    auto declaring = [](pk::Bytes block, uint32_t size) {
        pk::put_u32(block, 0, size);
        return block;
    };
    const uint32_t size = 3 * BLOCK_STREAM_CHUNK + 1000;
    const pk::Bytes large = pk::pattern_bytes(size), large_block = pk::packed_block(large);
    pk::Bytes past = pk::packed_block(abc);
    pk::put_u32(past, 4, static_cast<uint32_t>(past.size()));  // stream claimed longer than stored
    const struct {
        const char *what;
        pk::Bytes block;
        int result;
        const char *detail;
    } cases[] = {
        {"three bytes", pk::packed_block(abc), 0, nullptr},
        {"nothing, from an empty stream", empty_block, 0, nullptr},
        {"nothing declared, three bytes held", declaring(pk::packed_block(abc), 0), -1, "holds more than it declares"},
        {"fewer declared than held", declaring(pk::packed_block(abc), 2), -1, "does not unpack"},
        {"more declared than held", declaring(pk::packed_block(abc), 4), -1, "less than it declares"},
        {"a gigabyte from a few bytes", declaring(pk::packed_block(abc), 1u << 30), -1, "more than its stream"},
        {"stream past the block", past, -1, "runs past its entry"},
        {"head cut short", pk::Bytes{3, 0, 0}, -1, "shorter than its head"},
        {"no stream", pk::Bytes(8, 0), -1, "holds no stream"},
        {"stream cut short", cut_short(large_block), -1, "does not unpack"},
        {"deflate data damaged", flipped(large_block, false), -1, "does not unpack"},
        {"check wrong", flipped(large_block, true), -1, "does not unpack"},
        {"many chunks", large_block, 0, nullptr},
        {"many chunks, one byte fewer declared", declaring(large_block, size - 1), -1, "does not unpack"},
    };
    // Unpacked whole and a chunk at a time: the same bytes, the same refusals.
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const pk::Bytes expected = c.block == empty_block ? pk::Bytes{} : get_u32(c.block, 0) == size ? large : abc;
        char *out = nullptr;
        int length = -1;
        err_clear();
        ASSERT_EQ(block_unpack_stored(c.block.data(), static_cast<int>(c.block.size()), &out, &length), c.result);
        if (c.result == 0) {
            EXPECT_TRUE(pk::Bytes(out, out + length) == expected);
            mem_free(out);
        } else {
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(err_last(), ERR_DAMAGED);
            EXPECT_NE(std::string(err_detail()).find(c.detail), std::string::npos) << err_detail();
        }
        const std::string whole_detail = c.result ? err_detail() : "";
        Chunks chunks{&c.block, {}, 0};
        err_clear();
        ASSERT_EQ(block_unpack_stored_to(read_from, &chunks, static_cast<int64_t>(c.block.size()), take, &chunks), c.result);
        EXPECT_LE(chunks.largest, static_cast<size_t>(BLOCK_STREAM_CHUNK));
        if (c.result == 0) {
            EXPECT_TRUE(chunks.out == expected);
        } else {
            EXPECT_EQ(err_last(), ERR_DAMAGED);
            EXPECT_EQ(std::string(err_detail()), whole_detail);
        }
    }
    // A sink that stops ends it.
    Chunks chunks{&large_block, {}, 0, 1};
    EXPECT_EQ(block_unpack_stored_to(read_from, &chunks, static_cast<int64_t>(large_block.size()), take, &chunks), -1);
    EXPECT_EQ(chunks.out.size(), static_cast<size_t>(BLOCK_STREAM_CHUNK));
}

}  // namespace

namespace {

// A packed block with one field of its head spoilt is damage, whatever the
// spoilt byte; stored data that merely shares a field or two with a head
// (a size at offset 4, as RIFF files have; a zlib header at offset 8) is not.
TEST(PackedBlock, AHeadWrongInOneFieldLooksDamagedAndStoredLookalikesDoNot)
{
    const pk::Bytes good = pk::packed_block(pk::pattern_bytes(11111));
    const auto changed = [&](size_t at, uint8_t x) {
        pk::Bytes b = good;
        b[at] ^= x;
        return b;
    };
    pk::Bytes riff = pk::bytes_of("RIFF....WAVEfmt ");
    riff.resize(2 << 20, 7);
    pk::put_u32(riff, 4, static_cast<uint32_t>(riff.size() - 8));
    pk::Bytes header_only = noise(5000);  // a zlib header at 8, the size two bytes off
    header_only[8] = 0x78 ^ 0x3D, header_only[9] = 0x9C;
    pk::put_u32(header_only, 0, 6000), pk::put_u32(header_only, 4, (5000 - 8) ^ 0x0101);
    const struct {
        const char *what;
        pk::Bytes bytes;
        const char *damage;  // null: not damage
    } cases[] = {
        {"stream size, low byte", changed(4, 0xFF), "wrong stream size"},
        {"stream size, high byte", changed(7, 0x01), "wrong stream size"},
        {"method byte", changed(8, 0xFF), "wrong zlib header"},
        {"flag byte", changed(9, 0xFF), "wrong zlib header"},
        {"a whole block", good, nullptr},
        {"stream size and header", [&] { pk::Bytes b = changed(8, 0xFF); b[4] ^= 1; return b; }(), nullptr},
        {"a RIFF file", riff, nullptr},
        {"a zlib header after a size two bytes off", header_only, nullptr},
        {"noise", noise(5000), nullptr},
        {"too short for a head", pk::Bytes{1, 0, 0, 0, 2, 0, 0, 0, 0x45}, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        err_clear();
        ASSERT_EQ(block_looks_damaged(c.bytes.data(), static_cast<int64_t>(c.bytes.size())), c.damage ? 1 : 0);
        if (!c.damage) continue;
        EXPECT_EQ(err_last(), ERR_DAMAGED);
        EXPECT_NE(std::string(err_detail()).find(c.damage), std::string::npos) << err_detail();
        EXPECT_EQ(block_looks_stored(c.bytes.data(), static_cast<int64_t>(c.bytes.size())), 0);
    }
}

}  // namespace
