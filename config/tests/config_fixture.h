// Shared fixture of the loading and lookup tests: a fresh store, a temporary
// folder that is also the current directory, and the store written out the
// way cfgtool prints it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "archive/archive.h"
#include "config/config.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"

// Makes a folder the current directory for as long as it lives.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::filesystem::path &folder) : saved_(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~CurrentFolder() { std::filesystem::current_path(saved_); }

private:
    std::filesystem::path saved_;
};

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fault_disarm();
        cfg_reset();
        archive_reset();
        platform_reset();
    }
    void TearDown() override
    {
        fault_disarm();
        cfg_reset();
        archive_reset();
    }

    // Writes a file below the folder; '/' in name makes subfolders.
    std::string write(const std::string &name, const std::string &text) const
    {
        const std::filesystem::path path = dir_.path() / name;
        std::filesystem::create_directories(path.parent_path());
        testpak::write_file(path, testpak::bytes_of(text));
        return path.string();
    }

    // Writes name and loads it by that relative name.
    int32_t load(const std::string &name, const std::string &text)
    {
        write(name, text);
        return cfg_load(windows_name(name).c_str());
    }

    static std::string windows_name(std::string name)
    {
        for (char &c : name)
            if (c == '/') c = '\\';
        return name;
    }

    // Every section as [name] and each of its keys as name=value beneath it,
    // in chain order, one per line.
    static std::string dump()
    {
        std::string out;
        if (!cfg_entry_name(1)) return out;
        for (int32_t section = 1; section; section = cfg_next_section(section, nullptr)) {
            out += '[' + std::string(cfg_entry_name(section)) + "]\n";
            for (int32_t key = cfg_next_key(section, nullptr, nullptr); key;
                 key = cfg_next_key(key, nullptr, nullptr))
                out += std::string(cfg_entry_name(key)) + '=' + cfg_entry_value(key) + '\n';
        }
        return out;
    }

    // Every macro as name=value, one per line, in definition order.
    static std::string macros()
    {
        std::string out;
        const char *name = nullptr;
        const char *value = nullptr;
        for (int32_t m = cfg_next_macro(0, &name, &value); m; m = cfg_next_macro(m, &name, &value))
            out += std::string(name) + '=' + value + '\n';
        return out;
    }

    testpak::TempDir dir_;
    CurrentFolder in_folder_{dir_.path()};
};
