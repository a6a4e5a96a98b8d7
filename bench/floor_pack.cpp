// The floor under "pak add": each file read with one read, deflated in one
// call at the codec's default level (zlib, or libdeflate in
// bench_floor_pack_libdeflate), and written out with one write, framed as
// the streams file that bench_floor_unpack reads:
//   u16 name length, name, u32 unpacked size, u32 packed size, stream
// "-l N" packs at level N instead (for the sizes of other levels).
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>
#if BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench.h"

int main(int argc, char **argv)
{
    int level = 6, first = 1;
    if (argc > 2 && std::strcmp(argv[1], "-l") == 0) level = std::atoi(argv[2]), first = 3;
    if (argc < first + 2) bench::fail("usage", "bench_floor_pack [-l LEVEL] OUT FILE...");
    const char *out_path = argv[first];
    const int out = open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) bench::fail("cannot create", out_path);
#if BENCH_LIBDEFLATE
    libdeflate_compressor *c = libdeflate_alloc_compressor(level);
    if (!c) bench::fail("libdeflate_alloc_compressor");
#endif
    for (int i = first + 1; i < argc; ++i) {
        const std::vector<char> data = bench::read_file(argv[i]);
        const char *slash = std::strrchr(argv[i], '/');
        const std::string name = slash ? slash + 1 : argv[i];
        const uint16_t name_length = static_cast<uint16_t>(name.size());
        const size_t head = 2 + name.size() + 8;
        uint32_t sizes[2] = {static_cast<uint32_t>(data.size()), 0};
        std::vector<char> record;
#if BENCH_LIBDEFLATE
        record.resize(head + libdeflate_zlib_compress_bound(c, data.size()));
        sizes[1] = static_cast<uint32_t>(
            libdeflate_zlib_compress(c, data.data(), data.size(), record.data() + head, record.size() - head));
        if (sizes[1] == 0) bench::fail("libdeflate_zlib_compress", argv[i]);
#else
        z_stream z{};
        if (deflateInit(&z, level) != Z_OK) bench::fail("deflateInit");
        record.resize(head + deflateBound(&z, data.size()));
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
        z.avail_in = static_cast<uInt>(data.size());
        z.next_out = reinterpret_cast<Bytef *>(record.data() + head);
        z.avail_out = static_cast<uInt>(record.size() - head);
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) bench::fail("deflate", argv[i]);
        sizes[1] = static_cast<uint32_t>(z.total_out);
        deflateEnd(&z);
#endif
        std::memcpy(record.data(), &name_length, 2);
        std::memcpy(record.data() + 2, name.data(), name.size());
        std::memcpy(record.data() + 2 + name.size(), sizes, 8);
        const size_t length = head + sizes[1];
        if (write(out, record.data(), length) != static_cast<ssize_t>(length)) bench::fail("cannot write", out_path);
    }
    if (close(out) != 0) bench::fail("cannot close", out_path);
    return 0;
}
