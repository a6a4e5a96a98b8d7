// The floor under "pak extract": each stream of the streams file (see
// bench_floor_pack) read with one read, inflated in one call (zlib, or
// libdeflate in bench_floor_unpack_libdeflate), and written to its file with
// one write.
#include <zlib.h>
#if BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "bench/bench.h"

namespace {

// Exactly n bytes from the file, or none at its end; fails on a short file.
bool read_exactly(int fd, void *buffer, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = read(fd, static_cast<char *>(buffer) + got, n - got);
        if (r == 0 && got == 0) return false;
        if (r <= 0) bench::fail("cannot read the streams");
        got += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) bench::fail("usage", "bench_floor_unpack STREAMS DIR");
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0) bench::fail("cannot open", argv[1]);
    const std::string dir = argv[2];
    // Each stream read into one buffer and inflated into another, both kept
    // from file to file and never cleared: fresh pages cost more here than
    // the inflate, and pak keeps its buffers too.
    std::vector<char> in, data;
    long long files = 0;
    uint16_t name_length;
    while (read_exactly(fd, &name_length, 2)) {
        std::string name(name_length, '\0');
        uint32_t sizes[2];
        read_exactly(fd, name.data(), name_length);
        read_exactly(fd, sizes, 8);
        if (in.size() < sizes[1]) in.resize(sizes[1]);
        if (data.size() < sizes[0]) data.resize(sizes[0]);
        read_exactly(fd, in.data(), sizes[1]);
#if BENCH_LIBDEFLATE
        static libdeflate_decompressor *d = libdeflate_alloc_decompressor();
        size_t got = 0;
        if (libdeflate_zlib_decompress(d, in.data(), sizes[1], data.data(), sizes[0], &got) != LIBDEFLATE_SUCCESS ||
            got != sizes[0])
            bench::fail("inflate", name.c_str());
#else
        z_stream z{};
        if (inflateInit(&z) != Z_OK) bench::fail("inflateInit");
        z.next_in = reinterpret_cast<Bytef *>(in.data());
        z.avail_in = sizes[1];
        z.next_out = reinterpret_cast<Bytef *>(data.data());
        z.avail_out = sizes[0];
        if (inflate(&z, Z_FINISH) != Z_STREAM_END || z.total_out != sizes[0]) bench::fail("inflate", name.c_str());
        inflateEnd(&z);
#endif
        bench::write_file((dir + "/" + name).c_str(), data.data(), sizes[0]);
        ++files;
    }
    close(fd);
    bench::count("files", files);
    return 0;
}
