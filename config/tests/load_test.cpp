// Loading real-looking files: the syntax as the store sees it, several files
// in a row, includes and macros, files inside archives, and paths too long
// for the reader's fields.
#include <cstring>
#include <string>

#include "config/store.h"
#include "config/tests/config_fixture.h"

namespace {

struct FileCase {
    const char *behaviour;
    std::string text;
    const char *expected;
};

using LoadedText = ConfigTest;

TEST_F(LoadedText, ReadsAsTheSyntaxSays)
{
    const FileCase cases[] = {
        {"the game's own file", "[INI]\r\nGAMEDIR=D:\\Game\r\nLANG=CHT\r\n",
         "[INI]\nGAMEDIR=D:\\Game\nLANG=CHT\n"},
        {"blank lines, indentation and equals runs",
         "\r\n[Video]\r\n\r\n  Width = 640\r\n\tHeight\t480\r\nDepth == 16\r\n\r\n",
         "[Video]\nWidth=640\nHeight=480\nDepth=16\n"},
        {"both comment kinds, on their own line and after values",
         "; written by setup\r\n// do not edit\r\n[INI] ; main section\r\n"
         "GAMEDIR = D:\\Program Files\\Game   ; old path\r\nHOME=http://example.com\r\n",
         "[INI]\nGAMEDIR=D:\\Program Files\\Game\nHOME=http:\n"},
        {"headers with trailing text or without their bracket",
         "[INI] written 1999\r\nA=1\r\n[Sound\r\nB=2\r\n[ INI ]\r\nC=3\r\n",
         "[INI]\nA=1\n[Sound]\nB=2\n[ INI ]\nC=3\n"},
        {"keys without values read as empty", "[S]\r\nFLAG\r\nEMPTY=\r\nGONE = ; note\r\n",
         "[S]\nFLAG=\nEMPTY=\nGONE=\n"},
        {"define in a loaded file is a key", "[Game]\r\n#define MAXLEVEL 99\r\n", "[Game]\nMAXLEVEL=99\n"},
        {"bare LF: the first value runs through the rest", "[S]\nA=1\nB=2\n", "[S]\nA=1\nB=2\n\n"},
        {"bare CR: only the first line counts", "[S]\rA=1\rB=2\r", "[S]\n"},
        {"no final line end", "[S]\r\nLAST=yes", "[S]\nLAST=yes\n"},
        {"empty file", "", ""},
        {"keys before the first header gather under a nameless section",
         "VERSION=2\r\nBUILD 7\r\n[INI]\r\nGAMEDIR=C:\\\r\n", "[]\nVERSION=2\nBUILD=7\n[INI]\nGAMEDIR=C:\\\n"},
        {"a nameless header reads alike", "[]\r\nA=1\r\n", "[]\nA=1\n"},
    };
    for (const FileCase &c : cases) {
        cfg_reset();
        EXPECT_EQ(load("case.ini", c.text), 1) << c.behaviour;
        EXPECT_EQ(dump(), c.expected) << c.behaviour;
    }
}

TEST_F(LoadedText, DuplicatesAreReachedByOccurrence)
{
    load("dup.ini", "[INI]\r\nPATH=a\r\nPATH=b\r\nX=1\r\n[Other]\r\nPATH=z\r\n[ini]\r\nPATH=c\r\n");

    const int32_t first = cfg_find_section("INI", 1);
    const int32_t second = cfg_find_section("INI", 2);
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(cfg_find_section("INI", 0), first);
    EXPECT_EQ(cfg_find_section("INI", -5), first);
    EXPECT_EQ(cfg_find_section("INI", INT32_MIN), first);
    EXPECT_EQ(cfg_find_section("INI", 3), 0);
    EXPECT_EQ(cfg_find_next_section("INI", first), second);
    EXPECT_EQ(cfg_find_next_section("INI", second), 0);
    EXPECT_EQ(cfg_find_next_section("ini", 0), second);  // starts after record 0
    EXPECT_EQ(cfg_count_sections("INI", first), 2);
    EXPECT_EQ(cfg_count_sections(nullptr, first), 3);
    EXPECT_EQ(cfg_count_sections(nullptr, second), 1);

    EXPECT_STREQ(cfg_get_string("PATH", 1, first, nullptr), "a");
    EXPECT_STREQ(cfg_get_string("path", 2, first, nullptr), "b");
    EXPECT_EQ(cfg_get_string("PATH", 3, first, nullptr), nullptr);
    EXPECT_STREQ(cfg_get_string(nullptr, 3, first, nullptr), "1");
    EXPECT_STREQ(cfg_get_string("PATH", 1, second, nullptr), "c");
    EXPECT_EQ(cfg_count_keys("PATH", first), 2);
    EXPECT_EQ(cfg_count_keys(nullptr, first), 3);
}

TEST_F(LoadedText, NamesCompareWithoutAsciiCaseOnly)
{
    load("case.ini", "[GameDir]\r\nKey=1\r\n[\xa4\x40]\r\nK=2\r\n");
    EXPECT_NE(cfg_find_section("GAMEDIR", 1), 0);
    EXPECT_NE(cfg_find_section("gamedir", 1), 0);
    EXPECT_EQ(cfg_find_section("GameDi", 1), 0);
    EXPECT_EQ(cfg_find_section("GameDirX", 1), 0);
    EXPECT_NE(cfg_find_section("\xa4\x40", 1), 0);
    EXPECT_EQ(cfg_find_section("\xa4\x60", 1), 0);  // 0x40 and 0x60 differ only in the case bit
    EXPECT_STREQ(cfg_get_string("KEY", 1, cfg_find_section("gamedir", 1), nullptr), "1");
}

TEST_F(LoadedText, CopiesAndAddressesOfValues)
{
    load("v.ini", "[S]\r\nEMPTY\r\nNAME=Korin\r\n[Bare]\r\n");
    const int32_t s = cfg_find_section("S", 1);
    char dest[32] = "untouched";
    EXPECT_EQ(cfg_get_string("MISSING", 1, s, dest), nullptr);
    EXPECT_STREQ(dest, "untouched");
    const char *empty = cfg_get_string("EMPTY", 1, s, dest);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    EXPECT_STREQ(dest, "");
    EXPECT_STREQ(cfg_get_string("NAME", 1, s, dest), "Korin");
    EXPECT_STREQ(dest, "Korin");
    EXPECT_EQ(cfg_get_string(nullptr, 1, cfg_find_section("Bare", 1), dest), nullptr);
    EXPECT_EQ(cfg_get_string(nullptr, 1, 0, dest), nullptr);
}

TEST_F(LoadedText, WalksVisitEveryKeyOnceThenStop)
{
    load("w.ini", "[A]\r\nK1=1\r\nK2=2\r\nK3=3\r\n[B]\r\n[C]\r\nK=c\r\n");
    const int32_t a = cfg_find_section("A", 1);
    char name[16];
    char value[16];
    std::string seen;
    for (int32_t k = cfg_next_key(a, name, value); k; k = cfg_next_key(k, name, value))
        seen += std::string(name) + '=' + value + ';';
    EXPECT_EQ(seen, "K1=1;K2=2;K3=3;");
    EXPECT_EQ(cfg_next_key(cfg_find_section("B", 1), name, value), 0);

    std::string sections;
    for (int32_t s = a; s; s = cfg_next_section(s, name)) sections += cfg_entry_name(s);
    EXPECT_EQ(sections, "ABC");
    EXPECT_EQ(cfg_count_keys(nullptr, cfg_find_section("B", 1)), 0);
}

TEST_F(LoadedText, HandlesThatNameNoRecordFindNothing)
{
    load("h.ini", "[A]\r\nK=1\r\n");
    char buf[16] = "x";
    int32_t out = 7;
    for (const int32_t bad : {0, -1, 3, 4, 1000, INT32_MIN, INT32_MAX}) {
        if (bad != 0) {
            EXPECT_EQ(cfg_find_next_section(nullptr, bad), 0) << bad;
        }
        EXPECT_EQ(cfg_get_string(nullptr, 1, bad, buf), nullptr) << bad;
        EXPECT_EQ(cfg_get_int(nullptr, 1, bad, &out), 0) << bad;
        EXPECT_EQ(cfg_next_section(bad, buf), 0) << bad;
        EXPECT_EQ(cfg_next_key(bad, buf, buf), 0) << bad;
        EXPECT_EQ(cfg_count_sections(nullptr, bad), 0) << bad;
        EXPECT_EQ(cfg_count_keys(nullptr, bad), 0) << bad;
        EXPECT_EQ(cfg_entry_name(bad), nullptr) << bad;
    }
    EXPECT_STREQ(buf, "x");
    EXPECT_EQ(out, 7);
}

TEST_F(LoadedText, AnEmptyStoreFindsAndCountsNothing)
{
    char buf[8] = "x";
    EXPECT_EQ(cfg_find_section("INI", 1), 0);
    EXPECT_EQ(cfg_find_section(nullptr, 1), 0);
    EXPECT_EQ(cfg_find_next_section("INI", 0), 0);
    EXPECT_EQ(cfg_count_sections(nullptr, 1), 0);
    EXPECT_EQ(cfg_find_macro(buf, "X"), 0);
    EXPECT_STREQ(buf, "x");
    load("empty.ini", "");
    EXPECT_EQ(cfg_find_section("", 1), 0);
    EXPECT_EQ(cfg_count_sections(nullptr, 1), 0);
}

// The opening keys of the first file stay out of reach of named lookups; in
// particular the first key's name is not lost although it begins the store.
TEST_F(LoadedText, OpeningKeysNeverPassForANamedSection)
{
    load("open.ini", "INI=1\r\nGAMEDIR=wrong\r\n[INI]\r\nGAMEDIR=right\r\n");
    const int32_t ini = cfg_find_section("INI", 1);
    EXPECT_STREQ(cfg_get_string("GAMEDIR", 1, ini, nullptr), "right");
    EXPECT_EQ(cfg_count_sections("INI", 1), 1);
    EXPECT_EQ(cfg_find_section("INI", 2), 0);
    EXPECT_EQ(cfg_find_section("GAMEDIR", 1), 0);
    const int32_t nameless = cfg_find_section("", 1);
    ASSERT_EQ(nameless, 1);
    EXPECT_STREQ(cfg_get_string("INI", 1, nameless, nullptr), "1");
}

TEST_F(LoadedText, ASecondFileContinuesTheChains)
{
    ASSERT_EQ(load("first.ini", "[A]\r\nA1=1\r\n[B]\r\nB1=1\r\n"), 1);
    ASSERT_EQ(load("second.ini", "B2=2\r\n#define B3 3\r\n[C]\r\nC1=1\r\n[A]\r\nA2=2\r\n"), 1);
    EXPECT_EQ(dump(), "[A]\nA1=1\n[B]\nB1=1\nB2=2\nB3=3\n[C]\nC1=1\n[A]\nA2=2\n");
    ASSERT_EQ(load("third.ini", "A3=3\r\n"), 1);
    EXPECT_STREQ(cfg_get_string("A3", 1, cfg_find_section("A", 2), nullptr), "3");
}

TEST_F(LoadedText, AnEmptyFileAddsOnlyItsLineEnd)
{
    load("a.ini", "[A]\r\n");
    const int32_t before = g_cfg.text_size;
    EXPECT_EQ(load("empty.ini", ""), 1);
    EXPECT_EQ(g_cfg.text_size, before + 2);
    EXPECT_EQ(dump(), "[A]\n");
}

TEST_F(LoadedText, AMissingFileLeavesEarlierLoadsAlone)
{
    load("a.ini", "[A]\r\nK=1\r\n");
    const int32_t text_size = g_cfg.text_size;
    EXPECT_EQ(cfg_load("missing.ini"), 0);
    EXPECT_EQ(cfg_load("nowhere\\missing.ini"), 0);
    EXPECT_EQ(g_cfg.text_size, text_size);
    EXPECT_EQ(dump(), "[A]\nK=1\n");
}

TEST_F(LoadedText, FreeEmptiesAndAFreshLoadStartsOver)
{
    load("a.ini", "[A]\r\nK=1\r\n");
    cfg_free();
    EXPECT_EQ(cfg_find_section("A", 1), 0);
    EXPECT_EQ(dump(), "");
    load("b.ini", "K=2\r\n[B]\r\n");
    EXPECT_EQ(dump(), "[]\nK=2\n[B]\n");
}

// ---- Includes and macros ------------------------------------------------------

using Includes = ConfigTest;

TEST_F(Includes, EveryKeyOfAnIncludedFileIsAMacro)
{
    write("consts.ini",
          "[Limits]\r\nMAXLEVEL 99\r\n#define MAXHP 0x3E7\r\nEMPTY\r\n[Other]\r\nNAMED=MAXLEVEL\r\n"
          "#include more.ini\r\n");
    write("more.ini", "NEVER=1\r\n");
    ASSERT_EQ(load("game.ini", "[Game]\r\n#include consts.ini\r\nLEVEL=MAXLEVEL\r\nHP=MAXHP\r\n"
                               "ALIAS=NAMED\r\nNONE=EMPTY\r\nPLAIN=0x10\r\nTEXT=hello\r\n"),
              1);
    EXPECT_EQ(macros(), "MAXLEVEL=99\nMAXHP=0x3E7\nEMPTY=\nNAMED=MAXLEVEL\n");
    EXPECT_EQ(dump(), "[Game]\nLEVEL=MAXLEVEL\nHP=MAXHP\nALIAS=NAMED\nNONE=EMPTY\nPLAIN=0x10\nTEXT=hello\n");

    const int32_t game = cfg_find_section("Game", 1);
    const struct {
        const char *key;
        int ok;
        int32_t value;
    } cases[] = {
        {"LEVEL", 1, 99}, {"HP", 1, 999}, {"PLAIN", 1, 16},
        {"ALIAS", 0, 0},  // one level of macros only
        {"NONE", 0, 0},   {"TEXT", 0, 0}, {"MISSING", 0, 0},
    };
    for (const auto &c : cases) {
        int32_t out = -555;
        EXPECT_EQ(cfg_get_int(c.key, 1, game, &out), c.ok) << c.key;
        EXPECT_EQ(out, c.ok ? c.value : -555) << c.key;
    }

    char value[32] = "x";
    EXPECT_EQ(cfg_find_macro(value, "maxhp"), 1);
    EXPECT_STREQ(value, "0x3E7");
    EXPECT_EQ(cfg_find_macro(value, "EMPTY"), 1);
    EXPECT_STREQ(value, "");
    EXPECT_EQ(cfg_find_macro(value, "NEVER"), 0);
    int32_t out = 0;
    EXPECT_EQ(cfg_value_to_int("maxlevel", &out), 1);
    EXPECT_EQ(out, 99);
}

TEST_F(Includes, TheFirstDefinitionOfAMacroWins)
{
    write("a.ini", "X=1\r\n");
    write("b.ini", "X=2\r\nY=3\r\n");
    load("one.ini", "#include a.ini\r\n");
    load("two.ini", "#include b.ini\r\n");
    int32_t out = 0;
    EXPECT_EQ(cfg_value_to_int("X", &out), 1);
    EXPECT_EQ(out, 1);
    EXPECT_EQ(macros(), "X=1\nX=2\nY=3\n");
}

TEST_F(Includes, FoundAsGivenBesideTheFileOrInTheIncludeFolder)
{
    write("here.ini", "HERE=1\r\n");
    write("cfg/beside.ini", "BESIDE=2\r\n");
    write("cfg/here.ini", "SHADOWED=1\r\n");
    write("extra/folder.ini", "FOLDER=3\r\n");
    write("extra/beside.ini", "SHADOWED=2\r\n");
    cfg_set_include_folder((dir_.path() / "extra").string().c_str());
    ASSERT_EQ(load("cfg/game.ini",
                   "#include here.ini\r\n#include beside.ini\r\n#include folder.ini\r\n#include none.ini\r\n"
                   "#include\r\n"),
              1);
    EXPECT_EQ(macros(), "HERE=1\nBESIDE=2\nFOLDER=3\n");
}

TEST_F(Includes, TheIncludeFolderIsSearchedOnlyWhenSet)
{
    write("extra/folder.ini", "FOLDER=3\r\n");
    load("game.ini", "#include folder.ini\r\n");
    EXPECT_EQ(macros(), "");
    cfg_free();  // keeps both folders
    cfg_set_include_folder((dir_.path() / "extra").string().c_str());
    cfg_free();
    load("game.ini", "#include folder.ini\r\n");
    EXPECT_EQ(macros(), "FOLDER=3\n");
}

TEST_F(Includes, IncludesFollowTheFolderOfEachLoadedFile)
{
    write("one/c.ini", "FROM=one\r\n");
    write("two/c.ini", "FROM=two\r\n");
    load("one/a.ini", "#include c.ini\r\n");
    load("two/b.ini", "#include c.ini\r\n");
    EXPECT_EQ(macros(), "FROM=one\nFROM=two\n");
}

// ---- Archives -----------------------------------------------------------------

TEST_F(ConfigTest, AConfigurationFileMayBeAnArchiveEntry)
{
    // Entries are named with their drive, as the lookup compares whole names.
    testpak::Archive archive;
    archive.entries = {
        testpak::raw_entry("#:\\game.ini", "[INI]\r\nGAMEDIR=D:\\Korin\r\n#include consts.ini\r\nLEVEL=TOP\r\n"),
        testpak::raw_entry("#:\\consts.ini", "TOP=42\r\n"),
    };
    const std::string pak = dir_.write("config.pak", testpak::build(archive));
    ASSERT_GE(vfs_mount(pak.c_str(), 0), 0);

    ASSERT_EQ(cfg_load("#:\\game.ini"), 1);
    EXPECT_EQ(vfs_open_count(), 0);
    const int32_t ini = cfg_find_section("INI", 1);
    EXPECT_STREQ(cfg_get_string("GAMEDIR", 1, ini, nullptr), "D:\\Korin");
    int32_t level = 0;
    EXPECT_EQ(cfg_get_int("LEVEL", 1, ini, &level), 1);
    EXPECT_EQ(level, 42);
    EXPECT_EQ(cfg_load("#:\\missing.ini"), 0);
    EXPECT_EQ(vfs_open_count(), 0);
}

// ---- Fixed fields -------------------------------------------------------------

TEST_F(ConfigTest, PathsTooLongForTheFieldsAreNotCut)
{
    // A folder of 150 characters: neither the configuration folder nor the
    // path scratch can hold it, so includes are found as given only.
    const std::string deep = std::string(70, 'd') + "/" + std::string(70, 'e');
    write(deep + "/beside.ini", "BESIDE=1\r\n");
    write("here.ini", "HERE=1\r\n");
    ASSERT_EQ(load(deep + "/game.ini", "[S]\r\n#include here.ini\r\n#include beside.ini\r\n"), 1);
    EXPECT_EQ(dump(), "[S]\n");
    EXPECT_EQ(macros(), "HERE=1\n");
    EXPECT_LT(std::strlen(g_cfg.config_folder), sizeof g_cfg.config_folder);

    const std::string long_include = "#include " + std::string(200, 'n') + ".ini\r\n";
    EXPECT_EQ(load("long.ini", long_include), 1);

    cfg_set_include_folder(std::string(64, 'f').c_str());
    EXPECT_STREQ(g_cfg.include_folder, "");
    cfg_set_include_folder(std::string(63, 'f').c_str());
    EXPECT_EQ(std::strlen(g_cfg.include_folder), 63u);
}

TEST_F(ConfigTest, NumbersLongerThanTheNumberBufferAreRefused)
{
    // Leading zeros make long texts that are still numbers.
    const auto digits = [](size_t length, const std::string &tail) {
        return std::string(length - tail.size(), '0') + tail;
    };
    write("consts.ini", "LONG=" + digits(128, "1234") + "\r\nEDGE=" + digits(127, "123") + "\r\n");
    load("game.ini", "[S]\r\n#include consts.ini\r\nA=LONG\r\nB=EDGE\r\nC=" + digits(127, "7") +
                         "\r\nD=" + digits(128, "7") + "\r\n");
    const int32_t s = cfg_find_section("S", 1);
    const struct {
        const char *key;
        int ok;
        int32_t value;
    } cases[] = {{"A", 0, 0}, {"B", 1, 123}, {"C", 1, 7}, {"D", 0, 0}};
    for (const auto &c : cases) {
        int32_t out = -1;
        EXPECT_EQ(cfg_get_int(c.key, 1, s, &out), c.ok) << c.key;
        EXPECT_EQ(out, c.ok ? c.value : -1) << c.key;
    }
    int32_t out = -1;
    EXPECT_EQ(cfg_value_to_int(digits(200, "5").c_str(), &out), 1);  // the caller's own text
    EXPECT_EQ(out, 5);
}

}  // namespace
