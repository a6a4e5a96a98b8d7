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
