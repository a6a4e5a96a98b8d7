// The floor under loading a configuration file: the file read with one read
// and one memchr pass over its line ends.
#include <cstring>

#include "bench/bench.h"

int main(int argc, char **argv)
{
    if (argc != 2) bench::fail("usage", "bench_floor_cfg FILE");
    const double start = bench::now();
    const std::vector<char> text = bench::read_file(argv[1]);
    long long lines = 0;
    const char *p = text.data();
    const char *end = p + text.size();
    while (const void *lf = std::memchr(p, '\n', static_cast<size_t>(end - p))) {
        ++lines;
        p = static_cast<const char *>(lf) + 1;
    }
    bench::report("load", bench::now() - start);
    bench::count("lines", lines);
    return 0;
}
