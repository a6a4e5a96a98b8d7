#include <set>

#include "platform/tests/scratch.h"

namespace {

using Names = std::set<std::string>;

class Search : public Scratch {
protected:
    // Every name the search reports; the search has ended after it.
    Names list(const std::string &pattern, uint32_t mask, std::string *first = nullptr)
    {
        Names names;
        char name[260];
        for (int r = disk_find_first(at(pattern).c_str(), mask, name); r == 0; r = disk_find_next(name)) {
            if (first && names.empty()) *first = name;
            names.insert(name);
        }
        EXPECT_STREQ(name, "");
        return names;
    }
};

TEST_F(Search, WildcardsIgnoreCaseOfLetters)
{
    const Names all{"a.txt", "B.TXT", "readme", "x.tar.gz", "ab", "abc.t"};
    for (const auto &name : all) put(name, "");
    const struct { const char *pattern; Names expected; } rows[] = {
        {"*.TxT", {"a.txt", "B.TXT"}}, {"?.txt", {"a.txt", "B.TXT"}}, {"A*", {"a.txt", "ab", "abc.t"}},
        {"*T", {"a.txt", "B.TXT", "abc.t"}}, {"*.*", all}, {"*", all}, {"README", {"readme"}},
        {"x.*.gz", {"x.tar.gz"}}, {"*b*.t", {"abc.t"}}, {"ab.*", {"ab"}}, {"?b", {"ab"}}, {"nothing*", {}},
    };
    for (const auto &row : rows) EXPECT_EQ(list(row.pattern, FILE_ATTR_NORMAL), row.expected) << row.pattern;
}

// An entry is reported when its attributes share a bit with the mask.
TEST_F(Search, MaskSharesABitWithTheEntry)
{
    put("plain", "");
    put("locked", "");
    ASSERT_EQ(disk_set_attributes(at("locked").c_str(), FILE_ATTR_READONLY), 0);
    fs::create_directory(host("sub"));
    // Windows and the POSIX layer report a file made read-only as 0x01 alone; Wine keeps its archive bit.
    const Names archived = running_under_wine() ? Names{"plain", "locked"} : Names{"plain"};
    const struct { uint32_t mask; Names expected; } rows[] = {
        {FILE_ATTR_NORMAL, archived}, {FILE_ATTR_ARCHIVE, archived}, {FILE_ATTR_READONLY, {"locked"}},
        {FILE_ATTR_DIRECTORY, {".", "..", "sub"}},
        {FILE_ATTR_DIRECTORY | FILE_ATTR_ARCHIVE | FILE_ATTR_READONLY, {".", "..", "sub", "plain", "locked"}}, {0, {}},
    };
    for (const auto &row : rows) EXPECT_EQ(list("*", row.mask), row.expected) << row.mask;
    std::string first;
    list("*", FILE_ATTR_DIRECTORY, &first);
    EXPECT_EQ(first, ".");
}

TEST_F(Search, EndedOrMissingSearchReportsNothing)
{
    put("f", "");
    put("g", "");
    char name[260] = "junk";
    EXPECT_EQ(disk_find_next(name), -1);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(disk_find_first(at("missing\\*").c_str(), FILE_ATTR_NORMAL, name), -1);
    // A new search replaces one still running; a reset ends it.
    EXPECT_EQ(disk_find_first(at("*").c_str(), FILE_ATTR_NORMAL, name), 0);
    EXPECT_EQ(disk_find_first(at("g").c_str(), FILE_ATTR_NORMAL, name), 0);
    EXPECT_STREQ(name, "g");
    EXPECT_EQ(disk_find_next(name), -1);
    EXPECT_EQ(disk_find_next(name), -1);
    EXPECT_EQ(disk_find_first(at("*").c_str(), FILE_ATTR_NORMAL, name), 0);
    platform_reset();
    EXPECT_EQ(disk_find_next(name), -1);
}

}  // namespace
