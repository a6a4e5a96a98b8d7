// Shared set-up of the archive tests: a clean subsystem, a temporary folder
// and small helpers that read results without the code under test.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/internal.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"

namespace pk = fixtures;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

inline pk::Archive archive_of(std::vector<pk::Entry> entries, bool packed = false)
{
    pk::Archive a;
    a.entries = std::move(entries);
    a.packed_directory = packed;
    return a;
}

// Names of the live records of an archive file, parsed here rather than mounted.
inline Names live_names(const pk::Bytes &file, bool freed_too = false)
{
    const uint32_t count = pk::get_u32(file, 4), at = pk::get_u32(file, 8), packed = pk::get_u32(file, 20);
    pk::Bytes dir(file.begin() + at, file.end());
    if (packed && count) dir = pk::unmask_and_inflate(pk::Bytes(dir.begin(), dir.begin() + packed), count * 64).value();
    Names names;
    for (uint32_t i = 0; i < count; ++i)
        if (freed_too || pk::get_u32(dir, i * 64 + 4))
            names.emplace_back(reinterpret_cast<const char *>(dir.data() + i * 64 + 24), strnlen(reinterpret_cast<const char *>(dir.data() + i * 64 + 24), 40));
    return names;
}

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { archive_reset(), platform_reset(); }
    void TearDown() override { fault_disarm(), archive_reset(), platform_reset(); }

    int mount(const pk::Archive &archive, const std::string &file = "a.pak", int mode = 0)
    {
        return vfs_mount(tmp.write(file, pk::build(archive)).c_str(), mode);
    }
    pk::Bytes file(const std::string &name) const { return pk::read_file(tmp.path() / name); }
    bool exists(const std::string &name) const { return fs::exists(tmp.path() / name); }

    // The whole entry or disk file as text; "<none>" when it does not open.
    static std::string read_all(const std::string &name)
    {
        const int h = vfs_open(name.c_str(), 0);
        if (h == -1) return "<none>";
        std::string s(static_cast<size_t>(vfs_size(h)), '\0');
        s.resize(static_cast<size_t>(vfs_read(h, s.data(), static_cast<int>(s.size()))));
        vfs_close(h);
        return s;
    }
    static int write_entry(const std::string &name, const std::string &text, bool beside = false)
    {
        const int h = beside ? vfs_add(name.c_str(), 0) : vfs_create(name.c_str(), 0);
        const int n = h == -1 ? -1 : vfs_write(h, text.data(), static_cast<int>(text.size()));
        vfs_close(h);
        return n == static_cast<int>(text.size()) ? 0 : -1;
    }
    // Every name an enumeration yields, in order.
    static Names find_all(const std::string &pattern, uint32_t mask = 0x80, bool paths = false)
    {
        Names names;
        char out[260];
        for (int r = paths ? vfs_find_first_path(pattern.c_str(), mask, out) : vfs_find_first(pattern.c_str(), mask, out);
             r == 0; r = paths ? vfs_find_next_path(out) : vfs_find_next(out))
            names.push_back(out);
        return names;
    }
    static ArchiveSlot &slot(int i) { return g_mount.slots[i]; }

    pk::TempDir tmp;
};
