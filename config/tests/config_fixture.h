// A fresh store and a temporary folder that is also the current directory;
// the store written out as cfgtool prints it.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "archive/archive.h"
#include "config/config.h"
#include "config/store.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"

struct ConfigTest : ::testing::Test {
    ConfigTest() { std::filesystem::current_path(dir_.path()); }
    ~ConfigTest() override { std::filesystem::current_path(saved_); }
    void SetUp() override { fault_disarm(), cfg_reset(), archive_reset(), platform_reset(); }
    void TearDown() override { SetUp(); }

    // '/' in the name makes subfolders; the path.
    std::string write(const std::string &name, const std::string &text) const
    {
        std::filesystem::create_directories((dir_.path() / name).parent_path());
        fixtures::write_file(dir_.path() / name, fixtures::bytes_of(text));
        return (dir_.path() / name).string();
    }
    // Loaded by its relative name in the '\' form.
    int32_t load(std::string name, const std::string &text)
    {
        write(name, text);
        for (char &c : name) c = c == '/' ? '\\' : c;
        return cfg_load(name.c_str());
    }
    // [section] lines with their name=value keys beneath, in chain order.
    static std::string dump()
    {
        std::string out;
        for (int32_t s = cfg_entry_name(1) ? 1 : 0; s; s = cfg_next_section(s, nullptr)) {
            out += '[' + std::string(cfg_entry_name(s)) + "]\n";
            for (int32_t k = cfg_next_key(s, nullptr, nullptr); k; k = cfg_next_key(k, nullptr, nullptr))
                out += std::string(cfg_entry_name(k)) + '=' + cfg_entry_value(k) + '\n';
        }
        return out;
    }
    // name=value lines in definition order.
    static std::string macros()
    {
        std::string out;
        const char *name = nullptr, *value = nullptr;
        for (int32_t m = cfg_next_macro(0, &name, &value); m; m = cfg_next_macro(m, &name, &value))
            out += std::string(name) + '=' + value + '\n';
        return out;
    }

    fixtures::TempDir dir_;
    std::filesystem::path saved_ = std::filesystem::current_path();
};
