// e2e_driver [gtest options] --edition ID DELIVERABLE TEXTS SIGNED_COPY PAYLOAD_FOLDER LARGE LARGE_PAYLOAD ...
// LARGE is the deliverable over a payload large enough to be ended midway.
// TEXTS is the edition's table in its code page: key, a tab, the value; a
// line starting with a tab continues the value above after a line feed;
// '#' starts a comment.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/e2e/desktop.h"
#include "tests/e2e/game.h"

namespace e2e {
namespace {

std::vector<Edition> editions;

bool load(Edition &edition, const std::string &texts)
{
    const auto bytes = read_file(texts);
    if (!bytes) return false;
    std::string last, line;
    for (size_t at = 0, end; at < bytes->size(); at = end + 1) {
        end = static_cast<size_t>(std::find(bytes->begin() + at, bytes->end(), '\n') - bytes->begin());
        line.assign(bytes->begin() + at, bytes->begin() + end);
        const size_t tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
        if (tab == 0 && !last.empty()) edition.table[last] += "\n" + line.substr(1);
        if (tab != 0) edition.table[last = line.substr(0, tab)] = line.substr(tab + 1);
    }
    edition.code_page = std::atoi(edition.table["code_page"].c_str());
    edition.pak_size = static_cast<uint32_t>(std::strtoul(edition.table["expected_pak_size"].c_str(), nullptr, 0));
    return edition.code_page != 0 && edition.pak_size != 0;
}

}  // namespace

void PrintTo(const Text &text, std::ostream *out) { *out << '"' << utf8(text.bytes) << '"'; }

void PrintTo(const Edition *edition, std::ostream *out) { *out << edition->id; }

Text Edition::text(const std::string &key) const
{
    const auto found = table.find(key);
    if (found == table.end()) ADD_FAILURE() << id << ": no text " << key;
    return {found == table.end() ? std::string() : found->second};
}

std::wstring Edition::wide(const std::string &key) const
{
    const std::string bytes = text(key).bytes;
    std::wstring out(bytes.size(), L'\0');
    out.resize(static_cast<size_t>(MultiByteToWideChar(static_cast<UINT>(code_page), MB_ERR_INVALID_CHARS, bytes.data(),
                                                       static_cast<int>(bytes.size()), out.data(),
                                                       static_cast<int>(out.size()))));
    if (out.empty()) ADD_FAILURE() << id << ": " << key << " does not read in code page " << code_page;
    return out;
}

const std::vector<Edition> &all_editions() { return editions; }

std::vector<const Edition *> foreign_editions()
{
    std::vector<const Edition *> theirs;
    for (const Edition &e : editions)
        if (e.code_page != static_cast<int>(GetACP())) theirs.push_back(&e);
    return theirs;
}

std::vector<const Edition *> testable_editions()
{
    std::vector<const Edition *> mine;
    for (const Edition &e : editions)
        if (e.code_page == static_cast<int>(GetACP())) mine.push_back(&e);
    return mine;
}

}  // namespace e2e

int main(int argc, char **argv)
{
    // Before GoogleTest starts: the parameterised tests are made from the editions.
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest", 7) == 0) continue;
        if (std::strcmp(argv[i], "--edition") || i + 7 >= argc) {
            std::fprintf(stderr, "usage: e2e_driver --edition ID DELIVERABLE TEXTS SIGNED_COPY PAYLOAD_FOLDER LARGE "
                                 "LARGE_PAYLOAD ...\n");
            return 2;
        }
        e2e::Edition edition{argv[i + 1], argv[i + 2], argv[i + 4], argv[i + 5], argv[i + 6], argv[i + 7], 0, 0, {}};
        if (!e2e::load(edition, argv[i + 3])) {
            std::fprintf(stderr, "e2e_driver: %s: no code page or size in %s\n", argv[i + 1], argv[i + 3]);
            return 2;
        }
        e2e::editions.push_back(edition);
        i += 7;
    }
    // Only an English system (1252, run.sh) is foreign to every edition.
    if (e2e::testable_editions().empty() && GetACP() != 1252) {
        std::fprintf(stderr, "e2e_driver: no edition of code page %u given\n", GetACP());
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
