#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "driver/edition.h"

namespace {

// Every edition, from the initializers its program is built with.
const struct {
    const char *id, *program;
    EditionTexts texts;
} EDITIONS[] = {
#include "editions.inc"
};

#define FIELD(member) {#member, &EditionTexts::member}
const struct {
    const char *key;
    const char *EditionTexts::*text;
} TEXTS[] = {
    FIELD(name), FIELD(title), FIELD(question), FIELD(ok), FIELD(cancel), FIELD(browse_prompt), FIELD(wrong_folder),
    FIELD(msg_done), FIELD(msg_already_applied), FIELD(msg_newer_installed), FIELD(msg_wrong_version),
    FIELD(msg_game_damaged), FIELD(msg_payload_damaged), FIELD(msg_failed),
};
#undef FIELD

// key -> value of a text table in whatever encoding: key, tab, value; a line
// led by a tab goes on after a line feed; '#' starts a comment line.
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
        } else {
            key = line.substr(0, line.find('\t'));
            table[key] = line.substr(key.size() + 1);
        }
    }
    return table;
}

std::wstring decoded(int code_page, const std::string &text)
{
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(text.size()), wide.data(), wide.size()));
    return wide;
}

TEST(EditionTexts, EveryTextIsStoredAsIconvConvertsItAndWindowsReadsItBack)
{
    for (const auto &[id, program, edition_texts] : EDITIONS) {
        const EditionTexts *texts = &edition_texts;
        const auto converted = read_table(std::string(KORIN_CONVERTED "/") + id + ".converted");
        const auto written = read_table(std::string(KORIN_TABLES "/") + id + ".txt");
        EXPECT_EQ(converted.size(), std::size(TEXTS) + 2) << id;  // the texts and two numbers
        for (const auto &t : TEXTS) {
            ASSERT_TRUE(converted.count(t.key) && texts->*t.text) << id << " " << t.key;
            const std::string stored = texts->*t.text;
            EXPECT_EQ(stored, converted.at(t.key)) << id << " " << t.key;
            const std::wstring shown = decoded(texts->code_page, stored);
            EXPECT_TRUE(!shown.empty() && shown == decoded(CP_UTF8, written.at(t.key)))
                << id << " " << t.key << " in code page " << texts->code_page;
        }
    }
}

}  // namespace
