// The floor under mounting: the archive's header and directory read into a
// block taken as the archive library takes its blocks (mem_alloc: on Linux
// large blocks get large pages), and nothing else. With "sort", the names are
// then also put in order with std::sort in the archive's name order (ASCII
// letters folded, bytes unsigned): what mounting cost before its index was
// built without comparisons.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/format.h"
#include "bench/bench.h"
#include "platform/platform.h"

namespace {

int fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

bool name_less(const PakEntry *a, const PakEntry *b)
{
    const unsigned char *x = reinterpret_cast<const unsigned char *>(a->name);
    const unsigned char *y = reinterpret_cast<const unsigned char *>(b->name);
    for (;; ++x, ++y) {
        const int d = fold(*x) - fold(*y);
        if (d || !*x) return d < 0;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    const bool sort = argc == 3 && std::strcmp(argv[2], "sort") == 0;
    if (argc != 2 && !sort) bench::fail("usage", "bench_floor_mount ARCHIVE [sort]");
    const double start = bench::now();
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0) bench::fail("cannot open", argv[1]);
    PakHeader h;
    if (read(fd, &h, sizeof h) != sizeof h || h.magic != PAK_MAGIC || h.packed_dir_size != 0)
        bench::fail("not an archive with a plain directory", argv[1]);
    const size_t bytes = size_t{h.entry_count} * sizeof(PakEntry);
    auto *dir = static_cast<PakEntry *>(mem_alloc(bytes));
    if (!dir || pread(fd, dir, bytes, h.dir_offset) != static_cast<ssize_t>(bytes)) bench::fail("cannot read", argv[1]);
    if (sort) {
        std::vector<const PakEntry *> index(h.entry_count);
        for (size_t i = 0; i < index.size(); ++i) index[i] = &dir[i];
        std::sort(index.begin(), index.end(), name_less);
    }
    bench::report("mount", bench::now() - start);
    close(fd);
    bench::count("entries", h.entry_count);
    mem_free(dir);
    return 0;
}
