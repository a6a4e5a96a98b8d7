// Runs pak in-process, as its main would, with its output captured, and
// builds the archives the tests read with the independent writer.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
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

// An archive as the format describes it, read without the code under test.
struct Record {
    uint32_t stored_size, data_offset;
    std::string name;
    Bytes data;  // the stored bytes (live records only)
};
struct Parsed {
    bool ok = false;
    uint32_t entry_count = 0, dir_offset = 0, user_value = 0, packed_dir_size = 0;
    uint8_t first_drive = 0, last_drive = 0;
    size_t dir_end = 0;  // archive offset behind the directory
    std::vector<Record> records;
    std::vector<std::string> live() const
    {
        std::vector<std::string> names;
        for (const Record &r : records)
            if (r.data_offset) names.push_back(r.name);
        return names;
    }
};

inline Parsed parse(const Bytes &file, size_t base = 0)
{
    using testpak::get_u32;
    Parsed p;
    if (file.size() < base + 24 || get_u32(file, base) != 0x534B4150u) return p;
    const Bytes a(file.begin() + static_cast<long>(base), file.end());
    p.entry_count = get_u32(a, 4);
    p.dir_offset = get_u32(a, 8);
    p.first_drive = a[12];
    p.last_drive = a[13];
    p.user_value = get_u32(a, 16);
    p.packed_dir_size = get_u32(a, 20);
    const size_t n = static_cast<size_t>(p.entry_count) * 64;
    Bytes dir;
    if (p.entry_count == 0) {
        p.ok = true;
        return p;
    }
    if (p.packed_dir_size == 0) {
        if (p.dir_offset + n > a.size()) return p;
        dir.assign(a.begin() + p.dir_offset, a.begin() + static_cast<long>(p.dir_offset + n));
        p.dir_end = p.dir_offset + n;
    } else {
        if (p.dir_offset + p.packed_dir_size > a.size()) return p;
        const Bytes packed(a.begin() + p.dir_offset, a.begin() + p.dir_offset + p.packed_dir_size);
        auto plain = testpak::unmask_and_inflate(packed, n);
        if (!plain) return p;
        dir = *plain;
        p.dir_end = p.dir_offset + p.packed_dir_size;
    }
    for (size_t i = 0; i < p.entry_count; ++i) {
        Record r;
        r.stored_size = get_u32(dir, i * 64);
        r.data_offset = get_u32(dir, i * 64 + 4);
        const char *name = reinterpret_cast<const char *>(dir.data() + i * 64 + 24);
        r.name.assign(name, strnlen(name, 40));
        if (r.data_offset) {
            if (static_cast<size_t>(r.data_offset) + r.stored_size > a.size()) return p;
            r.data.assign(a.begin() + r.data_offset, a.begin() + r.data_offset + r.stored_size);
        }
        p.records.push_back(r);
    }
    p.ok = true;
    return p;
}

}  // namespace pakt
