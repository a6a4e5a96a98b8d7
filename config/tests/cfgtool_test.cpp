// cfgtool run as a user runs it: exit status, standard output exactly, and a
// word on standard error whenever it fails.
#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/support/archive_builder.h"
#include "tests/support/program.h"

namespace {

TEST(Cfgtool, ShowsTheFilesAsTheProgramReadsThemAndRefusesBadUsage)
{
    fixtures::TempDir dir;
    dir.write("consts.ini", fixtures::bytes_of("MAXLEVEL 99\r\n#define HALF 0x32\r\n"));
    const std::string game = dir.write("game.ini", fixtures::bytes_of(
        "top=1\r\n[INI]\r\n#include consts.ini\r\nGAMEDIR = D:\\Game ; old\r\nPATH=a\r\nPATH=b\r\nLEVEL=MAXLEVEL\r\n"));
    const std::string empty = dir.write("empty.ini", fixtures::bytes_of("[S]\r\nK\r\n"));
    const std::string notes = dir.write("notes.ini", fixtures::bytes_of("MORE=2\r\n[Notes]\nA=1\nB=\xa4\x40\n"));
    const struct {
        const char *behaviour;
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        // The tool runs in another folder: consts.ini is found beside game.ini.
        {"every section and key in chain order, bytes as stored", {game, notes}, 0,
         "[]\ntop=1\n[INI]\nGAMEDIR=D:\\Game\nPATH=a\nPATH=b\nLEVEL=MAXLEVEL\nMORE=2\n[Notes]\nA=1\\x0AB=\xa4\x40\\x0A\n"},
        {"an occurrence", {game, "--get", "INI", "path", "2"}, 0, "b\n"},
        {"a macro as a number", {game, "--get", "INI", "LEVEL", "--int"}, 0, "99\n"},
        {"the macros", {game, "--macros"}, 0, "MAXLEVEL=99\nHALF=0x32\n"},
        {"a missing key", {game, "--get", "INI", "NONE"}, 1, ""},
        {"text is not a number", {game, "--int", "--get", "INI", "GAMEDIR"}, 1, ""},
        {"no file", {}, 2, ""},
        {"--int without --get", {game, "--int"}, 2, ""},
        {"--get without a key", {game, "--get", "INI"}, 2, ""},
        {"a missing file", {game, dir.file("missing.ini")}, 1, ""},
        {"a key without a value reads as empty", {empty, "--get", "S", "K", "1"}, 0, "\n"},
        {"an occurrence counts from 1", {game, "--get", "INI", "PATH", "0"}, 2, ""},
        {"no occurrence is negative", {game, "--get", "INI", "PATH", "-1"}, 2, ""},
        {"a code page other than GBK or Big5", {game, "--codepage", "437"}, 2, ""},
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
    dir.write("inc.ini", fixtures::bytes_of("#include deeper.ini\r\nM=1\r\nM=2\r\n"));
    dir.write("back.ini", fixtures::bytes_of("#include t.ini\r\n"));
    const struct {
        std::string bytes;
        std::vector<std::string> options;
        const char *warning;  // null: none
    } cases[] = {
        {"[S]\nA=1\nB=2\r\n", {}, "t.ini:2: warning: the value of the key 'A' runs on to line 3"},
        {"[S]\rA=1\r\n", {}, "t.ini:1: warning: the line ends in CR alone: the program reads on to the next LF, so line 2 is skipped"},
        {"; note\rA=1\rB=2\r\n", {}, "t.ini:1: warning: the line ends in CR alone: the program reads on to the next LF, so lines 2 to 3 are skipped"},
        {"[S]\r\nA=1\r", {}, nullptr},
        {"\xEF\xBB\xBF[S]\r\n", {}, "t.ini:1: warning: the file starts with a UTF-8 byte-order mark"},
        {"#include none.ini\r\n", {}, "t.ini:1: warning: the include 'none.ini' finds no file"},
        {"#include \"c.ini\"\r\n", {}, "t.ini:1: warning: the include name '\"c.ini\"' is quoted"},
        {"#include\r\n", {}, "t.ini:1: warning: the include names no file"},
        {"[S]\r\nurl=http://example.com/x\r\n", {}, "t.ini:2: warning: the value of the key 'url' stops at '//', which begins a "
                                                       "comment (a name or value holds no ';' and no '//'): the program reads 'http:'"},
        {"[S]\r\nk=a;b;c\r\n", {}, "t.ini:2: warning: the value of the key 'k' stops at ';'"},
        {"[S]\r\nk=a ; note\r\nu=x // note\r\n", {}, nullptr},
        {"[S]\r\nmy key = a value\r\n", {}, "t.ini:2: warning: the key 'my' ends at its first blank: the program reads the value 'key = a value'"},
        {"[ spaced ]\r\n", {}, "t.ini:1: warning: the section name ' spaced ' keeps the blanks inside its brackets"},
        {"[S]\r\nA=1\r\nB=2\r\na=3\r\n", {}, "t.ini:4: warning: the key 'a' repeats in its section (first at "},
        {"[S]\r\n[T]\r\n[s]\r\n", {}, "t.ini:3: warning: the section 's' repeats (first at "},
        {"#include inc.ini\r\n", {}, "inc.ini:1: warning: the include 'deeper.ini' is in an included file, where the program ignores includes"},
        {"#include inc.ini\r\n", {}, "inc.ini:3: warning: the macro 'M' repeats (first at "},
        {"#include t.ini\r\n", {}, "t.ini:1: warning: the include 't.ini' is this file itself"},
        {"#include back.ini\r\n", {}, "back.ini:1: warning: the include 't.ini' is in an included file, where the program ignores "
                                      "includes (it names "},
        {std::string("[S]\r\nA=x\0y\r\n", 12), {}, "t.ini:2: warning: a NUL byte ends the value of the key 'A': the program reads 'x'"},
        {"[S]\r\nN=4294967296\r\n", {"--get", "S", "N", "--int"}, "t.ini:2: warning: N = '4294967296' does not fit 32 bits; the program reads it as 0"},
        {"#include c.ini\r\n[S]\r\nN=BIG\r\n", {"--get", "S", "N", "--int"}, "t.ini:3: warning: N = '0x100000000' does not fit 32 bits"},
        {"[S]\r\nN=4294967295\r\n", {"--get", "S", "N", "--int"}, "N = '4294967295' does not fit 32 bits; the program reads it as -1"},
        {"[S]\r\nN=2147483648\r\n", {"--get", "S", "N", "--int"}, "N = '2147483648' does not fit 32 bits; the program reads it as -2147483648"},
        {"[S]\r\nN=-2147483649\r\n", {"--get", "S", "N", "--int"}, "N = '-2147483649' does not fit 32 bits; the program reads it as 2147483647"},
        {"[S]\r\nN=~2147483648\r\n", {"--get", "S", "N", "--int"}, "does not fit 32 bits"},
        {"[S]\r\nN=-2147483648\r\nH=0xFFFFFFFF\r\nC=~2147483647\r\n", {"--get", "S", "N", "--int"}, nullptr},
        {"[S]\r\nH=0xFFFFFFFF\r\n", {"--get", "S", "H", "--int"}, nullptr},
        {"[S]\r\nC=~2147483647\r\n", {"--get", "S", "C", "--int"}, nullptr},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{dir.write("t.ini", fixtures::bytes_of(c.bytes))};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const fixtures::ProgramRun r = fixtures::run_program("cfgtool", args, dir.path().string());
        EXPECT_EQ(r.status, 0) << c.bytes << r.err;
        if (!c.warning) {
            EXPECT_EQ(r.err, "") << c.bytes;
            continue;
        }
        EXPECT_EQ(r.err.rfind("cfgtool: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
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

TEST(Cfgtool, WarningsComeInLineOrderOneBoundedLineEachAndValuesPrintOnOneLine)
{
    fixtures::TempDir dir;
    // LF line ends throughout: the include's name runs on over the whole file.
    std::string text = "#include none.ini\n[S]\nname=Alice\nlevel=3\n";
    while (text.size() < 4000000) text += "KEY=value and more value\n";
    const std::string big = dir.write("big.ini", fixtures::bytes_of(text));
    const fixtures::ProgramRun r = fixtures::run_program("cfgtool", {big}, dir.path().string());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");  // every byte after the include line is the include's name
    EXPECT_LT(r.err.size(), 2000u) << r.err.substr(0, 2000);
    size_t lines = 0;
    for (size_t at = 0, end; (end = r.err.find('\n', at)) != std::string::npos; at = end + 1, ++lines)
        EXPECT_LT(end - at, 500u);
    EXPECT_EQ(lines, 2u) << r.err.substr(0, 2000);

    // The listing and --get agree on a value that holds line feeds.
    const std::string lf = dir.write("lf.ini", fixtures::bytes_of("[S]\nname=Alice\nlevel=3\r\n#include none.ini\r\n"));
    const fixtures::ProgramRun listing = fixtures::run_program("cfgtool", {lf}, dir.path().string());
    const fixtures::ProgramRun get = fixtures::run_program("cfgtool", {lf, "--get", "S", "name"}, dir.path().string());
    EXPECT_EQ(listing.out, "[S]\nname=Alice\\x0Alevel=3\n");
    EXPECT_EQ(get.out, "Alice\\x0Alevel=3\n");
    // In line order: the value's line before the include's.
    const size_t value_at = listing.err.find("lf.ini:2: warning:"), include_at = listing.err.find("lf.ini:4: warning:");
    EXPECT_NE(value_at, std::string::npos) << listing.err;
    EXPECT_LT(value_at, include_at) << listing.err;
}

TEST(Cfgtool, ShowsBig5OrGbkNamesInUtf8AndPathsWithTheSystemsSeparator)
{
    fixtures::TempDir dir;
    std::filesystem::create_directory(dir.path() / "sub");
    // \xa4\x40 is Big5 for U+4E00; \xd2\xbb is GBK for it.
    dir.write("sub/t.ini", fixtures::bytes_of("[\xa4\x40]\r\n\xa4\x40=\xa4\x40\r\n#include none.ini\r\n"));
    const std::string file = (dir.path() / "sub").string() + "/t.ini";
    const fixtures::ProgramRun listing = fixtures::run_program("cfgtool", {file, "--codepage", "950"}, dir.path().string());
    EXPECT_EQ(listing.out, "[\xe4\xb8\x80]\n\xe4\xb8\x80=\xe4\xb8\x80\n");
    const fixtures::ProgramRun get =
        fixtures::run_program("cfgtool", {file, "--get", "\xe4\xb8\x80", "\xe4\xb8\x80", "--codepage", "950"}, dir.path().string());
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, "\xe4\xb8\x80\n");
    const fixtures::ProgramRun raw = fixtures::run_program("cfgtool", {file}, dir.path().string());
    EXPECT_EQ(raw.out, "[\xa4\x40]\n\xa4\x40=\xa4\x40\n");
#ifndef _WIN32
    EXPECT_NE(raw.err.find("sub/t.ini:3: warning:"), std::string::npos) << raw.err;
    EXPECT_EQ(raw.err.find('\\'), std::string::npos) << raw.err;
#endif
}

#ifndef _WIN32
TEST(Cfgtool, ReadsNoFifoNeitherAsTheFileNorAsAnInclude)
{
    fixtures::TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("pipe.ini").c_str(), 0600), 0);
    const std::string game = dir.write("game.ini", fixtures::bytes_of("[S]\r\n#include pipe.ini\r\nA=1\r\n"));
    const fixtures::ProgramRun include = fixtures::run_program("cfgtool", {game}, dir.path().string());
    EXPECT_EQ(include.status, 1);
    EXPECT_NE(include.err.find("game.ini:2: the include 'pipe.ini' (found as "), std::string::npos) << include.err;
    EXPECT_NE(include.err.find("no plain file"), std::string::npos) << include.err;
    const fixtures::ProgramRun file = fixtures::run_program("cfgtool", {dir.file("pipe.ini")}, dir.path().string());
    EXPECT_EQ(file.status, 1);
    EXPECT_NE(file.err.find("pipe.ini: cannot read: no plain file"), std::string::npos) << file.err;
}

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
