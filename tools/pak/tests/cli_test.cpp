#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "tools/pak/cli.h"

namespace {

using Words = std::vector<std::string>;

// What cli_parse gave, copied out of the words it points into.
struct Parsed {
    int result;
    PakCommand command;
    std::map<PakOption, std::string> options;  // present ones
    Words operands;
};

Parsed parse(Words words)
{
    words.insert(words.begin(), "pak");
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    std::vector<const char *> space(argv.size() + 1);
    PakArgs args;
    char error[256];
    Parsed p{cli_parse(static_cast<int>(argv.size()), argv.data(), space.data(), &args, error, sizeof error),
             args.command, {}, {}};
    for (int o = 0; o < OPT_COUNT; ++o)
        if (args.present[o]) p.options[PakOption(o)] = args.value[o] ? args.value[o] : "";
    for (int i = 0; i < args.positional_count; ++i) p.operands.push_back(args.positional[i]);
    EXPECT_TRUE(p.result == 0 || error[0] != 0) << "a usage error without a reason";
    return p;
}

TEST(PakCli, OptionsStandAnywhereInEveryAcceptedSpelling)
{
    const struct {
        Words words;
        Words operands;
        std::map<PakOption, std::string> options;
    } cases[] = {
        {{"add", "-j4", "a.pak", "x", "--store", "y", "--as=N"}, {"a.pak", "x", "y"},
         {{OPT_JOBS, "4"}, {OPT_STORE, ""}, {OPT_AS, "N"}}},
        {{"add", "a.pak", "--level=1", "x"}, {"a.pak", "x"}, {{OPT_LEVEL, "1"}}},
        {{"extract", "a.pak", "-C", "out"}, {"a.pak"}, {{OPT_DIR, "out"}}},
        {{"extract", "a.pak", "-Cout", "*.txt"}, {"a.pak", "*.txt"}, {{OPT_DIR, "out"}}},
        {{"extract", "--directory=out", "a.pak"}, {"a.pak"}, {{OPT_DIR, "out"}}},
        {{"list", "-la", "a.pak"}, {"a.pak"}, {{OPT_LONG, ""}, {OPT_ALL, ""}}},
        {{"cat", "a.pak", "--", "-odd-name"}, {"a.pak", "-odd-name"}, {}},
        {{"help", "cat"}, {}, {{OPT_HELP, ""}}},
        {{"cat", "--help"}, {}, {{OPT_HELP, ""}}},  // no operand check with --help
    };
    for (const auto &c : cases) {
        const Parsed p = parse(c.words);
        ASSERT_EQ(p.result, 0) << c.words[0] << " " << c.words[1];
        EXPECT_EQ(p.operands, c.operands) << c.words[1];
        EXPECT_EQ(p.options, c.options) << c.words[1];
    }
    EXPECT_EQ(parse({"help", "cat"}).command, CMD_CAT);
}

TEST(PakCli, UsageErrorsAreRefused)
{
    const Words bad[] = {{}, {"frobnicate", "a.pak"}, {"list", "a.pak", "--bogus"},
                         {"add", "a.pak", "x", "--json"},  // option of another command
                         {"add", "a.pak", "x", "-j"}, {"list", "a.pak", "--json=yes"}, {"cat", "a.pak"},
                         {"rename", "a.pak", "x", "y", "z"}, {"--json", "list"}, {"--version", "extra"},
                         {"add", "a.pak", "x", "--level", "0"}, {"extract", "a.pak", "--level", "1"},
                         {"add", "a.pak", "x", "--level", std::to_string(block_level_best() + 1)}};
    for (const auto &words : bad) EXPECT_EQ(parse(words).result, -1) << (words.empty() ? "(none)" : words[0]);
}

TEST(PakCli, ValueParsersTakeWholeValuesOnly)
{
    uint32_t v = 0, w = 0;
    EXPECT_TRUE(cli_parse_u32("4294967295", &v) == 0 && cli_parse_u32("0x1F", &w) == 0 && v == 0xFFFFFFFFu && w == 31u);
    for (const char *bad : {"", "4294967296", "-1", "12a", "0x", " 1"}) EXPECT_EQ(cli_parse_u32(bad, &v), -1) << bad;

    int first = 0, last = 0;
    EXPECT_TRUE(cli_parse_drives("A-Z", &first, &last) == 0 && first == 'A' && last == 'Z');
    EXPECT_TRUE(cli_parse_drives("---", &first, &last) == 0 && first == '-' && last == '-');  // '-' itself
    for (const char *bad : {"", "Z-A", "AB", "A-", "A-BC"}) EXPECT_EQ(cli_parse_drives(bad, &first, &last), -1) << bad;

    int jobs = 0;
    for (const char *bad : {"0", "65", "x"}) EXPECT_EQ(cli_parse_jobs(bad, &jobs), -1) << bad;
}

}  // namespace
