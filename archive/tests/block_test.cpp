#include "archive/tests/fixture.h"

namespace {

pk::Bytes noise(size_t n)
{
    pk::Bytes b(n);
    uint32_t x = 2463534242u;
    for (auto &c : b) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = static_cast<uint8_t>(x);
    }
    return b;
}

int pack(pk::Bytes &out, const pk::Bytes &in, int capacity)
{
    return block_pack(out.data(), in.data(), static_cast<int>(in.size()), capacity);
}

TEST(PackedBlock, RoundTripIsZlibWithTheFirstByteMasked)
{
    const pk::Bytes inputs[] = {{'x'}, pk::bytes_of("Korin3.EXE"), pk::pattern_bytes(100000), noise(5000),
                                pk::Bytes(4096, 0)};
    for (const pk::Bytes &in : inputs) {
        SCOPED_TRACE(in.size());
        pk::Bytes packed(in.size() + 1024);
        const int n = pack(packed, in, 0);  // 0: no practical limit
        ASSERT_GT(n, 0);
        packed.resize(n);
        pk::Bytes plain = pk::zlib_stream(in);
        plain[0] ^= 0x3D;
        EXPECT_EQ(packed, plain);

        pk::Bytes back(in.size());
        EXPECT_EQ(block_unpack(back.data(), packed.data(), n, static_cast<int>(back.size())),
                  static_cast<int>(in.size()));
        EXPECT_EQ(back, in);
    }
}

TEST(PackedBlock, FailuresGiveZeroAndLeaveTheSourceAsItWas)
{
    const pk::Bytes data = pk::pattern_bytes(3000);
    const pk::Bytes good = pk::masked_stream(data);
    pk::Bytes unmasked = good;
    unmasked[0] ^= 0x3D;
    pk::Bytes corrupt = good;
    corrupt[good.size() / 2] ^= 0xFF;
    const pk::Bytes cut(good.begin(), good.end() - 5);
    struct Case {
        const char *what;
        const pk::Bytes &stream;
        int capacity;
    } cases[] = {
        {"output one byte larger than the room", good, 2999},
        {"stream cut short", cut, 3000},
        {"first byte not masked", unmasked, 3000},
        {"damaged deflate data", corrupt, 3000},
        {"first byte alone", pk::Bytes(good.begin(), good.begin() + 1), 3000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const pk::Bytes before = c.stream;
        pk::Bytes out(3000);
        EXPECT_EQ(block_unpack(out.data(), c.stream.data(), static_cast<int>(c.stream.size()), c.capacity), 0);
        EXPECT_EQ(c.stream, before);
    }
    pk::Bytes small(good.size() - 1);
    EXPECT_EQ(pack(small, data, static_cast<int>(small.size())), 0) << "packed form larger than the room";
    pk::Bytes out(16);
    EXPECT_EQ(block_unpack(out.data(), good.data(), 0, 16), 0) << "empty source";
}

using UserValue = ArchiveTest;

TEST_F(UserValue, IsReadFromTheHeaderWithoutMounting)
{
    pk::Archive a;
    a.user_value = 0x12345678;
    EXPECT_EQ(pak_read_user_value(tmp.write("a.pak", pk::build(a)).c_str()), 0x12345678u);
    a.user_value = 0;
    a.magic = 0x11111111;  // the magic is not checked
    EXPECT_EQ(pak_read_user_value(tmp.write("b.pak", pk::build(a)).c_str()), 0u);
    EXPECT_EQ(pak_read_user_value(tmp.write("short.pak", pk::Bytes(23, 0)).c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(pak_read_user_value(tmp.file("missing.pak").c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(g_mount.mount_count, 0);
}

}  // namespace
