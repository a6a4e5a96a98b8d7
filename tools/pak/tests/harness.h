// Runs pak in-process, as its main would, with its output captured, and
// builds the archives the tests read with the independent writer.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/archive.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"
#include "tools/pak/output.h"
#include "tools/pak/pak.h"

namespace pakt {

using testpak::Bytes;

struct Result {
    int status;
    std::string out;
    std::string err;
};

inline void capture(int stream, const void *bytes, int count, void *context)
{
    Result *r = static_cast<Result *>(context);
    (stream == CONSOLE_ERR ? r->err : r->out).append(static_cast<const char *>(bytes), static_cast<size_t>(count));
}

inline Result pak(std::vector<std::string> words)
{
    words.insert(words.begin(), "pak");
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    Result r{};
    out_set_sink(capture, &r);
    r.status = pak_main(static_cast<int>(words.size()), argv.data());
    out_set_sink(nullptr, nullptr);
    return r;
}

// Every test starts from the subsystems' start-up state.
class PakTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform_reset();
        archive_reset();
    }
    void TearDown() override
    {
        archive_reset();
        platform_reset();
    }
    std::string write(const std::string &name, const Bytes &bytes) { return dir.write(name, bytes); }
    std::string file(const std::string &name) { return dir.file(name); }
    Bytes read(const std::string &path) { return testpak::read_file(path); }

    testpak::TempDir dir;
};

inline std::string text(const Bytes &b) { return std::string(b.begin(), b.end()); }

// A file read through the disk layer, so that a name's bytes reach the system
// as pak gave them (std::filesystem converts non-ASCII names its own way).
inline Bytes disk_bytes(const std::string &path)
{
    Bytes out;
    const int file = disk_open(path.c_str(), DISK_READ);
    if (file == -1) return out;
    uint8_t buffer[4096];
    int n;
    while ((n = disk_read(file, buffer, sizeof buffer)) > 0) out.insert(out.end(), buffer, buffer + n);
    disk_close(file);
    return out;
}

}  // namespace pakt
