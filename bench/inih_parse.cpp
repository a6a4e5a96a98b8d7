// The peer of bench_cfg: inih parsing the same file, with a handler that
// only counts.
#include <ini.h>

#include "bench/bench.h"

namespace {

int handler(void *user, const char *, const char *, const char *)
{
    ++*static_cast<long long *>(user);
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) bench::fail("usage", "bench_inih FILE");
    long long keys = 0;
    const double start = bench::now();
    const int error = ini_parse(argv[1], handler, &keys);
    bench::report("load", bench::now() - start);
    if (error != 0) bench::fail("parse error", argv[1]);
    bench::count("keys", keys);
    return 0;
}
