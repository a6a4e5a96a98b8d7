#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/archive.h"
#include "platform/error.h"
#include "tests/support/archive_builder.h"

namespace {

using namespace fixtures;

std::string hex(const uint8_t *digest)
{
    std::string out;
    for (int i = 0; i < SHA256_SIZE; ++i) out += "0123456789abcdef"[digest[i] >> 4], out += "0123456789abcdef"[digest[i] & 15];
    return out;
}

std::string sha256_hex(const std::string &message, size_t piece)
{
    Sha256 s;
    sha256_start(&s);
    for (size_t at = 0; at < message.size(); at += piece)
        sha256_add(&s, message.data() + at, std::min(piece, message.size() - at));
    uint8_t digest[SHA256_SIZE];
    sha256_end(&s, digest);
    return hex(digest);
}

TEST(Sha256, FipsVectorsFedInAnyPieces)
{
    const struct {
        std::string message, digest;
    } vectors[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 56 bytes: the length needs a block of its own
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto &v : vectors)
        for (const size_t piece : {size_t{1}, size_t{55}, size_t{64}, size_t{65}, size_t{1} << 20})
            EXPECT_EQ(sha256_hex(v.message, piece), v.digest) << v.message.size() << " bytes in pieces of " << piece;
}

int read_bytes(int64_t offset, void *buffer, int n, void *context)
{
    const Bytes &b = *static_cast<const Bytes *>(context);
    if (offset < 0 || static_cast<size_t>(offset) > b.size() || b.size() - offset < static_cast<size_t>(n)) return -1;
    std::memcpy(buffer, b.data() + offset, static_cast<size_t>(n));
    return 0;
}

// A program with the digest's place (marker and 32 zero bytes) at each offset given.
Bytes program_with_places(size_t size, std::vector<size_t> at)
{
    Bytes out = minimal_pe(size);
    uint8_t marker[PAYLOAD_MARKER_SIZE];
    payload_marker(marker);
    for (const size_t offset : at) {
        std::copy(marker, marker + PAYLOAD_MARKER_SIZE, out.begin() + static_cast<long>(offset));
        std::fill_n(out.begin() + static_cast<long>(offset + PAYLOAD_MARKER_SIZE), SHA256_SIZE, 0);
    }
    return out;
}

TEST(PayloadPlace, FoundOnceAnywhereIncludingAcrossReadChunks)
{
    constexpr int64_t SIZE = 200000, CHUNK = 64 << 10, M = PAYLOAD_MARKER_SIZE;
    const struct {
        const char *label;
        std::vector<size_t> places;
        int64_t limit;
        int found;
        int64_t offset;
    } cases[] = {
        {"none", {}, SIZE, 0, 0},
        {"one", {5000}, SIZE, 1, 5000 + M},
        {"one across a chunk's end", {CHUNK - 7}, SIZE, 1, CHUNK - 7 + M},
        {"one in the last bytes", {SIZE - 48}, SIZE, 1, SIZE - 32},
        {"marker without room for a digest", {SIZE - 48}, SIZE - 1, 0, 0},
        {"beyond the limit", {5000}, 5000 + M - 1, 0, 0},
        {"two", {5000, 150000}, SIZE, -1, 0},
    };
    for (const auto &c : cases) {
        Bytes file = program_with_places(SIZE, c.places);
        int64_t offset = 0;
        err_clear();
        EXPECT_EQ(payload_place_find(read_bytes, &file, c.limit, &offset), c.found) << c.label;
        if (c.found == 1) {
            EXPECT_EQ(offset, c.offset) << c.label;
        }
        if (c.found < 0) {
            EXPECT_EQ(err_last(), ERR_DAMAGED) << c.label;
        }
    }
}

// The digest covers the archive and its trailer: a signature behind them
// changes nothing, a changed byte of either does.
TEST(PayloadDigest, CoversTheArchiveAndTrailerOnly)
{
    Archive a;
    a.entries = {raw_entry("#:\\A", "some data")};
    const Bytes archive = build(a), exe = minimal_pe(4096);
    const Bytes attached = appended(exe, archive);
    Bytes tail(attached.begin() + static_cast<long>(exe.size()), attached.end());
    Sha256 s;
    sha256_start(&s);
    sha256_add(&s, tail.data(), tail.size());
    uint8_t expected[SHA256_SIZE], got[SHA256_SIZE];
    sha256_end(&s, expected);

    Bytes file = attached;
    ASSERT_EQ(payload_digest(read_bytes, &file, static_cast<int64_t>(file.size()), got), 0);
    EXPECT_EQ(hex(got), hex(expected));
    file = signed_pe(attached);
    ASSERT_EQ(payload_digest(read_bytes, &file, static_cast<int64_t>(file.size()), got), 0);
    EXPECT_EQ(hex(got), hex(expected)) << "the signature counted";
    for (const size_t flipped : {exe.size() + 30, attached.size() - 1}) {
        file = attached;
        file[flipped] ^= 1;
        const int64_t size = static_cast<int64_t>(file.size());
        EXPECT_TRUE(payload_digest(read_bytes, &file, size, got) != 0 || hex(got) != hex(expected)) << flipped;
    }
    file = exe;
    EXPECT_EQ(payload_digest(read_bytes, &file, static_cast<int64_t>(file.size()), got), -1) << "nothing attached";
}

}  // namespace
