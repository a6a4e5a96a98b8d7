// The peer of bench_mount: a zip holding the same names mounted with
// PhysicsFS, then each name opened for reading and closed once.
#include <physfs.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/bench.h"

int main(int argc, char **argv)
{
    if (argc != 3) bench::fail("usage", "bench_physfs_mount ZIP NAMES");
    // The names file holds archive names ("#:\Data00\..."); the zip holds
    // them without the drive prefix, with '/' between the parts.
    std::vector<std::string> names = bench::read_lines(argv[2]);
    for (std::string &name : names) {
        name.erase(0, 3);
        std::replace(name.begin(), name.end(), '\\', '/');
    }
    if (!PHYSFS_init(argv[0])) bench::fail("PHYSFS_init");

    const double start = bench::now();
    const int mounted_ok = PHYSFS_mount(argv[1], nullptr, 0);
    const double mounted = bench::now();
    if (!mounted_ok) bench::fail("cannot mount", PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode()));

    long long opened = 0;
    for (const std::string &name : names) {
        PHYSFS_File *f = PHYSFS_openRead(name.c_str());
        if (!f) continue;
        PHYSFS_close(f);
        ++opened;
    }
    const double looked_up = bench::now();
    PHYSFS_deinit();

    bench::report("mount", mounted - start);
    bench::report("lookup", looked_up - mounted);
    bench::count("opened", opened);
    return opened == static_cast<long long>(names.size()) ? 0 : 1;
}
