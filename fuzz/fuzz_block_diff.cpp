// Packed blocks against zlib itself: the same masked stream unpacked by
// block_unpack and, unmasked, by zlib's uncompress into the same room gives
// the same outcome and the same bytes. block_unpack reports an empty result
// as a failure; otherwise the two agree on every stream, whole or broken,
// too large for its room or not.
#include <zlib.h>

#include <cstring>
#include <vector>

#include "archive/archive.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    const int capacity = data[0] | (data[1] << 8);  // 0 .. 64 KB, as fuzz_block
    const uint8_t *stream = data + 2;
    const int length = static_cast<int>(size - 2);

    std::vector<uint8_t> source(stream, stream + length);
    std::vector<uint8_t> ours(static_cast<size_t>(capacity) + 1);
    const int n = length ? block_unpack(ours.data(), source.data(), length, capacity) : 0;

    std::vector<uint8_t> plain(source);
    if (length) plain[0] ^= 0x3D;
    std::vector<uint8_t> theirs(static_cast<size_t>(capacity) + 1);
    uLongf got = static_cast<uLongf>(capacity);
    const int z = uncompress(theirs.data(), &got, plain.data(), static_cast<uLong>(length));

    if (z != Z_OK || got == 0) {
        FUZZ_CHECK(n == 0);
        return 0;
    }
    FUZZ_CHECK(n == static_cast<int>(got));
    FUZZ_CHECK(std::memcmp(ours.data(), theirs.data(), got) == 0);
    return 0;
}
