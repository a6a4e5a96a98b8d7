// Where the game folder comes from, and values that do not fit its buffers.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <string>

#include "config/config.h"
#include "tests/support/archive_builder.h"
#include "driver/win32/app.h"

namespace {

const char PLACEHOLDER[] = "_A_A_A_";

class GameFolder : public ::testing::Test {
protected:
    testpak::TempDir temp;
    const std::string root = temp.path().string();

    void SetUp() override
    {
        cfg_reset();
        std::strcpy(game_dir, PLACEHOLDER);
    }

    // A folder below root whose path has exactly `length` bytes.
    std::string folder_of_length(size_t length) const
    {
        const std::string folder = root + "\\" + std::string(length - root.size() - 1, 'w');
        std::filesystem::create_directory(folder);
        return folder;
    }

    static void write_file(const std::string &path, const std::string &content)
    {
        testpak::write_file(path, testpak::bytes_of(content));
    }
};

TEST_F(GameFolder, ConfiguredFolderIsTheFirstGamedirOfTheFirstIniSection)
{
    const struct {
        const char *config;  // null: no file
        const char *game_dir;
    } cases[] = {
        {"[INI]\r\nGAMEDIR=C:\\Games\\K3\r\n", "C:\\Games\\K3"},
        {"[ini]\r\ngamedir = D:\\K3\\\r\n", "D:\\K3\\"},
        {"[INI]\r\nGAMEDIR=first\r\nGAMEDIR=second\r\n[INI]\r\nGAMEDIR=third\r\n", "first"},
        {"[INI]\r\nOTHER=x\r\n[INI]\r\nGAMEDIR=later\r\n", PLACEHOLDER},
        {"[Game]\r\nGAMEDIR=C:\\K3\r\n", PLACEHOLDER},
        {"", PLACEHOLDER},
        {nullptr, PLACEHOLDER},
    };
    for (const auto &c : cases) {
        std::strcpy(game_dir, PLACEHOLDER);
        DeleteFileA((root + "\\KORIN3.INI").c_str());
        if (c.config) write_file(root + "\\KORIN3.INI", c.config);
        game_dir_read_config(root.c_str());
        EXPECT_STREQ(game_dir, c.game_dir) << (c.config ? c.config : "(no file)");
    }
}

TEST_F(GameFolder, GamedirThatDoesNotFitIsRefusedWhole)
{
    for (size_t length : {259u, 260u, 261u, 4000u}) {
        std::strcpy(game_dir, PLACEHOLDER);
        const std::string value(length, 'g');
        write_file(root + "\\KORIN3.INI", "[INI]\r\nGAMEDIR=" + value + "\r\n");
        game_dir_read_config(root.c_str());
        EXPECT_STREQ(game_dir, length <= 259 ? value.c_str() : PLACEHOLDER) << length;
    }
}

TEST_F(GameFolder, WindowsFolderWhoseConfigPathDoesNotFitIsNotRead)
{
    // The configuration path (folder, backslash, KORIN3.INI) must fit 128 bytes.
    const struct {
        size_t length;        // of the folder without a trailing backslash
        bool trailing_slash;  // given with one
        bool read;
    } cases[] = {
        {116, false, true},
        {117, false, false},
        {116, true, true},  // 117 bytes, ending in a backslash
        {117, true, false},
    };
    for (const auto &c : cases) {
        const std::string folder = folder_of_length(c.length);
        write_file(folder + "\\KORIN3.INI", "[INI]\r\nGAMEDIR=found\r\n");
        std::strcpy(game_dir, PLACEHOLDER);
        game_dir_read_config((folder + (c.trailing_slash ? "\\" : "")).c_str());
        EXPECT_STREQ(game_dir, c.read ? "found" : PLACEHOLDER) << c.length << c.trailing_slash;
    }
    std::strcpy(game_dir, PLACEHOLDER);
    game_dir_read_config(std::string(5000, 'w').c_str());
    EXPECT_STREQ(game_dir, PLACEHOLDER);
}

TEST_F(GameFolder, FolderWhoseExePathDoesNotFitCountsAsWithoutTheGame)
{
    // A 248-byte folder leaves room for "\Korin3.EXE" in 260 bytes.
    const std::string folder = folder_of_length(248);
    write_file(folder + "\\Korin3.EXE", "MZ");
    const struct {
        std::string given;
        int has_exe;
    } cases[] = {
        {folder, 1},
        {folder + "\\", 1},    // 249 bytes, but the backslash is already there
        {folder + "\\.", 0},   // the same folder, 250 bytes
        {folder + std::string(4000, '\\'), 0},
        {root, 0},             // fits, and holds no game
    };
    for (const auto &c : cases) EXPECT_EQ(game_dir_has_exe(c.given.c_str()), c.has_exe) << c.given.size();
}

}  // namespace
