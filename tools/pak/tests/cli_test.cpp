#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/pak/cli.h"

namespace {

// What cli_parse gave, copied out of the argument words it points into.
struct Parsed {
    int result;
    PakCommand command;
    bool present[OPT_COUNT];
    std::string value[OPT_COUNT];
    std::vector<std::string> operands;
    std::string error;
};

Parsed parse(std::vector<std::string> words)
{
    words.insert(words.begin(), "pak");
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    std::vector<const char *> space(argv.size() + 1);
    Parsed p{};
    PakArgs args;
    char error[256];
    p.result = cli_parse(static_cast<int>(argv.size()), argv.data(), space.data(), &args, error, sizeof error);
    p.error = error;
    p.command = args.command;
    for (int o = 0; o < OPT_COUNT; ++o) {
        p.present[o] = args.present[o];
        if (args.value[o]) p.value[o] = args.value[o];
    }
    for (int i = 0; i < args.positional_count; ++i) p.operands.push_back(args.positional[i]);
    return p;
}

TEST(PakCli, OptionsMayStandAnywhereAmongOperands)
{
    const Parsed p = parse({"add", "-j4", "a.pak", "x", "--store", "y", "--as=N"});
    ASSERT_EQ(p.result, 0) << p.error;
    EXPECT_EQ(p.command, CMD_ADD);
    EXPECT_EQ(p.operands, (std::vector<std::string>{"a.pak", "x", "y"}));
    EXPECT_EQ(p.value[OPT_JOBS], "4");
    EXPECT_EQ(p.value[OPT_AS], "N");
    EXPECT_TRUE(p.present[OPT_STORE]);
}

TEST(PakCli, ValuesComeFromTheNextWordOrTheSameOne)
{
    for (const auto &words : std::vector<std::vector<std::string>>{
             {"extract", "a.pak", "-C", "out"}, {"extract", "a.pak", "-Cout"}, {"extract", "a.pak", "--directory=out"}}) {
        const Parsed p = parse(words);
        ASSERT_EQ(p.result, 0) << words.back();
        EXPECT_EQ(p.value[OPT_DIR], "out");
    }
}

TEST(PakCli, ClusteredFlagsAndDoubleDashOperands)
{
    Parsed p = parse({"list", "-la", "a.pak"});
    ASSERT_EQ(p.result, 0);
    EXPECT_TRUE(p.present[OPT_LONG] && p.present[OPT_ALL]);
    p = parse({"cat", "a.pak", "--", "-odd-name"});
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.operands.back(), "-odd-name");
}

TEST(PakCli, UsageErrorsAreRefused)
{
    const std::vector<std::vector<std::string>> bad = {
        {},                                // no command
        {"frobnicate", "a.pak"},           // unknown command
        {"list", "a.pak", "--bogus"},      // unknown option
        {"add", "a.pak", "x", "--json"},   // option of another command
        {"add", "a.pak", "x", "-j"},       // missing value
        {"list", "a.pak", "--json=yes"},   // value for a flag
        {"cat", "a.pak"},                  // missing operand
        {"rename", "a.pak", "x", "y", "z"},// too many operands
        {"--json", "list"},                // option before the command
    };
    for (const auto &words : bad) {
        const Parsed p = parse(words);
        EXPECT_EQ(p.result, -1) << (words.empty() ? "(none)" : words[0]);
        EXPECT_FALSE(p.error.empty());
    }
}

TEST(PakCli, HelpSkipsOperandChecks)
{
    for (const auto &words : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"help"}, {"cat", "--help"}, {"help", "cat"}}) {
        const Parsed p = parse(words);
        ASSERT_EQ(p.result, 0) << words[0];
        EXPECT_TRUE(p.present[OPT_HELP]);
    }
    EXPECT_EQ(parse({"help", "cat"}).command, CMD_CAT);
}

TEST(PakCli, ValueParsers)
{
    uint32_t v = 0;
    EXPECT_EQ(cli_parse_u32("4294967295", &v), 0);
    EXPECT_EQ(v, 0xFFFFFFFFu);
    EXPECT_EQ(cli_parse_u32("0x1F", &v), 0);
    EXPECT_EQ(v, 31u);
    for (const char *bad : {"", "4294967296", "-1", "12a", "0x", " 1"}) EXPECT_EQ(cli_parse_u32(bad, &v), -1) << bad;

    int first = 0, last = 0;
    EXPECT_EQ(cli_parse_drives("@", &first, &last), 0);
    EXPECT_EQ(first, '@');
    EXPECT_EQ(last, '@');
    EXPECT_EQ(cli_parse_drives("A-Z", &first, &last), 0);
    EXPECT_EQ(first, 'A');
    EXPECT_EQ(last, 'Z');
    EXPECT_EQ(cli_parse_drives("---", &first, &last), 0);  // '-' itself
    for (const char *bad : {"", "Z-A", "AB", "A-", "A-BC"}) EXPECT_EQ(cli_parse_drives(bad, &first, &last), -1) << bad;

    int jobs = 0;
    EXPECT_EQ(cli_parse_jobs("8", &jobs), 0);
    EXPECT_EQ(jobs, 8);
    for (const char *bad : {"0", "65", "x"}) EXPECT_EQ(cli_parse_jobs(bad, &jobs), -1) << bad;
}

}  // namespace
