// Loading a configuration file and walking over every key of every section.
#include "bench/bench.h"
#include "config/config.h"

int main(int argc, char **argv)
{
    if (argc != 2) bench::fail("usage", "bench_cfg FILE");
    const double start = bench::now();
    if (!cfg_load(argv[1])) bench::fail("cannot load", argv[1]);
    long long keys = 0, sections = 0;
    for (int32_t s = cfg_find_section(nullptr, 1); s; s = cfg_next_section(s, nullptr)) {
        ++sections;
        for (int32_t k = cfg_next_key(s, nullptr, nullptr); k; k = cfg_next_key(k, nullptr, nullptr)) ++keys;
    }
    bench::report("load", bench::now() - start);
    cfg_free();
    bench::count("sections", sections);
    bench::count("keys", keys);
    return 0;
}
