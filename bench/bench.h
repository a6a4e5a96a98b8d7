// Shared by the benchmark programs: a clock, the lines they report to
// bench_run, whole-file reading with one read, and the process's resident
// memory. Linux only; these programs measure, they do not ship.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

inline double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Lines that start with '@' are what bench_run collects: a phase's seconds,
// or a number (counts, kilobytes).
inline void report(const char *name, double seconds) { std::printf("@%s %.6f\n", name, seconds); }
inline void count(const char *name, long long value) { std::printf("@%s %lld\n", name, value); }

[[noreturn]] inline void fail(const char *what, const char *detail = "")
{
    std::fprintf(stderr, "bench: %s%s%s\n", what, *detail ? ": " : "", detail);
    std::exit(1);
}

// The whole file in one buffer, read with as few read calls as the system
// allows (one, for any size this benchmark uses).
std::vector<char> read_file(const char *path);
void write_file(const char *path, const void *data, size_t size, bool sync = false);

// Resident memory in kilobytes: now ("VmRSS") and the peak since the last
// peak_reset ("VmHWM").
long rss_kb(const char *field = "VmRSS");
void peak_reset();

// The lines of a text file, without their line ends.
std::vector<std::string> read_lines(const char *path);

}  // namespace bench
