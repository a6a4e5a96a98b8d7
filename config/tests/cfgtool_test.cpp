// cfgtool run as a user runs it: the built program, its output and its exit
// status, natively and (in the Windows build) under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"

namespace {

namespace fs = std::filesystem;

// Made absolute while the current folder is still the one the run began in.
const fs::path g_bin = std::getenv("KORIN_BIN") ? fs::absolute(std::getenv("KORIN_BIN")) : fs::path();

struct ToolCase {
    const char *behaviour;
    std::vector<std::string> args;
    int status;
    std::string out;
};

class Cfgtool : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (g_bin.empty()) GTEST_SKIP() << "KORIN_BIN is not set";
        tool_ = g_bin / "cfgtool";
        if (!fs::exists(tool_)) tool_ += ".exe";
        ASSERT_TRUE(fs::exists(tool_)) << tool_;
    }

    std::string file(const std::string &name, const std::string &text) const
    {
        return dir_.write(name, testpak::bytes_of(text));
    }

    // Runs every case: exit status and standard output exactly; a failure
    // says something on standard error.
    void expect_runs(const std::vector<ToolCase> &cases) const
    {
        const std::string out = dir_.file("out.txt");
        const std::string err = dir_.file("err.txt");
        for (const ToolCase &c : cases) {
            std::string command = '"' + tool_.string() + '"';
            for (const std::string &a : c.args) command += " \"" + a + '"';
            command += " >\"" + out + "\" 2>\"" + err + '"';
            // The Windows shell drops the outermost quotes of the whole line.
            if (fs::path::preferred_separator == '\\') command = '"' + command + '"';
            const int status = std::system(command.c_str());
            // POSIX keeps the exit code in the second byte, Windows returns it.
            EXPECT_EQ(status > 255 ? status >> 8 : status, c.status) << c.behaviour;
            const testpak::Bytes o = testpak::read_file(out);
            EXPECT_EQ(std::string(o.begin(), o.end()), c.out) << c.behaviour;
            EXPECT_EQ(testpak::read_file(err).empty(), c.status == 0) << c.behaviour;
        }
    }

    testpak::TempDir dir_;
    fs::path tool_;
};

TEST_F(Cfgtool, ShowsTheFilesAsTheProgramReadsThem)
{
    file("consts.ini", "MAXLEVEL 99\r\n#define HALF 0x32\r\n");
    const std::string game = file("game.ini", "top=1\r\n[INI]\r\n#include consts.ini\r\nGAMEDIR = D:\\Game ; old\r\n"
                                              "PATH=a\r\nPATH=b\r\nLEVEL=MAXLEVEL\r\n");
    const std::string notes = file("notes.ini", "MORE=2\r\n[Notes]\nA=1\nB=\xa4\x40\n");
    // The tool runs in another folder: consts.ini is found beside game.ini.
    expect_runs({
        {"every section and key in chain order, bytes as stored", {game, notes}, 0,
         "[]\ntop=1\n[INI]\nGAMEDIR=D:\\Game\nPATH=a\nPATH=b\nLEVEL=MAXLEVEL\nMORE=2\n[Notes]\nA=1\nB=\xa4\x40\n\n"},
        {"one value", {game, "--get", "ini", "path"}, 0, "a\n"},
        {"an occurrence", {game, "--get", "INI", "PATH", "2"}, 0, "b\n"},
        {"a macro as a number", {game, "--get", "INI", "LEVEL", "--int"}, 0, "99\n"},
        {"the macros", {game, "--macros"}, 0, "MAXLEVEL=99\nHALF=0x32\n"},
        {"a missing key", {game, "--get", "INI", "NONE"}, 1, ""},
        {"a missing section", {game, "--get", "Other", "PATH"}, 1, ""},
        {"text is not a number", {game, "--int", "--get", "INI", "GAMEDIR"}, 1, ""},
    });
}

TEST_F(Cfgtool, RefusesBadUsageAndFilesThatDoNotLoad)
{
    const std::string game = file("game.ini", "[INI]\r\n");
    expect_runs({
        {"no file", {}, 2, ""},
        {"--int without --get", {game, "--int"}, 2, ""},
        {"--get without a key", {game, "--get", "INI"}, 2, ""},
        {"an unknown option", {game, "--all"}, 2, ""},
        {"a missing file", {game, dir_.file("missing.ini")}, 2, ""},
    });
}

}  // namespace
