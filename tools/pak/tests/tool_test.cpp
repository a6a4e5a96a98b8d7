// The built program itself (natively, and pak.exe under Wine): help, exit
// status, every command once, byte-exact standard output, no progress line
// outside a terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"

namespace {

using namespace testpak;

// The program's path in the form the shell of this system takes.
std::string program()
{
    const char *bin = std::getenv("KORIN_BIN");
    std::string dir = bin ? bin : ".";
#ifdef _WIN32
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;  // a Unix path handed through Wine
    for (char &c : dir)
        if (c == '/') c = '\\';
    return dir + "\\pak.exe";
#else
    return dir + "/pak";
#endif
}

struct Outcome {
    int status;
    std::string out, err;
};

class Tool : public ::testing::Test {
protected:
    // Runs pak with the words as arguments (each quoted), standard output and
    // error going to files.
    Outcome pak(const std::vector<std::string> &words)
    {
        std::string command = "\"" + program() + "\"";
        for (const auto &w : words) command += " \"" + w + "\"";
        const std::string out = dir.file("stdout"), err = dir.file("stderr");
        command += " >\"" + out + "\" 2>\"" + err + "\"";
#ifdef _WIN32
        command = "\"" + command + "\"";  // cmd /c strips one outer pair of quotes
        const int status = std::system(command.c_str());
#else
        const int raw = std::system(command.c_str());
        const int status = (raw >> 8) & 0xFF;
#endif
        const Bytes o = read_file(out), e = read_file(err);
        return {status, std::string(o.begin(), o.end()), std::string(e.begin(), e.end())};
    }

    TempDir dir;
};

TEST_F(Tool, HelpAndUsageErrors)
{
    Outcome r = pak({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: pak COMMAND", 0), 0u) << r.out;
    for (const char *command : {"info", "list", "extract", "cat", "verify", "create", "add", "delete", "rename",
                                "compact", "attach"}) {
        r = pak({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("Usage: pak ") + command, 0), 0u) << r.out;
        EXPECT_NE(r.out.find("Example:\n  pak " + std::string(command)), std::string::npos) << command;
    }
    for (const std::vector<std::string> &bad : {std::vector<std::string>{}, {"bogus"}, {"list"}, {"list", "a.pak", "--bogus"}}) {
        r = pak(bad);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("pak: ", 0), 0u) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(Tool, EveryCommandRunsAsAProgram)
{
    Bytes binary = bytes_of("line\r\nctrl-z \x1a and\n");
    binary.push_back(0);
    const std::string a = dir.write("a.bin", binary), b = dir.write("b.txt", pattern_bytes(70000, 4));
    const std::string archive = dir.file("t.pak"), out = dir.file("out");
    const std::string exe = dir.write("prog.exe", minimal_pe(4096));

    const std::vector<std::vector<std::string>> steps = {
        {"create", archive, "--drives", "@"},
        {"add", archive, a, b, "-j", "2"},
        {"info", "--json", archive},
        {"list", "-l", archive},
        {"extract", archive, "-C", out},
        {"verify", archive},
        {"rename", archive, "b.txt", "c.txt"},
        {"delete", archive, "c.txt"},
        {"compact", archive},
        {"attach", exe, archive},
    };
    for (const auto &step : steps) {
        const Outcome r = pak(step);
        EXPECT_EQ(r.status, 0) << step[0] << ": " << r.err;
        EXPECT_EQ(r.err.find('\r'), std::string::npos) << "progress line in a file";
    }
    EXPECT_EQ(read_file(dir.path() / "out" / "b.txt"), pattern_bytes(70000, 4));
    EXPECT_EQ(pak({"list", exe}).out, "a.bin\n");
    const Outcome cat = pak({"cat", exe, "a.bin"});
    EXPECT_EQ(cat.status, 0);
    EXPECT_EQ(cat.out, std::string(binary.begin(), binary.end())) << "standard output is not byte-exact";

    const Outcome missing = pak({"cat", archive, "c.txt"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("pak: c.txt: no such entry", 0), 0u) << missing.err;
}

}  // namespace
