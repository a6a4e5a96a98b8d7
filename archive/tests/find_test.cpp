#include <algorithm>

#include "archive/tests/fixture.h"

namespace {

using Find = ArchiveTest;

pk::Archive holding(std::initializer_list<const char *> names, char drive = '#')
{
    pk::Archive a;
    for (const char *n : names) a.entries.push_back(pk::raw_entry(n, n));
    a.first_drive = a.last_drive = drive;
    return a;
}

TEST_F(Find, LastMountedFirstAndEachDirectoryFromItsEnd)
{
    pk::Archive first = holding({"#:\\A.TXT", "#:\\GONE.TXT", "#:\\B.TXT"});
    first.entries[1].free = true;
    ASSERT_EQ(mount(first, "1.pak"), 0);
    ASSERT_EQ(mount(holding({"#:\\C.TXT", "#:\\D.DAT"}), "2.pak"), 1);
    char out[260];
    EXPECT_EQ(vfs_find_next(out), -1) << "before any search";
    EXPECT_EQ(find_all("#:\\*.TXT"), (Names{"C.TXT", "B.TXT", "A.TXT"}));
    EXPECT_EQ(vfs_find_next(out), -1) << "an exhausted enumeration stays exhausted";
    EXPECT_EQ(find_all("#:\\*.TXT", 0x80, true), (Names{"#:\\C.TXT", "#:\\B.TXT", "#:\\A.TXT"}));
    EXPECT_EQ(find_all("#:\\*.TXT", 0x01), (Names{"C.TXT", "B.TXT", "A.TXT"})) << "only the folder bit counts";
    EXPECT_EQ(find_all("#:\\*.TXT", 0x10), Names{});
}

TEST_F(Find, MarkerProbeWithTheSwitchOn)
{
    ASSERT_EQ(mount(holding({"Update07.txt", "data\\x.bin"}, '@')), 0);
    vfs_set_drive_strip(1);
    char out[260] = "untouched";
    EXPECT_EQ(vfs_find_first("@:\\Update06.txt", 0x80, out), -1);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(find_all("@:\\Update07.txt"), Names{"Update07.txt"});
    EXPECT_EQ(find_all("@:\\data\\*.bin"), Names{"x.bin"}) << "the pattern's folder is cut from the name";
    EXPECT_EQ(find_all("@:\\data\\*.bin", 0x80, true), Names{"@:\\data\\x.bin"});
}

TEST_F(Find, DiskPatternsGoToTheDiskSearch)
{
    ASSERT_EQ(mount(holding({"#:\\A.TXT"})), 0);
    tmp.write("one.txt", pk::bytes_of("1"));
    tmp.write("two.txt", pk::bytes_of("2"));
    auto system_name = [](std::string s) { return std::replace(s.begin(), s.end(), '/', '\\'), s; };
    const std::string pattern = system_name(tmp.file("*.txt")), dir = system_name(tmp.file(""));
    Names names = find_all(pattern);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Names{"one.txt", "two.txt"}));
    names = find_all(pattern, 0x80, true);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].substr(0, dir.size()), dir);
}

TEST_F(Find, EnumerationSurvivesGrowthButNotItsArchive)
{
    const std::string path = tmp.write("a.pak", pk::build(holding({"#:\\A.TXT", "#:\\B.TXT", "#:\\C.TXT"})));
    ASSERT_EQ(vfs_mount(path.c_str(), 2), 0);
    char out[260];
    ASSERT_EQ(vfs_find_first("#:\\*.TXT", 0x80, out), 0);
    for (int i = 0; i < 70; ++i) vfs_close(vfs_create(("#:\\N" + std::to_string(i) + ".DAT").c_str(), 0));
    ASSERT_EQ(vfs_find_next(out), 0);
    EXPECT_STREQ(out, "B.TXT");

    vfs_unmount(0);
    ASSERT_EQ(vfs_mount(path.c_str(), 0), 0);
    EXPECT_EQ(vfs_find_next(out), -1) << "the cursor's archive is gone";
    ASSERT_EQ(vfs_find_first("#:\\C*", 0x80, out), 0);
    EXPECT_EQ(vfs_find_first("#:\\*.TXT", 0x10, out), -1);
    EXPECT_EQ(vfs_find_next(out), -1) << "a refused search does not continue the one before";
}

TEST_F(Find, ResultsNeverReachBeyondTheName)
{
    // '?' matches the terminator and a match stops after 40 bytes, so the
    // pattern's folder part can be longer than the name it matched.
    const std::string name = "#:\\" + std::string(36, 'x');
    ASSERT_EQ(mount(holding({name.c_str()})), 0);
    char out[260];
    EXPECT_EQ(vfs_find_first((name + "?\\*").c_str(), 0x80, out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(vfs_find_first_path(("#:\\" + std::string(300, '?')).c_str(), 0x80, out), -1) << "longer than a name buffer";
}

}  // namespace
