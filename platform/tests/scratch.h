// A fresh folder per test, named with '\' as the system builds names, and the
// layer's state reset around it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

class Scratch : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform_reset();
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        dir_ = fs::temp_directory_path() /
               ("korin_" + std::string(info->name()) + "_" + std::to_string(stamp));
        fs::create_directories(dir_);
    }

    void TearDown() override
    {
        platform_reset();
        std::error_code ec;
        for (const auto &entry : fs::recursive_directory_iterator(dir_, ec))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }

    // The name the layer is given: the folder, a backslash, the file.
    std::string at(const std::string &name) const { return dir_.string() + "\\" + name; }

    fs::path host(const std::string &name) const { return dir_ / name; }

    void put(const std::string &name, const std::string &content) const
    {
        std::ofstream(host(name), std::ios::binary) << content;
    }

    std::string get(const std::string &name) const
    {
        std::ifstream in(host(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    bool read_only(const std::string &name) const
    {
        return (fs::status(host(name)).permissions() & fs::perms::owner_write) == fs::perms::none;
    }

    fs::path dir_;
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

// Windows refuses to write a read-only file, and so does the POSIX layer, to
// root as well; Wine run by root does not.
inline bool read_only_is_enforced(const fs::path &probe)
{
    if (!running_under_wine()) return true;
    std::ofstream(probe) << "x";
    fs::permissions(probe, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const bool refused = !std::ofstream(probe, std::ios::app).is_open();
    fs::permissions(probe, fs::perms::owner_write, fs::perm_options::add);
    fs::remove(probe);
    return refused;
}
