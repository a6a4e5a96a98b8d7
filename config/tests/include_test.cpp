// Included files, macros and numeric values; configuration files inside
// archives; paths and values too long for the reader's fixed fields.
#include "config/tests/config_fixture.h"

namespace {

using Includes = ConfigTest;

TEST_F(Includes, EveryKeyOfAnIncludedFileIsAMacroOfOneLevel)
{
    write("consts.ini", "[Limits]\r\nMAXLEVEL 99\r\n#define HP 0x3E7\r\nEMPTY\r\nALIAS=MAXLEVEL\r\n"
                        "#include more.ini\r\nMAXLEVEL=1\r\n");
    write("more.ini", "NEVER=1\r\n");
    load("game.ini", "[G]\r\n#include consts.ini\r\nA=MAXLEVEL\r\nB=hp\r\nC=ALIAS\r\nD=EMPTY\r\nE=0x10\r\nF=x\r\n");
    EXPECT_EQ(macros(), "MAXLEVEL=99\nHP=0x3E7\nEMPTY=\nALIAS=MAXLEVEL\nMAXLEVEL=1\n");
    EXPECT_EQ(dump(), "[G]\nA=MAXLEVEL\nB=hp\nC=ALIAS\nD=EMPTY\nE=0x10\nF=x\n");

    std::string got;  // key:value of the numbers, in key order
    for (const char *key : {"A", "B", "C", "D", "E", "F", "Z"}) {
        int32_t out = -5;
        if (cfg_get_int(key, 1, cfg_find_section("G", 1), &out)) got += std::string(key) + ':' + std::to_string(out) + ' ';
        else EXPECT_EQ(out, -5) << key;
    }
    EXPECT_EQ(got, "A:99 B:999 E:16 ");  // one level: ALIAS names a macro, not a number
    char value[16] = "x";
    EXPECT_EQ(cfg_find_macro(value, "empty"), 1);
    EXPECT_STREQ(value, "");
}

TEST_F(Includes, FoundAsGivenThenBesideTheFileThenInTheIncludeFolder)
{
    write("here.ini", "HERE=1\r\n");
    write("cfg/beside.ini", "BESIDE=2\r\n");
    write("cfg/here.ini", "SHADOWED=1\r\n");
    write("extra/folder.ini", "FOLDER=3\r\n");
    write("extra/beside.ini", "SHADOWED=2\r\n");
    const std::string includes = "#include here.ini\r\n#include beside.ini\r\n#include folder.ini\r\n"
                                 "#include none.ini\r\n#include\r\n";
    load("cfg/game.ini", includes);
    EXPECT_EQ(macros(), "HERE=1\nBESIDE=2\n");

    cfg_set_include_folder((dir_.path() / "extra").string().c_str());
    cfg_free();  // keeps the include folder
    load("cfg/game.ini", includes);
    EXPECT_EQ(macros(), "HERE=1\nBESIDE=2\nFOLDER=3\n");
}

TEST_F(Includes, AConfigurationFileMayBeAnArchiveEntry)
{
    // The lookup compares whole names, so the entries carry their drive.
    fixtures::Archive archive;
    archive.entries = {
        fixtures::raw_entry("#:\\game.ini", "[INI]\r\nGAMEDIR=D:\\Korin\r\n#include consts.ini\r\nLEVEL=TOP\r\n"),
        fixtures::raw_entry("#:\\consts.ini", "TOP=42\r\n"),
    };
    ASSERT_GE(vfs_mount(dir_.write("config.pak", fixtures::build(archive)).c_str(), 0), 0);

    ASSERT_EQ(cfg_load("#:\\game.ini"), 1);
    const int32_t ini = cfg_find_section("INI", 1);
    EXPECT_STREQ(cfg_get_string("GAMEDIR", 1, ini, nullptr), "D:\\Korin");
    int32_t level = 0;
    EXPECT_EQ(cfg_get_int("LEVEL", 1, ini, &level) + cfg_load("#:\\missing.ini"), 1);
    EXPECT_EQ(level, 42);  // consts.ini found beside it, in the archive
    EXPECT_EQ(vfs_open_count(), 0);
}

TEST_F(Includes, TooLongForTheFixedFieldsIsRefusedNotCut)
{
    // A folder of 142 characters fits neither the configuration folder nor
    // the path scratch: only the first attempt finds includes.
    const std::string deep = std::string(70, 'd') + "/" + std::string(70, 'e');
    write(deep + "/beside.ini", "BESIDE=1\r\n");
    write("here.ini", "HERE=1\r\n");
    ASSERT_EQ(load(deep + "/game.ini", "[S]\r\n#include here.ini\r\n#include beside.ini\r\n#include " +
                                           std::string(200, 'n') + "\r\n"),
              1);
    EXPECT_EQ(macros(), "HERE=1\n");
    cfg_set_include_folder(std::string(64, 'f').c_str());
    EXPECT_STREQ(g_cfg.include_folder, "");

    // Numbers: at most 127 bytes, in a value and in a macro's value.
    const auto number = [](size_t length) { return std::string(length - 1, '0') + "7"; };
    write("long.ini", "M127=" + number(127) + "\r\nM128=" + number(128) + "\r\n");
    load("n.ini", "[N]\r\n#include long.ini\r\nA=M127\r\nB=M128\r\nC=" + number(127) + "\r\nD=" + number(128) + "\r\n");
    const int32_t n = cfg_find_section("N", 1);
    int32_t out = 0;
    EXPECT_EQ(cfg_get_int("A", 1, n, &out) + cfg_get_int("C", 1, n, &out), 2);
    EXPECT_EQ(cfg_get_int("B", 1, n, &out) + cfg_get_int("D", 1, n, &out), 0);
    EXPECT_EQ(cfg_value_to_int(number(200).c_str(), &out), 1);  // the caller's own text has no bound
}

}  // namespace
