#include "bench/bench.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bench {

std::vector<char> read_file(const char *path)
{
    const int fd = open(path, O_RDONLY);
    if (fd < 0) fail("cannot open", path);
    struct stat st;
    if (fstat(fd, &st) != 0) fail("cannot stat", path);
    std::vector<char> data(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = read(fd, data.data() + got, data.size() - got);
        if (n <= 0) fail("cannot read", path);
        got += static_cast<size_t>(n);
    }
    close(fd);
    return data;
}

void write_file(const char *path, const void *data, size_t size, bool sync)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) fail("cannot create", path);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, static_cast<const char *>(data) + done, size - done);
        if (n <= 0) fail("cannot write", path);
        done += static_cast<size_t>(n);
    }
    if (sync && fsync(fd) != 0) fail("cannot flush", path);
    if (close(fd) != 0) fail("cannot close", path);
}

long rss_kb(const char *field)
{
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            kb = std::strtol(line + n + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

void peak_reset()
{
    // Writing 5 resets the peak (VmHWM) to the present size.
    FILE *f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return;
    std::fputs("5", f);
    std::fclose(f);
}

std::vector<std::string> read_lines(const char *path)
{
    const std::vector<char> data = read_file(path);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] != '\n') continue;
        lines.emplace_back(data.data() + start, i - start);
        start = i + 1;
    }
    if (start < data.size()) lines.emplace_back(data.data() + start, data.size() - start);
    return lines;
}

}  // namespace bench
