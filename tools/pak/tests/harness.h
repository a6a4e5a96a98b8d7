// Runs pak in-process, as its main would, with its output captured.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"
#include "tools/common/output.h"
#include "tools/pak/pak.h"

namespace pak_harness {

using namespace fixtures;
using Names = std::vector<std::string>;

struct Result {
    int status;
    std::string out, err;
    bool says(const std::string &text) const { return err.find(text) != std::string::npos; }
};

inline Result pak(Names words)
{
    words.insert(words.begin(), "pak");
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    Result r{};
    out_set_sink([](int stream, const void *bytes, int n, void *r) {
        (stream == CONSOLE_ERR ? static_cast<Result *>(r)->err : static_cast<Result *>(r)->out)
            .append(static_cast<const char *>(bytes), static_cast<size_t>(n));
    }, &r);
    r.status = pak_main(static_cast<int>(words.size()), argv.data());
    out_set_sink(nullptr, nullptr);
    return r;
}

class PakTest : public ::testing::Test {
protected:
    void SetUp() override { platform_reset(), archive_reset(); }
    void TearDown() override { archive_reset(), platform_reset(); }
    std::string write(const std::string &name, const Bytes &bytes) { return dir.write(name, bytes); }
    std::string file(const std::string &name) { return dir.file(name); }
    Bytes read(const std::string &path) { return read_file(path); }
    TempDir dir;
};

inline std::string text(const Bytes &b) { return std::string(b.begin(), b.end()); }

// Read through the disk layer, so a name's bytes reach the system as pak gave
// them (std::filesystem converts non-ASCII names its own way).
inline Bytes disk_bytes(const std::string &path)
{
    Bytes out;
    const int file = disk_open(path.c_str(), DISK_READ);
    uint8_t buffer[4096];
    for (int n; file != -1 && (n = disk_read(file, buffer, sizeof buffer)) > 0;) out.insert(out.end(), buffer, buffer + n);
    if (file != -1) disk_close(file);
    return out;
}

// A folder's files by name, and the same laid out again (whatever else is
// there removed).
using Folder = std::map<std::string, Bytes>;
inline Folder contents(const std::filesystem::path &folder)
{
    Folder out;
    for (const auto &e : std::filesystem::directory_iterator(folder)) out[e.path().filename().string()] = read_file(e.path());
    return out;
}
inline void restore(const std::filesystem::path &folder, const Folder &files)
{
    for (const auto &e : std::filesystem::directory_iterator(folder)) std::filesystem::remove(e.path());
    for (const auto &[name, bytes] : files) write_file(folder / name, bytes);
}

}  // namespace pak_harness
