// The floor under mounting: the archive's header and directory read, and the
// entries' names sorted with std::sort in the archive's name order (ASCII
// letters folded, bytes unsigned).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "archive/format.h"
#include "bench/bench.h"

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
    if (argc != 2) bench::fail("usage", "bench_floor_mount ARCHIVE");
    const double start = bench::now();
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0) bench::fail("cannot open", argv[1]);
    PakHeader h;
    if (read(fd, &h, sizeof h) != sizeof h || h.magic != PAK_MAGIC || h.packed_dir_size != 0)
        bench::fail("not an archive with a plain directory", argv[1]);
    std::vector<PakEntry> dir(h.entry_count);
    const ssize_t want = static_cast<ssize_t>(dir.size() * sizeof(PakEntry));
    if (pread(fd, dir.data(), static_cast<size_t>(want), h.dir_offset) != want) bench::fail("cannot read", argv[1]);
    std::vector<const PakEntry *> index(dir.size());
    for (size_t i = 0; i < dir.size(); ++i) index[i] = &dir[i];
    std::sort(index.begin(), index.end(), name_less);
    bench::report("mount", bench::now() - start);
    close(fd);
    bench::count("entries", static_cast<long long>(index.size()));
    return 0;
}
