// Packed blocks: unpacking arbitrary streams into arbitrary capacities never
// overruns and never changes the source; packing then unpacking gives back
// the input.
#include <cstring>
#include <vector>

#include "archive/archive.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    const int capacity = (data[0] | (data[1] << 8)) * 16;  // 0 .. about 1 MB
    const uint8_t *stream = data + 2;
    const int length = static_cast<int>(size - 2);

    // Exact-size heap blocks, so that any overrun is caught.
    std::vector<uint8_t> source(stream, stream + length);
    std::vector<uint8_t> out(static_cast<size_t>(capacity) + 1);
    const int n = block_unpack(out.data(), source.data(), length, capacity);
    FUZZ_CHECK(n >= 0 && n <= capacity);
    FUZZ_CHECK(std::memcmp(source.data(), stream, static_cast<size_t>(length)) == 0);

    std::vector<uint8_t> packed(static_cast<size_t>(length) * 2 + 64);
    const int p = block_pack(packed.data(), stream, length, static_cast<int>(packed.size()));
    FUZZ_CHECK(p > 0);
    std::vector<uint8_t> back(static_cast<size_t>(length) + 1);
    const int u = block_unpack(back.data(), packed.data(), p, length);
    FUZZ_CHECK(u == length || (length == 0 && u == 0));
    FUZZ_CHECK(std::memcmp(back.data(), stream, static_cast<size_t>(length)) == 0);
    return 0;
}
