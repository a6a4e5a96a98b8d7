// The built program itself (pak.exe under Wine): exit statuses, standard
// output byte-exact, no progress line outside a terminal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "tests/support/archive_builder.h"
#include "tests/support/program.h"

namespace {

using namespace fixtures;

TEST(PakProgram, EveryCommandRunsWithItsExitStatusAndExactOutput)
{
    TempDir dir;
    const auto pak = [&](const std::vector<std::string> &words) { return run_program("pak", words, dir.path().string()); };
    Bytes binary = bytes_of("line\r\nctrl-z \x1a and\n");
    binary.push_back(0);
    const std::string a = dir.write("a.bin", binary), b = dir.write("b.txt", pattern_bytes(70000, 4));
    const std::string archive = dir.file("t.pak"), exe = dir.write("prog.exe", minimal_pe(4096));
    const std::vector<std::vector<std::string>> steps = {
        {"create", archive, "--drives", "@"}, {"add", archive, a, b, "-j", "2"}, {"info", "--json", archive},
        {"list", "-l", archive}, {"extract", archive, "-C", dir.file("out")}, {"verify", archive},
        {"rename", archive, "b.txt", "c.txt"}, {"delete", archive, "c.txt"}, {"compact", archive},
        {"attach", exe, archive}, {"cat", "--help"}};
    for (const auto &step : steps) {
        const ProgramRun r = pak(step);
        EXPECT_EQ(r.status, 0) << step[0] << ": " << r.err;
        EXPECT_EQ(r.err.find('\r'), std::string::npos) << "progress line in a file";
    }
    EXPECT_EQ(read_file(dir.path() / "out" / "b.txt"), pattern_bytes(70000, 4));
    const ProgramRun cat = pak({"cat", exe, "a.bin"});
    EXPECT_EQ(cat.status, 0);
    EXPECT_EQ(cat.out, std::string(binary.begin(), binary.end())) << "standard output is not byte-exact";

    const struct { std::vector<std::string> words; int status; } failing[] = {
        {{"cat", archive, "c.txt"}, 1}, {{}, 2}, {{"list", "a.pak", "--bogus"}, 2}};
    for (const auto &f : failing) {
        const ProgramRun r = pak(f.words);
        EXPECT_EQ(r.status, f.status);
        EXPECT_EQ(r.err.rfind("pak: ", 0), 0u) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

#ifndef _WIN32
TEST(PakProgram, AFailedWriteToStandardOutputFailsTheCommandAndAClosedPipeEndsItQuietly)
{
    TempDir dir;
    const std::string archive = dir.file("t.pak"), big = dir.write("big.bin", pattern_bytes(300000, 7));
    ASSERT_EQ(run_program("pak", {"create", archive}, dir.path().string()).status, 0);
    ASSERT_EQ(run_program("pak", {"add", archive, big, "--store"}, dir.path().string()).status, 0);
    const std::vector<OutputCase> cases = {
        {{"cat", archive, "big.bin"}, ">/dev/full", 1, "pak: standard output: disk full\n"},
        {{"list", archive}, ">&-", 1, "pak: standard output: failed: not open\n"},
        {{"--help"}, ">/dev/full", 1, "pak: standard output: disk full\n"},
        {{"cat", archive, "big.bin"}, "| head -c1 >/dev/null", 128 + 13, ""},
    };
    EXPECT_EQ(output_mismatches("pak", cases, dir.path().string()), "");
}

// A signal at several points of a long compact: exit 0 or 128 + the signal,
// no temporary file left, the archive and its backup each old or new whole.
TEST(PakProgram, AnInterruptedCompactLeavesNoDebrisAndWholeFiles)
{
    TempDir dir;
    const auto pak = [&](const std::vector<std::string> &words) { return run_program("pak", words, dir.file("")); };
    const std::string archive = dir.file("a.pak"), backup = dir.file("a.BAK");
    ASSERT_EQ(pak({"create", archive}).status, 0);
    ASSERT_EQ(pak({"add", archive, dir.write("big.bin", pattern_bytes(60u << 20, 5)), "--store"}).status, 0);
    ASSERT_EQ(pak({"add", archive, dir.write("gone.bin", bytes_of("x")), "--as", "#:\\gone"}).status, 0);
    ASSERT_EQ(pak({"delete", archive, "#:\\gone"}).status, 0);
    const Bytes old_archive = read_file(archive), old_backup = bytes_of("the backup before");
    std::filesystem::remove(dir.file("big.bin"));
    std::filesystem::remove(dir.file("gone.bin"));
    ASSERT_EQ(pak({"compact", archive}).status, 0);
    const Bytes new_archive = read_file(archive);
    for (const char *signal : {"INT", "TERM", "HUP"})
        for (const char *delay : {"0.05", "0.2", "0.5", "1"}) {
            SCOPED_TRACE(std::string(signal) + " after " + delay + " s");
            write_file(archive, old_archive);
            write_file(backup, old_backup);
            const std::string command = "timeout --preserve-status -s " + std::string(signal) + " " + delay + " \"" +
                                        std::getenv("KORIN_BIN") + "/pak\" compact --force \"" + archive + "\" >/dev/null 2>&1";
            const int status = (std::system(command.c_str()) >> 8) & 0xFF;
            EXPECT_TRUE(status == 0 || status == 129 || status == 130 || status == 143) << status;
            std::set<std::string> left;
            for (const auto &e : std::filesystem::directory_iterator(dir.path())) left.insert(e.path().filename().string());
            left.erase("stdout"), left.erase("stderr");
            EXPECT_EQ(left, (std::set<std::string>{"a.pak", "a.BAK"})) << "a temporary file left behind";
            const Bytes now = read_file(archive), now_backup = read_file(backup);
            EXPECT_TRUE(now == old_archive || now == new_archive) << "torn archive";
            EXPECT_TRUE(now_backup == old_backup || now_backup == old_archive) << "torn backup";
        }
}
#endif

}  // namespace
