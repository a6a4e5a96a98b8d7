// The reference for the update: the payload's two packed blocks read, each
// inflated in one call into a buffer of its unpacked size, and each file
// written and flushed to the disk (as "dd conv=fsync" would).
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "archive/format.h"
#include "bench/bench.h"

namespace {

// Inflates a masked stream (its first byte XORed with the mask).
void unpack(std::vector<char> &dest, std::vector<char> &source)
{
    source[0] = static_cast<char>(source[0] ^ BLOCK_MASK);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) bench::fail("inflateInit");
    z.next_in = reinterpret_cast<Bytef *>(source.data());
    z.avail_in = static_cast<uInt>(source.size());
    z.next_out = reinterpret_cast<Bytef *>(dest.data());
    z.avail_out = static_cast<uInt>(dest.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END || z.total_out != dest.size()) bench::fail("inflate");
    inflateEnd(&z);
}

void read_at(int fd, void *buffer, size_t size, uint64_t offset)
{
    if (pread(fd, buffer, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size)) bench::fail("short read");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) bench::fail("usage", "bench_floor_update PAYLOAD.exe DIR");
    const std::string dir = argv[2];
    const double start = bench::now();
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0) bench::fail("cannot open", argv[1]);
    const off_t end = lseek(fd, 0, SEEK_END);
    uint32_t base;
    read_at(fd, &base, 4, static_cast<uint64_t>(end - 4));
    PakHeader h;
    read_at(fd, &h, sizeof h, base);
    std::vector<char> dir_bytes(h.entry_count * sizeof(PakEntry));
    if (h.packed_dir_size) {
        std::vector<char> packed(h.packed_dir_size);
        read_at(fd, packed.data(), packed.size(), base + h.dir_offset);
        unpack(dir_bytes, packed);
    } else {
        read_at(fd, dir_bytes.data(), dir_bytes.size(), base + h.dir_offset);
    }
    for (const char *name : {"Korin3.EXE", "Update.PAK"}) {
        const PakEntry *entry = nullptr;
        for (uint32_t i = 0; i < h.entry_count; ++i) {
            const PakEntry *e = reinterpret_cast<const PakEntry *>(&dir_bytes[i * sizeof(PakEntry)]);
            if (e->data_offset && std::strcmp(e->name + 3, name) == 0) entry = e;
        }
        if (!entry) bench::fail("no entry", name);
        PackedBlockHead head;
        read_at(fd, &head, sizeof head, base + entry->data_offset);
        std::vector<char> stream(head.packed_size);
        read_at(fd, stream.data(), stream.size(), base + entry->data_offset + sizeof head);
        std::vector<char> data(head.unpacked_size);
        unpack(data, stream);
        bench::write_file((dir + "/" + name).c_str(), data.data(), data.size(), true);
    }
    close(fd);
    bench::report("update", bench::now() - start);
    return 0;
}
