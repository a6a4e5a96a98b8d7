// Where the game folder comes from, and values that do not fit its buffers.
#include <gtest/gtest.h>

#include <filesystem>

#include "config/config.h"
#include "driver/win32/app.h"
#include "tests/support/archive_builder.h"

namespace {

const std::string PLACEHOLDER = "_A_A_A_";

struct GameFolder : ::testing::Test {
    fixtures::TempDir temp;
    const std::string root = temp.path().string();

    void SetUp() override { cfg_reset(), update_reset(); }
    // A folder below root whose path has exactly `length` bytes.
    std::string folder_of_length(size_t length) const
    {
        const std::string folder = root + "\\" + std::string(length - root.size() - 1, 'w');
        std::filesystem::create_directory(folder);
        return folder;
    }
    // game_dir after reading the configuration of that Windows folder.
    static std::string configured(const std::string &windows_dir)
    {
        update_reset();
        game_dir_read_config(windows_dir.c_str());
        return game_dir;
    }
    static void write(const std::string &path, const std::string &text)
    {
        fixtures::write_file(path, fixtures::bytes_of(text));
    }
};

TEST_F(GameFolder, ConfiguredFolderIsTheFirstGamedirOfTheFirstIniSectionIfItFits)
{
    EXPECT_EQ(configured(root), PLACEHOLDER);  // no KORIN3.INI
    const std::string fits(259, 'g'), too_long(260, 'g');
    const struct {
        std::string config, game_dir;
    } cases[] = {
        {"[ini]\r\ngamedir = D:\\K3\\\r\n", "D:\\K3\\"},
        {"[INI]\r\nGAMEDIR=first\r\nGAMEDIR=second\r\n[INI]\r\nGAMEDIR=third\r\n", "first"},
        {"[INI]\r\nOTHER=x\r\n[INI]\r\nGAMEDIR=later\r\n", PLACEHOLDER},
        {"[Game]\r\nGAMEDIR=C:\\K3\r\n", PLACEHOLDER},
        {"[INI]\r\nGAMEDIR=" + fits + "\r\n", fits},
        {"[INI]\r\nGAMEDIR=" + too_long + "\r\n", PLACEHOLDER},  // refused whole, not cut
    };
    for (const auto &c : cases) {
        write(root + "\\KORIN3.INI", c.config);
        EXPECT_EQ(configured(root), c.game_dir) << c.config;
    }
}

TEST_F(GameFolder, WindowsFolderWhoseConfigPathDoesNotFitIsNotRead)
{
    // Folder, backslash and "KORIN3.INI" must fit in 128 bytes.
    const std::string fits = folder_of_length(116), too_long = folder_of_length(117);
    for (const std::string &folder : {fits, too_long}) write(folder + "\\KORIN3.INI", "[INI]\r\nGAMEDIR=found\r\n");
    const struct {
        std::string folder, game_dir;
    } cases[] = {
        {fits, "found"}, {fits + "\\", "found"},  // 117 bytes, the backslash already there
        {too_long, PLACEHOLDER}, {too_long + "\\", PLACEHOLDER}, {std::string(5000, 'w'), PLACEHOLDER},
    };
    for (const auto &c : cases) EXPECT_EQ(configured(c.folder), c.game_dir) << c.folder.size();
}

TEST_F(GameFolder, FolderWhoseExePathDoesNotFitCountsAsWithoutTheGame)
{
    // A 248-byte folder leaves room for "\Korin3.EXE" in 260 bytes.
    const std::string folder = folder_of_length(248);
    write(folder + "\\Korin3.EXE", "MZ");
    const struct {
        std::string folder;
        int has_exe;
    } cases[] = {
        {folder, 1}, {folder + "\\", 1},  // 249 bytes, ends in a backslash
        {folder + "\\.", 0},              // the same folder, 250 bytes
        {folder + std::string(4000, '\\'), 0}, {root, 0},
    };
    for (const auto &c : cases) EXPECT_EQ(game_dir_has_exe(c.folder.c_str()), c.has_exe) << c.folder.size();
}

}  // namespace
