// The end-to-end driver's entry:
//   e2e_driver [gtest options] --edition ID DELIVERABLE TEXTS SIGNED_COPY ...
// TEXTS is the edition's table converted to its code page: one item a line,
// key, a tab, the value; a line that starts with a tab continues the value
// above after a line feed; '#' starts a comment line.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/e2e/editions.h"
#include "tests/e2e/game.h"

namespace e2e {

namespace {

std::vector<Edition> editions;

std::map<std::string, std::string> parse_table(const std::string &text)
{
    std::map<std::string, std::string> table;
    std::string last;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '\t') {
            if (!last.empty()) table[last] += "\n" + line.substr(1);
            continue;
        }
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        last = line.substr(0, tab);
        table[last] = line.substr(tab + 1);
    }
    return table;
}

bool load(Edition &edition, const std::string &texts)
{
    const auto bytes = read_file(texts);
    if (!bytes) return false;
    edition.table = parse_table(std::string(bytes->begin(), bytes->end()));
    edition.code_page = std::atoi(edition.table["code_page"].c_str());
    edition.pak_size = static_cast<uint32_t>(std::strtoul(edition.table["expected_pak_size"].c_str(), nullptr, 0));
    return edition.code_page != 0 && edition.pak_size != 0;
}

}  // namespace

void PrintTo(const Text &text, std::ostream *out)
{
    const std::string &b = text.bytes;
    std::wstring wide(b.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, b.data(), static_cast<int>(b.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    std::string utf8(wide.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                                    static_cast<int>(utf8.size()), nullptr, nullptr));
    *out << '"' << utf8 << '"';
}

void PrintTo(const Edition *edition, std::ostream *out) { *out << edition->id; }

Text Edition::text(const std::string &key) const
{
    const auto found = table.find(key);
    if (found == table.end()) {
        ADD_FAILURE() << id << ": no text " << key;
        return {};
    }
    return {found->second};
}

const std::vector<Edition> &all_editions() { return editions; }

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
    // The editions come first: the parameterised tests are made from them
    // when GoogleTest starts.
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest", 7) == 0) continue;
        if (std::strcmp(argv[i], "--edition") || i + 4 >= argc) {
            std::fprintf(stderr, "usage: e2e_driver --edition ID DELIVERABLE TEXTS SIGNED_COPY ...\n");
            return 2;
        }
        e2e::Edition edition;
        edition.id = argv[i + 1];
        edition.deliverable = argv[i + 2];
        edition.signed_copy = argv[i + 4];
        if (!e2e::load(edition, argv[i + 3])) {
            std::fprintf(stderr, "e2e_driver: %s: no code page or size in %s\n", argv[i + 1], argv[i + 3]);
            return 2;
        }
        e2e::editions.push_back(edition);
        i += 4;
    }
    if (e2e::testable_editions().empty()) {
        std::fprintf(stderr, "e2e_driver: no edition of code page %u given\n", GetACP());
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
