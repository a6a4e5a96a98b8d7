// Packed blocks: unpacking arbitrary streams into arbitrary capacities never
// overruns and never changes the source; packing then unpacking gives back
// the input; the same bytes as a stored block unpack a chunk at a time to
// what they unpack to whole, or are refused for the same reason.
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "fuzz/fuzz_support.h"
#include "platform/error.h"

namespace {

struct Chunked {
    const std::vector<uint8_t> *block;
    std::vector<uint8_t> out;
};

int read_block(int64_t offset, void *buffer, int n, void *context)
{
    const Chunked *c = static_cast<const Chunked *>(context);
    if (offset < 0 || static_cast<size_t>(offset) + static_cast<size_t>(n) > c->block->size()) return -1;
    std::memcpy(buffer, c->block->data() + offset, static_cast<size_t>(n));
    return 0;
}

int take(const void *bytes, size_t n, void *context)
{
    Chunked *c = static_cast<Chunked *>(context);
    c->out.insert(c->out.end(), static_cast<const uint8_t *>(bytes), static_cast<const uint8_t *>(bytes) + n);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3) return 0;  // at least one stream byte: empty input is its own seed
    const int capacity = data[0] | (data[1] << 8);  // 0 .. 64 KB
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

    char *whole = nullptr;
    int whole_length = 0;
    err_clear();
    const int w = block_unpack_stored(source.data(), length, &whole, &whole_length);
    const std::string why = w != 0 && err_detail() ? err_detail() : "";
    Chunked chunked{&source, {}};
    err_clear();
    const int c = block_unpack_stored_to(read_block, &chunked, length, take, &chunked);
    FUZZ_CHECK(c == w);
    FUZZ_CHECK(w != 0 || (chunked.out.size() == static_cast<size_t>(whole_length) &&
                          (chunked.out.empty() || std::memcmp(chunked.out.data(), whole, chunked.out.size()) == 0)));
    FUZZ_CHECK(w == 0 || why == (err_detail() ? err_detail() : ""));
    mem_free(whole);
    return 0;
}
