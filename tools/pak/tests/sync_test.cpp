// pak sync and diff on generated trees, records named by position, and
// compact's backup.
#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>

#include "tools/pak/tests/harness.h"

namespace pak_harness {
namespace {

namespace fs = std::filesystem;
constexpr auto npos = std::string::npos;

class Sync : public PakTest {
protected:
    fs::path tree() const { return dir.path() / "tree"; }
    void put(const std::string &name, const Bytes &bytes)
    {
        fs::create_directories((tree() / name).parent_path());
        write_file(tree() / name, bytes);
    }
    std::string made(const std::string &name)
    {
        EXPECT_EQ(pak({"create", file(name)}).status, 0);
        return file(name);
    }
    // The live names, in byte order.
    Names names(const std::string &archive)
    {
        Names out;
        std::istringstream lines(pak({"list", archive}).out);
        for (std::string line; std::getline(lines, line);) out.push_back(line);
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(Sync, AnEditedTreeSyncsToWhatAFreshPackHoldsAndDiffSaysExactlyTheEdits)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i)
        put("d" + std::to_string(i % 7) + "/s" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".dat",
            pattern_bytes(i % 100 == 0 ? (3u << 19) + i : rng() % 20000, static_cast<uint32_t>(i)));  // some in pieces
    put("Readme0.txt", bytes_of("lower")), put("raw.bin", pattern_bytes(5000));
    const std::string a = made("a.pak"), dir_arg = tree().string();
    ASSERT_EQ(pak({"add", a, "-C", dir_arg, "raw.bin", "--store"}).status, 0);
    Result r = pak({"sync", a, "-C", dir_arg, "-j", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("a.pak: 201 added, 0 changed, 0 removed, 1 unchanged\n"), npos) << r.out;

    // Changed in place at the same size (only the bytes tell), grown, gone,
    // new.
    Bytes f5 = read_file(tree() / "d5/s2/f5.dat");
    f5[f5.size() / 2] ^= 1;
    put("d5/s2/f5.dat", f5);
    Bytes f7 = read_file(tree() / "d0/s1/f7.dat");
    f7.push_back('!');
    put("d0/s1/f7.dat", f7);
    fs::remove(tree() / "d4/s2/f11.dat");
    put("d1/new.txt", bytes_of("new"));
    put("Readme0.txt", bytes_of("LOWER"));
    const std::string edits = "changed   Readme0.txt\nchanged   d0\\s1\\f7.dat\nadded     d1\\new.txt\n"
                              "removed   d4\\s2\\f11.dat\nchanged   d5\\s2\\f5.dat\n";
    r = pak({"diff", a, dir_arg});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, edits);
    r = pak({"diff", dir_arg, a, "--json"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find(",\"changes\"")), ",\"changes\":[{\"change\":\"changed\",\"name\":\"Readme0.txt\"},"
                     "{\"change\":\"changed\",\"name\":\"d0\\\\s1\\\\f7.dat\"},{\"change\":\"removed\",\"name\":\"d1\\\\new.txt\"},"
                     "{\"change\":\"added\",\"name\":\"d4\\\\s2\\\\f11.dat\"},{\"change\":\"changed\",\"name\":\"d5\\\\s2\\\\f5.dat\"}]}\n");

    const Bytes before = read(a);
    r = pak({"sync", a, "-C", dir_arg, "--dry-run"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, edits + a + ": 1 added, 3 changed, 1 removed, 198 unchanged (dry run: nothing written)\n");
    EXPECT_EQ(read(a), before);
    r = pak({"sync", a, "-C", dir_arg, "-j", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, edits + a + ": 1 added, 3 changed, 1 removed, 198 unchanged\n");

    // The same names and contents as a fresh pack, no free records, and the
    // unchanged raw entry copied as stored, not packed.
    const std::string fresh = made("fresh.pak");
    ASSERT_EQ(pak({"add", fresh, "-C", dir_arg, ".", "--keep-old"}).status, 0);
    EXPECT_EQ(names(a), names(fresh));
    EXPECT_EQ(names(a).size(), 202u);
    EXPECT_NE(pak({"info", a}).out.find("(202 live, 0 free)"), npos);
    r = pak({"diff", a, fresh});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    const fs::path out = dir.path() / "out";
    ASSERT_EQ(pak({"extract", a, "-C", out.string()}).status, 0);
    for (const auto &e : fs::recursive_directory_iterator(tree()))
        if (e.is_regular_file()) {
            EXPECT_EQ(read_file(out / fs::relative(e.path(), tree())), read_file(e.path())) << e.path();
        }
    EXPECT_NE(pak({"list", "-l", a, "raw.bin"}).out.find(" 5000          - "), npos);

    // In step with the tree: said so, and not written.
    const Bytes synced = read(a);
    r = pak({"sync", a, "-C", dir_arg});
    EXPECT_EQ(r.out, a + ": 0 added, 0 changed, 0 removed, 202 unchanged\n");
    EXPECT_EQ(read(a), synced);
}

TEST_F(Sync, OnlyEntriesBeneathThePathsAreSyncedAndOlderCopiesGo)
{
    put("data/a", bytes_of("a")), put("data/b.tmp", bytes_of("b")), put("data/c", bytes_of("c"));
    const std::string a = made("a.pak");
    for (const Names &step : {Names{"add", a, write("x", bytes_of("x")), "--as", "keep\\x"},
                              Names{"add", a, "-C", tree().string(), "data"}, Names{"add", a, file("x"), "--as", "Data\\old"},
                              Names{"add", a, "-C", tree().string(), "data/a", "--keep-old"}, Names{"delete", a, "data\\c"}})
        ASSERT_EQ(pak(step).status, 0) << step[0];
    const Result r = pak({"sync", a, "-C", tree().string(), "data", "--exclude", "*.tmp"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "removed   Data\\old\nremoved   data\\a (an older copy)\nremoved   data\\b.tmp\nadded     data\\c\n" + a +
                         ": 1 added, 0 changed, 3 removed, 1 unchanged, 1 free record dropped\n");
    EXPECT_EQ(pak({"list", a}).out, "keep\\x\ndata\\a\ndata\\c\n");
    EXPECT_NE(pak({"info", a}).out.find("(3 live, 0 free)"), npos);
    // Beneath a prefix only.
    ASSERT_EQ(pak({"sync", a, "-C", tree().string(), "--prefix", "#:\\"}).status, 0);
    EXPECT_EQ(pak({"list", a}).out, "keep\\x\ndata\\a\ndata\\c\n#:\\data\\a\n#:\\data\\b.tmp\n#:\\data\\c\n");
    EXPECT_EQ(pak({"sync", a}).status, 2);
    // An archive within its own tree is no file of it.
    ASSERT_EQ(pak({"create", (tree() / "in.pak").string()}).status, 0);
    ASSERT_EQ(pak({"sync", (tree() / "in.pak").string(), "-C", tree().string()}).status, 0);
    const Result again = pak({"sync", (tree() / "in.pak").string(), "-C", tree().string()});
    EXPECT_NE(again.out.find("0 added, 0 changed, 0 removed, 3 unchanged\n"), npos) << again.out;
    EXPECT_TRUE(again.says("in.pak: skipped: the archive itself")) << again.err;
}

TEST_F(Sync, CaseVariantsStayTwoEntriesAndAreNamedByPosition)
{
#ifdef _WIN32
    GTEST_SKIP() << "no case variants in one folder here";
#endif
    put("README0.TXT", bytes_of("upper")), put("Readme0.txt", bytes_of("lower"));
    const std::string a = made("a.pak");
    ASSERT_EQ(pak({"sync", a, "-C", tree().string()}).status, 0);
    ASSERT_EQ(pak({"sync", a, "-C", tree().string()}).out, a + ": 0 added, 0 changed, 0 removed, 2 unchanged\n");
    const std::string listed = pak({"list", "-l", a}).out;
    EXPECT_EQ(listed.substr(0, 8), "       0") << listed;
    EXPECT_NE(listed.find("README0.TXT\n       1 "), npos) << listed;
    EXPECT_EQ(pak({"cat", a, "--at", "1"}).out, "lower");
    EXPECT_EQ(pak({"cat", a, "--at", "0"}).out, "upper");
    for (const Names &bad : {Names{"cat", a, "--at", "2"}, Names{"delete", a, "--at", "x"}, Names{"rename", a, "--at", "9", "y"}})
        EXPECT_EQ(pak(bad).status, 1) << bad[0];
    EXPECT_TRUE(pak({"cat", a, "--at", "2"}).says("no live entry at position 2"));
    EXPECT_EQ(pak({"delete", a, "--at", "0", "README0.TXT"}).status, 2);
    EXPECT_EQ(pak({"cat", a, "--at", "0", "x"}).status, 2);
    ASSERT_EQ(pak({"rename", a, "--at", "1", "other.txt"}).status, 0);
    ASSERT_EQ(pak({"delete", a, "--at", "1"}).status, 0);
    EXPECT_EQ(pak({"list", "-a", a}).out, "README0.TXT\n[free]\n");
    // An entry whose name differs from the file's only in case is another one.
    fs::remove(tree() / "README0.TXT");
    const Result r = pak({"sync", a, "-C", tree().string()});
    EXPECT_EQ(r.out, "removed   README0.TXT\nadded     Readme0.txt\n" + a +
                         ": 1 added, 0 changed, 1 removed, 0 unchanged, 1 free record dropped\n");
}

TEST_F(Sync, DiffComparesContentWhateverTheStoringAndSaysTroubleWithTwoWhereSyncRepairs)
{
    put("t.txt", pattern_bytes(9000));
    const std::string raw = made("raw.pak"), packed = made("packed.pak");
    ASSERT_EQ(pak({"add", raw, "-C", tree().string(), "t.txt", "--store"}).status, 0);
    ASSERT_EQ(pak({"add", packed, "-C", tree().string(), "t.txt"}).status, 0);
    EXPECT_EQ(pak({"diff", raw, packed}).status, 0);
    ASSERT_EQ(pak({"add", packed, write("u", pattern_bytes(9000, 2)), "--as", "t.txt"}).status, 0);
    EXPECT_EQ(pak({"diff", raw, packed}).out, "changed   t.txt\n");
    Bytes damaged = packed_block(pattern_bytes(9000, 2));
    damaged[damaged.size() / 2] ^= 0xFF;  // in the stream: the head still says 9000 bytes
    Archive bad;
    bad.entries = {raw_entry("t.txt", damaged)};
    const std::string broken = write("bad.pak", build(bad));
    for (const Names &trouble : {Names{"diff", raw, broken}, Names{"diff", raw, file("none.pak")},
                                 Names{"diff", tree().string(), tree().string()}})
        EXPECT_EQ(pak(trouble).status, 2) << trouble[2];
    // sync puts the file in place of the damaged entry.
    const Result r = pak({"sync", broken, "-C", tree().string()});
    EXPECT_EQ(r.out, "changed   t.txt\n" + broken + ": 0 added, 1 changed, 0 removed, 0 unchanged\n") << r.err;
    EXPECT_EQ(pak({"verify", broken}).status, 0);
}

TEST_F(Sync, CompactReplacesAnExistingBackupOnlyWhenForced)
{
    const std::string a = made("a.pak");
    const Bytes old_backup = bytes_of("an older backup");
    write("a.BAK", old_backup);
    const Bytes archive = read(a);
    const Result r = pak({"compact", a});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.says("a.BAK exists; remove it, or give --force to replace it")) << r.err;
    EXPECT_EQ(read(file("a.BAK")), old_backup);
    EXPECT_EQ(read(a), archive);
    ASSERT_EQ(pak({"compact", a, "--force"}).status, 0);
    EXPECT_EQ(read(file("a.BAK")), archive);
}

}  // namespace
}  // namespace pak_harness
