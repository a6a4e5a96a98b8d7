// The floor under "pak extract": the streams file (see bench_floor_pack) read
// with one read, each stream inflated in one call into one buffer kept from
// file to file (zlib, or libdeflate in bench_floor_unpack_libdeflate), and
// each file written with one write.
#include <zlib.h>
#if BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cstdint>
#include <cstring>
#include <string>

#include "bench/bench.h"

int main(int argc, char **argv)
{
    if (argc != 3) bench::fail("usage", "bench_floor_unpack STREAMS DIR");
    // Mapped, not read into zeroed memory: the floor pays for nothing pak
    // does not.
    size_t in_size = 0;
    const char *in = bench::map_file(argv[1], &in_size);
    const std::string dir = argv[2];
    size_t at = 0;
    long long files = 0;
    while (at < in_size) {
        uint16_t name_length;
        uint32_t sizes[2];
        std::memcpy(&name_length, &in[at], 2);
        const std::string name(&in[at + 2], name_length);
        std::memcpy(sizes, &in[at + 2 + name_length], 8);
        at += 2 + name_length + 8;

        // Grown, never cleared: fresh pages cost more than the inflate.
        static std::vector<char> data;
        if (data.size() < sizes[0]) data.resize(sizes[0]);
#if BENCH_LIBDEFLATE
        static libdeflate_decompressor *d = libdeflate_alloc_decompressor();
        size_t got = 0;
        if (libdeflate_zlib_decompress(d, &in[at], sizes[1], data.data(), sizes[0], &got) != LIBDEFLATE_SUCCESS ||
            got != sizes[0])
            bench::fail("inflate", name.c_str());
#else
        z_stream z{};
        if (inflateInit(&z) != Z_OK) bench::fail("inflateInit");
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(&in[at]));
        z.avail_in = sizes[1];
        z.next_out = reinterpret_cast<Bytef *>(data.data());
        z.avail_out = sizes[0];
        if (inflate(&z, Z_FINISH) != Z_STREAM_END || z.total_out != sizes[0]) bench::fail("inflate", name.c_str());
        inflateEnd(&z);
#endif
        at += sizes[1];

        bench::write_file((dir + "/" + name).c_str(), data.data(), sizes[0]);
        ++files;
    }
    bench::count("files", files);
    return 0;
}
