// The floor under "pak add": each file read with one read, deflated in one
// call at zlib's default level, and written out with one write, framed as
// the streams file that bench_floor_unpack reads:
//   u16 name length, name, u32 unpacked size, u32 packed size, stream
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "bench/bench.h"

int main(int argc, char **argv)
{
    if (argc < 3) bench::fail("usage", "bench_floor_pack OUT FILE...");
    const int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) bench::fail("cannot create", argv[1]);
    for (int i = 2; i < argc; ++i) {
        const std::vector<char> data = bench::read_file(argv[i]);
        const char *slash = std::strrchr(argv[i], '/');
        const std::string name = slash ? slash + 1 : argv[i];

        z_stream z{};
        if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) bench::fail("deflateInit");
        const uint16_t name_length = static_cast<uint16_t>(name.size());
        const size_t head = 2 + name.size() + 8;
        std::vector<char> record(head + deflateBound(&z, data.size()));
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
        z.avail_in = static_cast<uInt>(data.size());
        z.next_out = reinterpret_cast<Bytef *>(record.data() + head);
        z.avail_out = static_cast<uInt>(record.size() - head);
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) bench::fail("deflate", argv[i]);
        const uint32_t sizes[2] = {static_cast<uint32_t>(data.size()), static_cast<uint32_t>(z.total_out)};
        deflateEnd(&z);

        std::memcpy(record.data(), &name_length, 2);
        std::memcpy(record.data() + 2, name.data(), name.size());
        std::memcpy(record.data() + 2 + name.size(), sizes, 8);
        const size_t length = head + sizes[1];
        if (write(out, record.data(), length) != static_cast<ssize_t>(length)) bench::fail("cannot write", argv[1]);
    }
    if (close(out) != 0) bench::fail("cannot close", argv[1]);
    return 0;
}
