// A fresh folder per test, named with '\' as the system builds names, and the
// layer's state reset around it.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/error.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

class Scratch : public ::testing::Test {
protected:
    void SetUp() override { platform_reset(); }
    void TearDown() override { fault_disarm(), platform_reset(); }

    std::string at(const std::string &name) const { return dir_.path().string() + "\\" + name; }  // as the layer is given it
    fs::path host(const std::string &name) const { return dir_.path() / name; }
    void put(const std::string &name, const std::string &text) const { dir_.write(name, fixtures::bytes_of(text)); }
    std::string get(const std::string &name) const
    {
        const auto bytes = fixtures::read_file(host(name));
        return {bytes.begin(), bytes.end()};
    }
    bool read_only(const std::string &name) const { return (fs::status(host(name)).permissions() & fs::perms::owner_write) == fs::perms::none; }

    fixtures::TempDir dir_;
};

// Wine differs from Windows where it maps attributes onto POSIX permissions.
inline bool running_under_wine()
{
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

// Windows and the POSIX layer (even for root) refuse to write a read-only file; Wine run by root does not.
inline bool read_only_is_enforced(const fs::path &probe)
{
    if (!running_under_wine()) return true;
    std::ofstream(probe) << "x";
    const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(probe, write, fs::perm_options::remove);
    const bool refused = !std::ofstream(probe, std::ios::app).is_open();
    fs::permissions(probe, write, fs::perm_options::add);
    fs::remove(probe);
    return refused;
}
