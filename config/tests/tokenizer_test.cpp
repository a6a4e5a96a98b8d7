// The tokenizer on its own, over texts that end in CR LF as stored ones do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config.h"

namespace {

// Every token of text (CR LF appended, as loading does), written as
// S[name], K[name] or D[name], with =[value] when there is a value.
std::string tokens(const std::string &text)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\r');
    buffer.push_back('\n');
    const int32_t length = static_cast<int32_t>(buffer.size());
    std::string out;
    int32_t position = 0;
    for (int guard = 0; guard < 1000; ++guard) {
        int32_t name = -1;
        int32_t value = -1;
        const int kind = cfg_next_token(buffer.data(), &position, length, &name, &value, buffer.data());
        if (kind == CFG_END) break;
        if (!out.empty()) out += ' ';
        out += kind == CFG_SECTION ? "S" : kind == CFG_KEY ? "K" : kind == CFG_DIRECTIVE ? "D" : "?";
        out += '[' + std::string(buffer.data() + name) + ']';
        if (value) out += "=[" + std::string(buffer.data() + value) + ']';
    }
    return out;
}

struct TokenCase {
    const char *behaviour;
    std::string text;
    const char *expected;
};

void expect_tokens(const std::vector<TokenCase> &cases)
{
    for (const TokenCase &c : cases) EXPECT_EQ(tokens(c.text), c.expected) << c.behaviour;
}

TEST(Tokenizer, KeyLinesSplitAtTheFirstBlankOrEqualsRun)
{
    expect_tokens({
        {"plain key", "[INI]\r\nGAMEDIR=D:\\Game\r\n", "S[INI] K[GAMEDIR]=[D:\\Game]"},
        {"inner blanks kept, trailing ones and comment dropped",
         "GAMEDIR = D:\\Program Files\\Game   ; old path", "K[GAMEDIR]=[D:\\Program Files\\Game]"},
        {"equals and blank runs are one separator", "A=1\r\nB = 2\r\nC 3\r\nD == 4\r\nE\t=\t5\t",
         "K[A]=[1] K[B]=[2] K[C]=[3] K[D]=[4] K[E]=[5]"},
        {"equals inside the value stay", "A=B=C", "K[A]=[B=C]"},
        {"blank runs inside the value stay", "A  B  C  ", "K[A]=[B  C]"},
        {"line starting with equals has an empty name", "=X", "K[]=[X]"},
        {"key without value", "KEY\r\nK2=\r\nK3 = ; gone\r\nK4//c", "K[KEY] K[K2] K[K3] K[K4]"},
        {"leading blanks are skipped", "   \t KEY=1", "K[KEY]=[1]"},
        {"a double quote is an ordinary byte", "K=\"a b\"", "K[K]=[\"a b\"]"},
        {"a single slash is an ordinary byte", "/K=a/b", "K[/K]=[a/b]"},
        {"a web address is cut before its double slash", "URL=http://example", "K[URL]=[http:]"},
        {"high bytes are ordinary", "\xb9\x43\xc0\xb8=\xa4\x40", "K[\xb9\x43\xc0\xb8]=[\xa4\x40]"},
    });
}

TEST(Tokenizer, CommentsRunToTheLineEnd)
{
    expect_tokens({
        {"semicolon line", "; note\r\nA=1", "K[A]=[1]"},
        {"double slash line", "// note\r\nA=1", "K[A]=[1]"},
        {"comment after a value", "A=1;x\r\nB=2 // y", "K[A]=[1] K[B]=[2]"},
        {"comment holding brackets and equals", "; [S] A=1\r\n", ""},
        {"comment at the very end", "A=1\r\n; last", "K[A]=[1]"},
    });
}

TEST(Tokenizer, SectionHeadersEndAtTheFirstCloser)
{
    expect_tokens({
        {"trailing text ignored", "[INI] more text\r\nA=1", "S[INI] K[A]=[1]"},
        {"missing bracket accepted", "[INI\r\nA=1", "S[INI] K[A]=[1]"},
        {"blanks belong to the name", "[ INI ]", "S[ INI ]"},
        {"equals ends the name", "[A=B]", "S[A]"},
        {"comment ends the name", "[A;x]\r\n[B//y]", "S[A] S[B]"},
        {"empty name", "[]", "S[]"},
        {"duplicates all kept", "[S]\r\n[S]", "S[S] S[S]"},
    });
}

TEST(Tokenizer, DefineIsAKeyLineAndOtherDirectivesAreReported)
{
    expect_tokens({
        {"define", "#define MAXLEVEL 99", "K[MAXLEVEL]=[99]"},
        {"define in any case", "#DeFiNe X  1", "K[X]=[1]"},
        {"define without value", "#define FLAG", "K[FLAG]"},
        {"glued text is passed over", "#defineXYZ A B", "K[A]=[B]"},
        {"define alone is dropped", "#define\r\nA=1", "K[A]=[1]"},
        {"define with blanks only is dropped", "#define   \r\nA=1", "K[A]=[1]"},
        {"equals right after the word starts the key line", "#define=5", "K[]=[5]"},
        {"semicolon right after the word starts the key line", "#define;x", "K[]"},
        {"a comment after define is a nameless key", "#define ;x\r\n#define //y", "K[] K[]"},
        {"define with equals", "#define A=B", "K[A]=[B]"},
        {"include", "#include consts.ini", "D[include]=[consts.ini]"},
        {"include without a name", "#include\r\n#include   ", "D[include] D[include]"},
        {"hash and blank is a comment form", "# some words", "D[]=[some words]"},
        {"unknown directive", "#pragma once", "D[pragma]=[once]"},
        {"defin is no define", "#defin X 1", "D[defin]=[X 1]"},
    });
}

TEST(Tokenizer, OnlyCrEndsNamesAndValues)
{
    expect_tokens({
        {"bare LF: the first value runs through the rest", "[S]\nA=1\nB=2\n", "S[S] K[A]=[1\nB=2\n]"},
        {"bare CR: the rest up to the next LF is skipped", "[S]\rA=1\rB=2\r", "S[S]"},
        {"bare CR after a key", "A=1\rB=2\r", "K[A]=[1]"},
        {"LF inside a header name", "[S\nT]", "S[S\nT]"},
        {"empty text", "", ""},
        {"blank lines only", "\r\n\r\n  \r\n", ""},
    });
}

TEST(Tokenizer, PositionStandsPastTheLineAndStaysAtTheEnd)
{
    char text[] = "A=1\r\n[S]\r\n";
    int32_t position = 0;
    int32_t name = 0;
    int32_t value = 0;
    const int32_t length = static_cast<int32_t>(sizeof text - 1);
    ASSERT_EQ(cfg_next_token(text, &position, length, &name, &value, text), CFG_KEY);
    EXPECT_EQ(position, 5);
    ASSERT_EQ(cfg_next_token(text, &position, length, &name, &value, text), CFG_SECTION);
    EXPECT_EQ(position, length);
    EXPECT_EQ(value, 0);
    ASSERT_EQ(cfg_next_token(text, &position, length, &name, &value, text), CFG_END);
    EXPECT_EQ(position, length);
}

TEST(Tokenizer, OffsetsAreFromTheStoreBase)
{
    char store[] = "\0\0\0\0K=V\r\n";
    int32_t position = 0;
    int32_t name = 0;
    int32_t value = 0;
    ASSERT_EQ(cfg_next_token(store + 4, &position, 5, &name, &value, store), CFG_KEY);
    EXPECT_EQ(name, 4);
    EXPECT_EQ(value, 6);
}

TEST(Tokenizer, NeverStartsATokenAtOrBeyondLength)
{
    char text[] = "A=1\r\nB=2\r\n";
    int32_t name = 0;
    int32_t value = 0;
    int32_t position = 0;
    ASSERT_EQ(cfg_next_token(text, &position, 5, &name, &value, text), CFG_KEY);
    EXPECT_EQ(cfg_next_token(text, &position, 5, &name, &value, text), CFG_END);
    int32_t beyond = 7;
    EXPECT_EQ(cfg_next_token(text, &beyond, 6, &name, &value, text), CFG_END);
    EXPECT_EQ(beyond, 7);
}

}  // namespace
