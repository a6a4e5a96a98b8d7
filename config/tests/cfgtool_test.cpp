// cfgtool run as a user runs it: exit status, standard output exactly, and a
// word on standard error whenever it fails.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/archive_builder.h"
#include "tests/support/program.h"

namespace {

TEST(Cfgtool, ShowsTheFilesAsTheProgramReadsThemAndRefusesBadUsage)
{
    fixtures::TempDir dir;
    dir.write("consts.ini", fixtures::bytes_of("MAXLEVEL 99\r\n#define HALF 0x32\r\n"));
    const std::string game = dir.write("game.ini", fixtures::bytes_of(
        "top=1\r\n[INI]\r\n#include consts.ini\r\nGAMEDIR = D:\\Game ; old\r\nPATH=a\r\nPATH=b\r\nLEVEL=MAXLEVEL\r\n"));
    const std::string notes = dir.write("notes.ini", fixtures::bytes_of("MORE=2\r\n[Notes]\nA=1\nB=\xa4\x40\n"));
    const struct {
        const char *behaviour;
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        // The tool runs in another folder: consts.ini is found beside game.ini.
        {"every section and key in chain order, bytes as stored", {game, notes}, 0,
         "[]\ntop=1\n[INI]\nGAMEDIR=D:\\Game\nPATH=a\nPATH=b\nLEVEL=MAXLEVEL\nMORE=2\n[Notes]\nA=1\nB=\xa4\x40\n\n"},
        {"an occurrence", {game, "--get", "INI", "path", "2"}, 0, "b\n"},
        {"a macro as a number", {game, "--get", "INI", "LEVEL", "--int"}, 0, "99\n"},
        {"the macros", {game, "--macros"}, 0, "MAXLEVEL=99\nHALF=0x32\n"},
        {"a missing key", {game, "--get", "INI", "NONE"}, 1, ""},
        {"text is not a number", {game, "--int", "--get", "INI", "GAMEDIR"}, 1, ""},
        {"no file", {}, 2, ""},
        {"--int without --get", {game, "--int"}, 2, ""},
        {"--get without a key", {game, "--get", "INI"}, 2, ""},
        {"a missing file", {game, dir.file("missing.ini")}, 1, ""},
    };
    for (const auto &c : cases) {
        const fixtures::ProgramRun r = fixtures::run_program("cfgtool", c.args, dir.path().string());
        EXPECT_EQ(r.status, c.status) << c.behaviour;
        EXPECT_EQ(r.out, c.out) << c.behaviour;
        EXPECT_TRUE(c.status == 0 || !r.err.empty()) << c.behaviour;
    }
    // A file that does not load is named with the reason. The large ones
    // hold nothing (sparse): 2 GiB and more, and past 4 GiB, where the low
    // 32 bits of the size alone would read as 16 bytes.
    std::filesystem::create_directory(dir.path() / "folder.ini");
    std::filesystem::resize_file(dir.write("huge.ini", {}), 0x80000010ull);
    std::filesystem::resize_file(dir.write("vast.ini", {}), 0x100000010ull);
    for (const auto &[name, says] : {std::pair{"missing.ini", "missing.ini: cannot read: not found"},
                                     std::pair{"folder.ini", "folder.ini: cannot read: is a folder"},
                                     std::pair{"huge.ini", "huge.ini: cannot read: too large"},
                                     std::pair{"vast.ini", "vast.ini: cannot read: too large"}}) {
        const fixtures::ProgramRun r = fixtures::run_program("cfgtool", {dir.file(name)}, dir.path().string());
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    }
}

TEST(Cfgtool, WarnsWhereTheProgramReadsAFileOtherwiseThanMeant)
{
    fixtures::TempDir dir;
    dir.write("c.ini", fixtures::bytes_of("BIG 0x100000000\r\n"));
    const struct {
        const char *bytes;
        std::vector<std::string> options;
        const char *warning;  // null: none
    } cases[] = {
        {"[S]\nA=1\nB=2\r\n", {}, "2 lines (the first is line 1) end in LF alone"},
        {"[S]\rA=1\r\n", {}, "1 line (the first is line 1) ends in CR alone"},
        {"\xEF\xBB\xBF[S]\r\n", {}, "the file starts with a UTF-8 byte-order mark"},
        {"#include none.ini\r\n", {}, "the include none.ini finds no file"},
        {"#include \"c.ini\"\r\n", {}, "the include name \"c.ini\" is quoted"},
        {"[S]\r\nN=4294967296\r\n", {"--get", "S", "N", "--int"}, "N = 4294967296 does not fit 32 bits; the program reads it as 0"},
        {"#include c.ini\r\n[S]\r\nN=BIG\r\n", {"--get", "S", "N", "--int"}, "N = 0x100000000 does not fit 32 bits"},
        {"#include c.ini\r\n[S]\r\nN=4294967295\r\n", {"--get", "S", "N", "--int"}, nullptr},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{dir.write("t.ini", fixtures::bytes_of(c.bytes))};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const fixtures::ProgramRun r = fixtures::run_program("cfgtool", args, dir.path().string());
        EXPECT_EQ(r.status, 0) << c.bytes;
        if (!c.warning) {
            EXPECT_EQ(r.err, "") << c.bytes;
            continue;
        }
        EXPECT_EQ(r.err.rfind("cfgtool: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("t.ini: warning: " + std::string(c.warning)), std::string::npos) << r.err;
    }
    const fixtures::ProgramRun help = fixtures::run_program("cfgtool", {"-h"}, dir.path().string());
    const fixtures::ProgramRun version = fixtures::run_program("cfgtool", {"--version"}, dir.path().string());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(version.status, 0);
    // The version is the first thing help says, and the version line is it alone.
    ASSERT_EQ(version.out.rfind("cfgtool ", 0), 0u) << version.out;
    EXPECT_EQ(help.out.rfind(version.out.substr(0, version.out.size() - 1) + ": ", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("\nUsage: cfgtool"), std::string::npos);
}

#ifndef _WIN32
TEST(Cfgtool, AFailedWriteToStandardOutputFailsAndAClosedPipeEndsQuietly)
{
    fixtures::TempDir dir;
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "KEY" + std::to_string(i) + "=value\r\n";
    const std::string big = dir.write("big.ini", fixtures::bytes_of(text));
    const std::vector<fixtures::OutputCase> cases = {
        {{big}, ">/dev/full", 1, "cfgtool: standard output: disk full\n"},
        {{big}, ">&-", 1, "cfgtool: standard output: failed: not open\n"},
        {{"--help"}, ">/dev/full", 1, "cfgtool: standard output: disk full\n"},
        {{big}, "| head -c1 >/dev/null", 128 + 13, ""},
    };
    EXPECT_EQ(fixtures::output_mismatches("cfgtool", cases, dir.path().string()), "");
}
#endif

}  // namespace
