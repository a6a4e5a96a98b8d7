#include <algorithm>
#include <random>

#include "archive/tests/fixture.h"

namespace {

using Lookup = ArchiveTest;

int match(const std::string &pattern, const std::string &name, char fill = 0)
{
    char field[40];
    std::memset(field, fill, sizeof field);
    std::memcpy(field, name.c_str(), std::min<size_t>(name.size() + 1, 40));
    return wild_match(pattern.c_str(), field, 40);
}

TEST(WildMatch, Rules)
{
    const std::string name39(39, 'N');
    const struct { std::string pattern, name; bool matches; char fill = 0; } cases[] = {
        {"*.TXT", "README", true},  // the name ends inside the star
        {"*.TXT", "a.b.txt", false}, {"*.TXT", "dir\\a.txt", false},  // star stops at the first '.', not at '\'
        {"*.*", "a.b.c", true}, {"*", "dir\\a.txt", true}, {"A*Z.TXT", "abc.txt", true},  // text between '*' and '.' is ignored
        {"A?C", "abc", true}, {"AB", "ABC", false}, {"ABC", "AB", false}, {"AB?", "AB", true},
        {"AB?", "AB", false, 'X'},  // '?' reads the bytes behind the terminator
        {"\xA5\x5C", "\xA5\x5C", true}, {"\xA5\x5C", "\xA5\x7C", false}, {"", "", true}, {"", "A", false},
        // Both bytes of a double-byte character match exactly: 再 (A6 41) is not 地 (A6 61),
        // and the trail byte of 功 (A5 5C) is no backslash for a star.
        {"\xA6\x41", "\xA6\x61", false}, {"\xA6\x41.TXT", "\xA6\x41.txt", true}, {"*.TXT", "\xA5\x5C.txt", true},
        {name39 + "?MORE", name39, true},  // 40 name bytes consumed is a match
        {"*.TXT", std::string(40, 'A'), true}, {std::string(41, 'A'), std::string(40, 'A'), true},  // no terminator
    };
    for (const auto &c : cases) EXPECT_EQ(match(c.pattern, c.name, c.fill), c.matches ? 0 : -1) << c.pattern << " / " << c.name;
}

TEST_F(Lookup, FirstByteRoutesAndTheSwitchStripsThePrefix)
{
    ASSERT_EQ(mount(archive_of({pk::raw_entry("#:\\Korin3.EXE", "exe"), pk::raw_entry("#Data", "data")})), 0);
    EXPECT_EQ(slot_for_name("Korin3.EXE"), -1);
    EXPECT_EQ(read_all("#:\\korin3.exe"), "exe");
    EXPECT_EQ(read_all("#Data"), "data") << "no colon needed";
    const struct { const char *name, *on; } strips[] = {
        {"#:\\Korin3.EXE", "Korin3.EXE"}, {"#:Korin3.EXE", "Korin3.EXE"}, {"#:\\\\Korin3.EXE", "\\Korin3.EXE"},
        {"#:", "#:"}, {"#x\\A", "#x\\A"}};
    for (const auto &s : strips) {
        vfs_set_drive_strip(0);
        EXPECT_STREQ(strip_drive(s.name), s.name);
        vfs_set_drive_strip(1);
        EXPECT_STREQ(strip_drive(s.name), s.on);
    }
}

TEST_F(Lookup, LastMountedArchiveWinsAndEarlierOnesStillServe)
{
    pk::Archive first = archive_of({pk::raw_entry("Update07.txt", "first"), pk::raw_entry("Only.txt", "only"), pk::free_entry("Freed.txt")});
    pk::Archive second = archive_of({pk::raw_entry("Update07.txt", "second")});
    first.first_drive = first.last_drive = second.first_drive = '@';
    second.last_drive = 'A';
    ASSERT_EQ(mount(first, "1.pak"), 0);
    ASSERT_EQ(mount(second, "2.pak"), 1);
    vfs_set_drive_strip(1);
    EXPECT_EQ(read_all("@:\\Update07.txt"), "second");
    EXPECT_EQ(read_all("@:\\Only.txt"), "only");
    EXPECT_EQ(read_all("A:\\Only.txt"), "<none>") << "only the second archive serves 'A'";
    EXPECT_EQ(read_all("@:\\"), "<none>") << "the empty name of a free record is not found";
    EXPECT_EQ(read_all("@:\\Missing.txt"), "<none>") << "never tried on disk";
}

TEST_F(Lookup, NameFillingItsWholeFieldIsCutTo39Characters)
{
    ASSERT_EQ(mount(archive_of({pk::raw_entry("#:\\" + std::string(37, 'X'), "full")})), 0);
    EXPECT_EQ(read_all("#:\\" + std::string(40, 'X')), "<none>");
    EXPECT_EQ(read_all("#:\\" + std::string(36, 'X')), "full");
}

// Names that share long prefixes (so that every 8-byte chunk decides some
// order), differ in case, hold double-byte characters whose trail bytes look
// like letters or '\', repeat, and carry bytes behind their terminator.
std::string random_name(std::mt19937 &rng)
{
    static const char *const prefixes[] = {"#", "#:\\", "#:\\Data\\Maps\\", "#:\\DATA\\maps\\Level", "#:\\data\\MAPS\\level0"};
    static const char *const pieces[] = {"a", "A", "z", "Z", "[", "`", "\\", ".", "0", "9", "\xA6\x41", "\xA6\x61",
                                         "\xA6\x5C", "\x81\x40", "\xFE\xFE", "\x80", "\xFF", "~"};
    std::string name = prefixes[rng() % 5];
    const size_t length = rng() % 28;
    while (name.size() < length + 4) name += pieces[rng() % 18];
    return name.substr(0, 39);
}

TEST_F(Lookup, TheIndexOrdersAsAStableSortByNameAndLookupsFindTheNewestArchivesEntry)
{
    std::mt19937 rng(7);
    std::vector<Names> mounted;
    for (const int count : {2, 3, 47, 48, 49, 300, 2500}) {
        pk::Archive a;
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back(rng() % 8 == 0 && !names.empty() ? names[rng() % names.size()] : random_name(rng));
            pk::Entry e = pk::raw_entry(names.back(), std::to_string(mounted.size()) + "/" + std::to_string(i));
            e.name_fill = static_cast<uint8_t>(rng() % 3 ? 0 : 'Q');  // bytes behind the end do not count
            e.free = rng() % 16 == 0;
            a.entries.push_back(e);
        }
        const int s = mount(a, std::to_string(count) + ".pak");
        ASSERT_EQ(s, static_cast<int>(mounted.size()));
        const ArchiveSlot &sl = slot(s);
        ASSERT_NE(sl.sorted_index, nullptr);
        std::vector<int32_t> expected(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) expected[static_cast<size_t>(i)] = i;
        std::stable_sort(expected.begin(), expected.end(), [&](int32_t x, int32_t y) {
            return name_order(sl.directory[x].name, sl.directory[y].name) < 0;
        });
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), sl.sorted_index)) << count << " entries";
        mounted.push_back(names);
    }

    // Every name, in another case, is served by the newest archive that holds
    // it live, from one of its entries of that name.
    for (size_t m = 0; m < mounted.size(); ++m)
        for (const std::string &name : mounted[m]) {
            std::string asked = name;
            for (char &c : asked)
                if (c >= 'a' && c <= 'z' && rng() % 2) c = static_cast<char>(c - 32);
            std::string expected = "<none>";
            for (int s = static_cast<int>(mounted.size()) - 1; s >= 0 && expected == "<none>"; --s) {
                const ArchiveSlot &sl = slot(s);
                for (int i = 0; i < sl.entry_count; ++i)
                    if (sl.directory[i].data_offset != 0 && name_order(sl.directory[i].name, asked.c_str()) == 0)
                        expected = std::to_string(s);
            }
            const std::string got = read_all(asked);
            EXPECT_EQ(got.substr(0, got.find('/')), expected) << asked;
        }
}

TEST_F(Lookup, ExactLookupsWithAndWithoutTheIndex)
{
    pk::Archive a;
    for (int i = 49; i >= 0; --i)  // unsorted, mixed case
        a.entries.push_back(pk::raw_entry("#:\\" + std::string(i % 2 ? "file" : "FILE") + std::to_string(i), std::to_string(i)));
    a.entries.push_back(pk::raw_entry("#:\\\xA6\x61", "earth"));  // 地, then 再: they differ in a trail byte only
    a.entries.push_back(pk::raw_entry("#:\\\xA6\x41", "again"));
    a.entries.push_back(pk::raw_entry("#:\\DUP", "older"));
    a.entries.push_back(pk::raw_entry("#:\\DUP", "newer"));
    const std::string copy = tmp.write("b.pak", pk::build(a));
    auto all_found = [] {
        for (int i = 0; i < 50; ++i)
            if (read_all("#:\\File" + std::to_string(i)) != std::to_string(i)) return false;
        return read_all("#:\\\xA6\x61") == "earth" && read_all("#:\\\xA6\x41") == "again" && read_all("#:\\ZZZ") == "<none>";
    };
    ASSERT_EQ(mount(a, "a.pak", 2), 0);
    ASSERT_NE(slot(0).sorted_index, nullptr);
    EXPECT_TRUE(all_found()) << "binary search";
    EXPECT_EQ(read_all("#:\\FILE*"), "<none>") << "the index compares whole names";

    int s = -1;  // the first allocation failure that still mounts is the index's
    for (long n = 1; s == -1 && n < 20; ++n) {
        fault_arm(FAULT_ALLOC, n, false);
        s = vfs_mount(copy.c_str(), 0);
        fault_disarm();
    }
    ASSERT_EQ(s, 1);
    ASSERT_EQ(slot(1).sorted_index, nullptr);
    EXPECT_TRUE(all_found()) << "scan";
    vfs_unmount(1);

    vfs_close(vfs_create("#:\\EXTRA", 0));  // drops the index
    EXPECT_EQ(slot(0).sorted_index, nullptr);
    EXPECT_TRUE(all_found()) << "scan after a change";
    EXPECT_EQ(read_all("#:\\DUP"), "newer") << "the scan prefers the entry nearest the end";
    slot(0).directory[53].data_offset = 0;
    EXPECT_EQ(read_all("#:\\DUP"), "older") << "a freed entry is skipped";
    EXPECT_EQ(read_all("#:\\FILE4?"), "4") << "the scan takes wildcards; '?' also matches the end";
}

}  // namespace
