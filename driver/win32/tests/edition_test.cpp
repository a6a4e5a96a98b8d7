#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "driver/edition.h"

namespace {

// All three editions, from the initializers their programs are built with.
const EditionTexts v106c_texts =
#include "v106c.inc"
    ;
const EditionTexts v106_texts =
#include "v106.inc"
    ;
const EditionTexts v21_texts =
#include "v21.inc"
    ;

const struct Edition {
    const char *id;
    const EditionTexts *texts;
} EDITIONS[] = {{"v106c", &v106c_texts}, {"v106", &v106_texts}, {"v21", &v21_texts}};

const struct Field {
    const char *key;
    const char *EditionTexts::*text;
} TEXTS[] = {
    {"name", &EditionTexts::name},
    {"title", &EditionTexts::title},
    {"question", &EditionTexts::question},
    {"ok", &EditionTexts::ok},
    {"cancel", &EditionTexts::cancel},
    {"browse_prompt", &EditionTexts::browse_prompt},
    {"wrong_folder", &EditionTexts::wrong_folder},
    {"msg_done", &EditionTexts::msg_done},
    {"msg_already_applied", &EditionTexts::msg_already_applied},
    {"msg_newer_installed", &EditionTexts::msg_newer_installed},
    {"msg_wrong_version", &EditionTexts::msg_wrong_version},
    {"msg_game_damaged", &EditionTexts::msg_game_damaged},
    {"msg_payload_damaged", &EditionTexts::msg_payload_damaged},
    {"msg_failed", &EditionTexts::msg_failed},
};

// key -> value of a text table (key, tab, value; a line led by a tab goes on
// after a line feed; '#' starts a comment line), in whatever encoding.
std::map<std::string, std::string> read_table(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << path;
    std::map<std::string, std::string> table;
    std::string line, key;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '\t') {
            table[key] += "\n" + line.substr(1);
            continue;
        }
        const size_t tab = line.find('\t');
        key = line.substr(0, tab);
        table[key] = line.substr(tab + 1);
    }
    return table;
}

std::wstring to_wide(int code_page, const std::string &text)
{
    const int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        wide.data(), n);
    return wide;
}

TEST(EditionTexts, EveryTextIsStoredAsIconvConvertsIt)
{
    for (const Edition &e : EDITIONS) {
        const auto expected = read_table(std::string(KORIN_CONVERTED "/") + e.id + ".converted");
        // Every table entry is a field: two numbers and the texts.
        EXPECT_EQ(expected.size(), std::size(TEXTS) + 2) << e.id;
        for (const Field &f : TEXTS) {
            ASSERT_TRUE(expected.count(f.key)) << e.id << " has no " << f.key;
            const char *stored = e.texts->*f.text;
            ASSERT_NE(stored, nullptr) << e.id << " " << f.key;
            EXPECT_EQ(std::string(stored), expected.at(f.key)) << e.id << " " << f.key;
        }
    }
}

TEST(EditionTexts, WindowsReadsEveryTextBackInTheEditionsCodePage)
{
    for (const Edition &e : EDITIONS) {
        const auto written = read_table(std::string(KORIN_TABLES "/") + e.id + ".txt");
        for (const Field &f : TEXTS) {
            const std::wstring shown = to_wide(e.texts->code_page, e.texts->*f.text);
            EXPECT_FALSE(shown.empty()) << e.id << " " << f.key;
            EXPECT_TRUE(shown == to_wide(CP_UTF8, written.at(f.key))) << e.id << " " << f.key;
        }
    }
}

TEST(EditionTexts, TraditionalEditionsDifferOnlyInNameTitleAndVersion)
{
    for (const Field &f : TEXTS) {
        const std::string a = v106_texts.*f.text, b = v21_texts.*f.text;
        if (f.text == &EditionTexts::name || f.text == &EditionTexts::title) EXPECT_NE(a, b) << f.key;
        else EXPECT_EQ(a, b) << f.key;
    }
    EXPECT_EQ(v106_texts.code_page, v21_texts.code_page);
    EXPECT_NE(v106_texts.expected_pak_size, v21_texts.expected_pak_size);
}

}  // namespace
