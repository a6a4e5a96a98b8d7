// Real-looking files as the store sees them, and the lookups over it.
#include <tuple>

#include "config/tests/config_fixture.h"

namespace {

using Syntax = ConfigTest;

// What cfg_walk_pieces reports, written as dump() writes the store: the two must
// agree on every text, and its pieces follow one another without overlap.
std::string walked(const std::string &text)
{
    struct Seen {
        std::string text;
        std::string out;
        int32_t end = 0;
        bool overlap = false;
    } seen{text + "\r\n", "", 0, false};
    auto visit = [](void *context, const CfgPiece &p) {
        Seen &s = *static_cast<Seen *>(context);
        s.overlap |= p.start < s.end || p.end <= p.start;
        s.end = p.end;
        // As the program reads them: up to a NUL.
        const auto read = [&](int32_t from, int32_t to) {
            const std::string bytes = s.text.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
            return bytes.substr(0, bytes.find('\0'));
        };
        if (p.kind == CFG_SECTION) s.out += '[' + read(p.name, p.name_end) + "]\n";
        if (p.kind != CFG_KEY) return;
        if (s.out.empty()) s.out = "[]\n";
        s.out += read(p.name, p.name_end) + '=' + (p.value < 0 ? "" : read(p.value, p.value_end)) + '\n';
    };
    EXPECT_EQ(cfg_walk_pieces(text.data(), static_cast<int32_t>(text.size()), visit, &seen), 0);
    EXPECT_FALSE(seen.overlap) << text;
    return seen.out;
}

TEST_F(Syntax, FilesReadAsTheRulesSay)
{
    const struct {
        const char *behaviour;
        std::string text;
        const char *expected;
    } cases[] = {
        {"the game's own file", "[INI]\r\nGAMEDIR=D:\\Game\r\n", "[INI]\nGAMEDIR=D:\\Game\n"},
        {"blank lines and runs of blanks and '=' between name and value",
         "\r\n[Video]\r\n\r\n  Width = 640\r\n\tHeight\t480\r\nDepth == 16\r\nA=B=C\r\n=X\r\nT  B  C  \r\n",
         "[Video]\nWidth=640\nHeight=480\nDepth=16\nA=B=C\n=X\nT=B  C\n"},
        {"both comment kinds; a value cannot hold one",
         "; setup\r\n// do not edit\r\n[INI] ; main\r\nGAMEDIR = D:\\Program Files\\Game   ; old path\r\n"
         "HOME=http://example.com\r\n",
         "[INI]\nGAMEDIR=D:\\Program Files\\Game\nHOME=http:\n"},
        {"headers with trailing text, without ']', with blanks or '=' inside",
         "[INI] 1999\r\nA=1\r\n[Sound\r\nB=2\r\n[ INI ]\r\n[X=Y]\r\n", "[INI]\nA=1\n[Sound]\nB=2\n[ INI ]\n[X]\n"},
        {"keys without values read as empty", "[S]\r\nFLAG\r\nEMPTY=\r\nGONE = ; note\r\nCUT//x\r\n",
         "[S]\nFLAG=\nEMPTY=\nGONE=\nCUT=\n"},
        {"#define in a loaded file is a key; other directives make none",
         "[G]\r\n#define MAX 99\r\n#DEFINE=5\r\n#defineXY A B\r\n#define\r\n#define ;x\r\n#pragma once\r\n# note\r\n",
         "[G]\nMAX=99\n=5\nA=B\n=\n"},
        {"bare LF: the first value runs through the rest", "[S]\nA=1\nB=2\n", "[S]\nA=1\nB=2\n\n"},
        {"bare CR: the rest of the text is one line", "[S]\rA=1\rB=2\r", "[S]\n"},
        {"no final line end", "[S]\r\nLAST=yes", "[S]\nLAST=yes\n"},
        {"empty file", "", ""},
        {"keys before the first header gather under a nameless section",
         "VERSION=2\r\nBUILD 7\r\n[INI]\r\n", "[]\nVERSION=2\nBUILD=7\n[INI]\n"},
    };
    for (const auto &c : cases) {
        cfg_reset();
        EXPECT_EQ(load("case.ini", c.text), 1) << c.behaviour;
        EXPECT_EQ(dump(), c.expected) << c.behaviour;
        EXPECT_EQ(walked(c.text), c.expected) << c.behaviour;
    }
}


// Offsets are from the store's base; only a token's start is bounded by the
// length, the token itself is read up to its CR.
TEST_F(Syntax, TokenizerReportsOffsetsFromBaseAndStartsNoTokenPastLength)
{
    char store[] = "\0\0[S]\r\nKEY = a value past the length\r\nX=1\r\n";
    int32_t position = 0, name = -1, value = -1;
    EXPECT_EQ(cfg_next_token(store + 2, &position, 10, &name, &value, store), CFG_SECTION);
    EXPECT_EQ(std::make_tuple(position, name, value), std::make_tuple(5, 3, 0));
    EXPECT_EQ(cfg_next_token(store + 2, &position, 10, &name, &value, store), CFG_KEY);
    EXPECT_EQ(std::string(store + name) + '|' + (store + value), "KEY|a value past the length");
    EXPECT_EQ(cfg_next_token(store + 2, &position, 10, &name, &value, store), CFG_END);  // X=1 lies beyond
}

// Lengths 1 to 40 put the end of a name or value at every place of the
// blocks that the scans test at once; single slashes inside stay.
TEST_F(Syntax, NamesAndValuesOfAnyLengthEndAlike)
{
    const struct {
        const char *separator;
        const char *ending;
    } forms[] = {{"=", ""}, {" = ", "   "}, {"\t", " ; note"}, {"==", "// note"}, {" ", "\t\t"}};
    std::string text = "[S]\r\n", expected = "[S]\n";
    for (int n = 1; n <= 40; ++n) {
        std::string name(static_cast<size_t>(n), 'k'), value(static_cast<size_t>(n), 'v');
        name[static_cast<size_t>(n) / 2] = '/';
        if (n >= 2) value[static_cast<size_t>(n) - 2] = '/';
        for (const auto &f : forms) {
            text += name + f.separator + value + f.ending + "\r\n";
            expected += name + '=' + value + '\n';
        }
        std::string cut(static_cast<size_t>(n) + 4, 'c');
        cut.replace(static_cast<size_t>(n), 2, "//");
        text += "CUT=" + cut + "\r\n";
        expected += "CUT=" + cut.substr(0, static_cast<size_t>(n)) + '\n';
    }
    ASSERT_EQ(load("long.ini", text), 1);
    EXPECT_EQ(dump(), expected);
}

TEST_F(Syntax, LookupsFindByOccurrenceAndAsciiCaseOnly)
{
    load("dup.ini", "[INI]\r\nPATH=a\r\nPATH=b\r\nEMPTY\r\n[\xa4\x40]\r\n[ini]\r\nPATH=c\r\n"
                    "[\xa6\x41]\r\n[\xa6\x61]\r\n\xa6\x41=first\r\n\xa6\x61=second\r\n");  // 再 and 地 differ in a trail byte
    const int32_t first = cfg_find_section("INI", 1), second = cfg_find_section("ini", 2);
    const int32_t big5 = cfg_find_section("\xa4\x40", 1);
    ASSERT_TRUE(first && second && big5);
    const struct {
        int32_t got, expected;
    } cases[] = {
        {cfg_find_section("INI", 0), first}, {cfg_find_section("INI", INT32_MIN), first},
        {cfg_find_section("INI", 3), 0}, {cfg_find_section("IN", 1), 0},
        {cfg_find_section("\xa4\x60", 1), 0},  // differs from 0x40 in the case bit only
        {cfg_find_section("\xa6\x61", 1), second + 3}, {cfg_count_sections("\xa6\x41", first), 1},
        {cfg_find_next_section("INI", first), second}, {cfg_find_next_section("INI", second), 0},
        {cfg_find_next_section("INI", 0), second},  // starts after record 0
        {cfg_count_sections("INI", first), 2}, {cfg_count_sections(nullptr, first), 5},
        {cfg_count_keys("path", first), 2}, {cfg_count_keys(nullptr, big5), 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].got, cases[i].expected) << "case " << i;

    char dest[16] = "untouched";
    EXPECT_EQ(cfg_get_string("PATH", 3, first, dest), nullptr);
    EXPECT_STREQ(dest, "untouched");
    EXPECT_STREQ(cfg_get_string("path", 2, first, dest), "b");
    EXPECT_STREQ(dest, "b");
    EXPECT_STREQ(cfg_get_string(nullptr, 3, first, nullptr), "");  // EMPTY: an address, not null
    EXPECT_STREQ(cfg_get_string("\xa6\x61", 1, second + 3, nullptr), "second");
    char name[16], value[16];
    EXPECT_EQ(cfg_next_key(cfg_next_key(first, name, value), name, value), first + 2);
    EXPECT_EQ(std::string(name) + '=' + value, "PATH=b");
}

TEST_F(Syntax, HandlesThatNameNoRecordFindNothing)
{
    char buf[8] = "x";
    int32_t out = 7;
    EXPECT_EQ(cfg_find_section(nullptr, 1) + cfg_find_macro(buf, "X"), 0);  // nothing loaded
    load("h.ini", "[A]\r\nK=1\r\n");
    for (const int32_t bad : {0, -1, 3, 1000, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(cfg_get_string(nullptr, 1, bad, buf), nullptr) << bad;
        EXPECT_EQ(cfg_entry_name(bad), nullptr) << bad;
        EXPECT_EQ(cfg_get_int(nullptr, 1, bad, &out) + cfg_next_section(bad, buf) + cfg_next_key(bad, buf, buf) +
                      cfg_count_sections(nullptr, bad) + cfg_count_keys(nullptr, bad) +
                      (bad ? cfg_find_next_section(nullptr, bad) : 0),
                  0)
            << bad;
    }
    EXPECT_STREQ(buf, "x");
    EXPECT_EQ(out, 7);
}

// The opening keys of the first file stay out of reach of a named lookup,
// and the first of them keeps its name although it begins the store.
TEST_F(Syntax, OpeningKeysNeverPassForANamedSection)
{
    load("open.ini", "INI=1\r\nGAMEDIR=wrong\r\n[INI]\r\nGAMEDIR=right\r\n");
    EXPECT_STREQ(cfg_get_string("GAMEDIR", 1, cfg_find_section("INI", 1), nullptr), "right");
    EXPECT_EQ(cfg_count_sections("INI", 1), 1);
    EXPECT_EQ(cfg_find_section("GAMEDIR", 1), 0);
    EXPECT_STREQ(cfg_get_string("INI", 1, cfg_find_section("", 1), nullptr), "1");
}

TEST_F(Syntax, LaterFilesContinueTheChainsAndMissingOnesChangeNothing)
{
    ASSERT_EQ(load("first.ini", "[A]\r\nA1=1\r\n[B]\r\nB1=1\r\n") + load("second.ini", "B2=2\r\n[C]\r\n[A]\r\nA2=2\r\n"), 2);
    const int32_t size = g_cfg.text_size;
    EXPECT_EQ(load("empty.ini", ""), 1);
    EXPECT_EQ(cfg_load("missing.ini") + cfg_load("nowhere\\missing.ini"), 0);
    EXPECT_EQ(g_cfg.text_size, size + 2);  // only the appended line end
    EXPECT_EQ(dump(), "[A]\nA1=1\n[B]\nB1=1\nB2=2\n[C]\n[A]\nA2=2\n");
    cfg_free();
    load("again.ini", "K=2\r\n[B]\r\n");
    EXPECT_EQ(dump(), "[]\nK=2\n[B]\n");
}

}  // namespace
