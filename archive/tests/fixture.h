// Shared set-up of the archive tests: a clean subsystem, a temporary folder
// and small helpers that say what they do.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/internal.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"

namespace pk = testpak;

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        archive_reset();
        platform_reset();
    }
    void TearDown() override
    {
        fault_disarm();
        archive_reset();
        platform_reset();
    }

    // Writes the archive to a file of the folder and mounts it.
    int mount(const pk::Archive &archive, const std::string &file = "a.pak", int mode = 0)
    {
        return vfs_mount(tmp.write(file, pk::build(archive)).c_str(), mode);
    }

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

    // Every name an enumeration yields, in order.
    static std::vector<std::string> find_all(const std::string &pattern, uint32_t mask = 0x80, bool paths = false)
    {
        std::vector<std::string> names;
        char out[260];
        int r = paths ? vfs_find_first_path(pattern.c_str(), mask, out) : vfs_find_first(pattern.c_str(), mask, out);
        while (r == 0) {
            names.push_back(out);
            r = paths ? vfs_find_next_path(out) : vfs_find_next(out);
        }
        return names;
    }

    static ArchiveSlot &slot(int i) { return g_mount.slots[i]; }

    pk::TempDir tmp;
};
