// Mounting an archive and opening and closing each of its names once, in
// the order of the names file; both phases timed.
#include <string>
#include <vector>

#include "archive/archive.h"
#include "bench/bench.h"

int main(int argc, char **argv)
{
    if (argc != 3) bench::fail("usage", "bench_mount ARCHIVE NAMES");
    const std::vector<std::string> names = bench::read_lines(argv[2]);

    const double start = bench::now();
    const int slot = vfs_mount(argv[1], 0);
    const double mounted = bench::now();
    if (slot < 0) bench::fail("cannot mount", argv[1]);

    long long opened = 0;
    for (const std::string &name : names) {
        const int h = vfs_open(name.c_str(), 0);
        if (h < 0) continue;
        vfs_close(h);
        ++opened;
    }
    const double looked_up = bench::now();
    vfs_unmount(slot);

    bench::report("mount", mounted - start);
    bench::report("lookup", looked_up - mounted);
    bench::count("opened", opened);
    return opened == static_cast<long long>(names.size()) ? 0 : 1;
}
