#include <cstring>

#include "archive/tests/fixture.h"

namespace {

using Lookup = ArchiveTest;

int match(const char *pattern, const char *name, char fill = 0)
{
    char field[40];
    std::memset(field, fill, sizeof field);
    std::memcpy(field, name, std::strlen(name) + 1);
    return wild_match(pattern, field, 40);
}

TEST(WildMatch, Rules)
{
    const std::string name39(39, 'N');
    const struct {
        const char *pattern, *name;
        bool matches;
    } cases[] = {
        {"*.TXT", "a.txt", true},         {"*.TXT", "README", true},  // the name ends inside the star
        {"*.TXT", "a.b.txt", false},      {"*.TXT", "dir\\a.txt", false},  // star stops at the first '.', not at '\'
        {"*.*", "a.b.c", true},           {"*.*", "README", true},
        {"*", "dir\\a.txt", true},        {"A*Z.TXT", "abc.txt", true},  // text between '*' and '.' is ignored
        {"A?C", "abc", true},             {"AB", "ABC", false},
        {"ABC", "AB", false},             {"AB?", "AB", true},
        {"readme", "README", true},       {"#:\\K*.EXE", "#:\\Korin3.EXE", true},
        {"\xA5\x5C", "\xA5\x5C", true},   {"\xA5\x5C", "\xA5\x7C", false},
        {"", "", true},                   {"", "A", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(match(c.pattern, c.name), c.matches ? 0 : -1) << c.pattern << " / " << c.name;
    EXPECT_EQ(match("AB?", "AB", 'X'), -1) << "'?' reads the bytes behind the terminator";
    EXPECT_EQ(match((name39 + "?MORE").c_str(), name39.c_str()), 0) << "40 name bytes consumed is a match";
    const std::vector<char> full(40, 'A');  // a field without a terminator is read no further
    EXPECT_EQ(wild_match("*.TXT", full.data(), 40), 0);
    EXPECT_EQ(wild_match(std::string(41, 'A').c_str(), full.data(), 40), 0);
}

int g_comparisons;
int compare_int(const void *key, int i, void *context)
{
    ++g_comparisons;
    const int k = *static_cast<const int *>(key), v = static_cast<const int *>(context)[i];
    return k < v ? -1 : k > v;
}

TEST(BinarySearch, FindsEveryElementAndNothingElse)
{
    std::vector<int> values;
    for (int count = 0; count <= 130; ++count) {
        for (int k = -1; k <= 2 * count; ++k) {
            g_comparisons = 0;
            const int expected = k >= 0 && k % 2 == 0 && k / 2 < count ? k / 2 : -1;
            ASSERT_EQ(binary_search(&k, count, compare_int, values.data()), expected) << count << " " << k;
            ASSERT_LE(g_comparisons, 10) << count << " " << k;
        }
        values.push_back(2 * count);
    }
    int key = 0, one = 0;
    g_comparisons = 0;
    EXPECT_EQ(binary_search(&key, 0, compare_int, nullptr), -1);
    EXPECT_EQ(g_comparisons, 0);
    EXPECT_EQ(binary_search(&key, 1, compare_int, &one), 0);
    EXPECT_EQ(g_comparisons, 1);
}

TEST_F(Lookup, FirstByteRoutesAndTheSwitchStripsThePrefix)
{
    pk::Archive a;
    a.entries = {pk::raw_entry("#:\\Korin3.EXE", "exe"), pk::raw_entry("#Data", "data")};
    ASSERT_EQ(mount(a), 0);
    EXPECT_EQ(slot_for_name("#:\\korin3.exe"), 0);
    EXPECT_EQ(slot_for_name("Korin3.EXE"), -1);
    EXPECT_EQ(read_all("#:\\korin3.exe"), "exe");
    EXPECT_EQ(read_all("#Data"), "data") << "no colon needed";

    const struct {
        const char *name, *off, *on;
    } strips[] = {{"#:\\Korin3.EXE", "#:\\Korin3.EXE", "Korin3.EXE"},
                  {"#:Korin3.EXE", "#:Korin3.EXE", "Korin3.EXE"},
                  {"#:\\\\Korin3.EXE", "#:\\\\Korin3.EXE", "\\Korin3.EXE"},
                  {"#:", "#:", "#:"},
                  {"#x\\A", "#x\\A", "#x\\A"}};
    for (const auto &s : strips) {
        vfs_set_drive_strip(0);
        EXPECT_STREQ(strip_drive(s.name), s.off);
        vfs_set_drive_strip(1);
        EXPECT_STREQ(strip_drive(s.name), s.on);
    }
}

TEST_F(Lookup, LastMountedArchiveWinsAndEarlierOnesStillServe)
{
    pk::Archive first, second;
    first.first_drive = first.last_drive = second.first_drive = '@';
    second.last_drive = 'A';
    first.entries = {pk::raw_entry("Update07.txt", "first"), pk::raw_entry("Only.txt", "only"),
                     pk::free_entry("Freed.txt")};
    second.entries = {pk::raw_entry("Update07.txt", "second")};
    ASSERT_EQ(mount(first, "1.pak"), 0);
    ASSERT_EQ(mount(second, "2.pak"), 1);
    vfs_set_drive_strip(1);
    EXPECT_EQ(read_all("@:\\Update07.txt"), "second");
    EXPECT_EQ(read_all("@:\\Only.txt"), "only");
    EXPECT_EQ(read_all("A:\\Only.txt"), "<none>") << "only the second archive serves 'A'";
    EXPECT_EQ(read_all("@:\\Missing.txt"), "<none>");
    EXPECT_EQ(read_all("@:\\"), "<none>") << "the empty name of a free record is not found";
    EXPECT_EQ(vfs_open("@:\\Missing.txt", 0), -1) << "never tried on disk";
}

TEST_F(Lookup, NameFillingItsWholeFieldIsCutTo39Characters)
{
    pk::Archive a;
    a.entries = {pk::raw_entry("#:\\" + std::string(37, 'X'), "full")};  // no terminator in the field
    ASSERT_EQ(mount(a), 0);
    EXPECT_EQ(read_all("#:\\" + std::string(40, 'X')), "<none>");
    EXPECT_EQ(read_all("#:\\" + std::string(36, 'X')), "full");
}

TEST_F(Lookup, ExactLookupsWithAndWithoutTheIndex)
{
    pk::Archive a;
    for (int i = 49; i >= 0; --i)  // unsorted, mixed case
        a.entries.push_back(pk::raw_entry("#:\\" + std::string(i % 2 ? "file" : "FILE") + std::to_string(i),
                                          std::to_string(i)));
    a.entries.push_back(pk::raw_entry("#:\\DUP", "older"));
    a.entries.push_back(pk::raw_entry("#:\\DUP", "newer"));
    const std::string path = tmp.write("a.pak", pk::build(a)), copy = tmp.write("b.pak", pk::build(a));
    auto all_found = [] {
        for (int i = 0; i < 50; ++i)
            if (read_all("#:\\File" + std::to_string(i)) != std::to_string(i)) return false;
        return read_all("#:\\ZZZ") == "<none>";
    };

    ASSERT_EQ(vfs_mount(path.c_str(), 2), 0);
    ASSERT_NE(slot(0).sorted_index, nullptr);
    EXPECT_TRUE(all_found()) << "binary search";
    EXPECT_EQ(read_all("#:\\FILE*"), "<none>") << "the index compares whole names";

    // The first allocation failure that still mounts is the index's.
    int s = -1;
    for (long n = 1; s == -1 && n < 20; ++n) {
        fault_arm(FAULT_ALLOC, n, false);
        s = vfs_mount(copy.c_str(), 0);
        fault_disarm();
    }
    ASSERT_EQ(s, 1);
    ASSERT_EQ(slot(1).sorted_index, nullptr);
    EXPECT_TRUE(all_found()) << "scan";
    vfs_unmount(1);

    const int h = vfs_create("#:\\EXTRA", 0);  // drops the index
    vfs_close(h);
    EXPECT_EQ(slot(0).sorted_index, nullptr);
    EXPECT_TRUE(all_found()) << "scan after a change";
    EXPECT_EQ(read_all("#:\\DUP"), "newer") << "the scan prefers the entry nearest the end";
    slot(0).directory[51].data_offset = 0;
    EXPECT_EQ(read_all("#:\\DUP"), "older") << "a freed entry is skipped";
    EXPECT_EQ(read_all("#:\\FILE4?"), "4") << "the scan takes wildcards; '?' also matches the end";
}

}  // namespace
