// cfgtool, run as a user runs it: the built program with its output and
// exit status, natively and (for the Windows build) under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"

namespace {

namespace fs = std::filesystem;

// The folder of the built programs, made absolute while the current folder is
// still the one the test started in.
const fs::path g_bin = [] {
    const char *bin = std::getenv("KORIN_BIN");
    return bin ? fs::absolute(bin) : fs::path();
}();

struct ToolRun {
    int status;
    std::string out;
    std::string err;
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

    // Runs cfgtool with args (paths quoted, nothing else needs it).
    ToolRun run(const std::vector<std::string> &args) const
    {
        const std::string out = dir_.file("stdout.txt");
        const std::string err = dir_.file("stderr.txt");
        std::string command = '"' + tool_.string() + '"';
        for (const std::string &a : args) command += " \"" + a + '"';
        command += " >\"" + out + "\" 2>\"" + err + '"';
        // The Windows shell drops the outermost quotes of the whole line.
        if (fs::path::preferred_separator == '\\') command = '"' + command + '"';
        const int status = std::system(command.c_str());
        // POSIX reports the exit code in the second byte of the status,
        // Windows as the status itself.
        const int code = status > 255 ? status >> 8 : status;
        const testpak::Bytes o = testpak::read_file(out);
        const testpak::Bytes e = testpak::read_file(err);
        return {code, std::string(o.begin(), o.end()), std::string(e.begin(), e.end())};
    }

    testpak::TempDir dir_;
    fs::path tool_;
};

TEST_F(Cfgtool, PrintsEverySectionAndKeyInChainOrderWithBytesAsStored)
{
    const std::string first = file("first.ini", "top=1\r\n[INI]\r\nGAMEDIR = D:\\Game ; old\r\nEMPTY\r\n");
    const std::string second = file("second.ini", "MORE=2\r\n[Notes]\nA=1\nB=\xa4\x40\n");
    const ToolRun r = run({first, second});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[]\ntop=1\n[INI]\nGAMEDIR=D:\\Game\nEMPTY=\nMORE=2\n[Notes]\nA=1\nB=\xa4\x40\n\n");
    EXPECT_EQ(r.err, "");
}

struct ToolCase {
    const char *behaviour;
    std::vector<std::string> args;  // after the two files
    int status;
    const char *out;
};

TEST_F(Cfgtool, GetIntAndMacrosAnswerOneQuestion)
{
    file("consts.ini", "MAXLEVEL 99\r\n#define HALF 0x32\r\n");
    const std::string game = file("game.ini",
                                  "[INI]\r\n#include consts.ini\r\nPATH=a\r\nPATH=b\r\nLEVEL=MAXLEVEL\r\nTEXT=hi\r\n");
    // The tool runs in another folder: the include is found beside the file.
    const ToolCase cases[] = {
        {"first occurrence", {"--get", "ini", "PATH"}, 0, "a\n"},
        {"second occurrence", {"--get", "INI", "path", "2"}, 0, "b\n"},
        {"missing key", {"--get", "INI", "NONE"}, 1, ""},
        {"missing section", {"--get", "Other", "PATH"}, 1, ""},
        {"macro as number", {"--get", "INI", "LEVEL", "--int"}, 0, "99\n"},
        {"text is not a number", {"--int", "--get", "INI", "TEXT"}, 1, ""},
        {"macros listed", {"--macros"}, 0, "MAXLEVEL=99\nHALF=0x32\n"},
    };
    for (const ToolCase &c : cases) {
        std::vector<std::string> args = {game};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun r = run(args);
        EXPECT_EQ(r.status, c.status) << c.behaviour << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.behaviour;
    }
}

TEST_F(Cfgtool, RefusesBadUsageAndMissingFiles)
{
    const std::string game = file("game.ini", "[INI]\r\n");
    const ToolCase cases[] = {
        {"no file", {}, 2, ""},
        {"--int without --get", {game, "--int"}, 2, ""},
        {"--get without a key", {game, "--get", "INI"}, 2, ""},
        {"unknown option", {game, "--all"}, 2, ""},
        {"missing file", {game, dir_.file("missing.ini")}, 2, ""},
    };
    for (const ToolCase &c : cases) {
        const ToolRun r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.behaviour;
        EXPECT_EQ(r.out, c.out) << c.behaviour;
        EXPECT_NE(r.err, "") << c.behaviour;
    }
}

}  // namespace
