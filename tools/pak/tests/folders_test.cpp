// pak add of folder trees and the conventions around it: names by path, code
// pages both ways, the options that shape what is stored, and the flags
// people reach for.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tests/support/program.h"
#include "tools/pak/tests/harness.h"

namespace {

using namespace pak_harness;
namespace fs = std::filesystem;
using Tree = std::map<std::string, Bytes>;  // relative path ('/') -> content

// A name's bytes as the system's ANSI calls take them, which is how pak meets
// the disk; std::filesystem's narrow strings on Windows are not the code page.
fs::path system_path(const std::string &bytes)
{
#ifdef _WIN32
    std::wstring wide(bytes.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                        wide.data(), static_cast<int>(wide.size()))));
    return wide;
#else
    return bytes;
#endif
}

std::string system_bytes(const fs::path &path)
{
#ifdef _WIN32
    const std::wstring &wide = path.native();
    std::string bytes(wide.size() * 2, '\0');
    bytes.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                                         bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                                         nullptr)));
    return bytes;
#else
    return path.string();
#endif
}

// A Big5 character whose trail byte is '\' names one file only where the
// system's code page is Big5.
bool disk_holds_big5()
{
#ifdef _WIN32
    return GetACP() == 950;
#else
    return true;
#endif
}

class Folders : public PakTest {
protected:
    std::string plant(const std::string &root, const Tree &tree)
    {
        for (const auto &[name, content] : tree) {
            const fs::path path = dir.path() / system_path(root + "/" + name);
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(content.data()),
                                                        static_cast<std::streamsize>(content.size()));
        }
        return file(root);
    }
    Tree harvest(const std::string &root)
    {
        Tree tree;
        for (const auto &e : fs::recursive_directory_iterator(dir.path() / root))
            if (e.is_regular_file()) {
                std::ifstream in(e.path(), std::ios::binary);
                tree[system_bytes(fs::relative(e.path(), dir.path() / root))] =
                    Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
        return tree;
    }
    std::string archive(const std::string &name)
    {
        const std::string path = file(name);
        EXPECT_EQ(pak({"create", path}).status, 0);
        return path;
    }
};

TEST_F(Folders, ATreeRoundTripsByteForByteAndNameForName)
{
    struct Row {
        const char *codepage;  // null: names are bytes
        Tree tree;
        const char *stored_hex;  // one stored name, in hex, or null
    };
    const Bytes big = pattern_bytes(200000, 3);
    // Names in the game's own code page, as a Windows disk holds them:
    // "深\文件.txt" in GBK, and a Big5 character whose trail byte is '\'.
    Tree native = {{"a.txt", bytes_of("a")}, {"sub dir/b c.txt", big}, {"sub dir/deeper/x/empty", {}},
                   {"\xC9\xEE/\xCE\xC4\xBC\xFE.txt", bytes_of("gbk")}};
    if (disk_holds_big5()) native["\xB3\x5C.txt"] = bytes_of("big5");
    const std::vector<Row> rows = {
        {nullptr, native, "c9ee5ccec4bcfe2e747874"},
#ifndef _WIN32  // UTF-8 file names: the ANSI calls of Windows take its code page
        {"936", {{"深/文件.txt", bytes_of("中文")}, {"sub dir/b c.txt", big}}, "c9ee5ccec4bcfe2e747874"},
        // 許功蓋: each character's trail byte is 0x5C in Big5.
        {"950", {{"繁體/許功蓋.txt", bytes_of("x")}, {"a b/c", {}}}, "c163c5e95cb35ca55cbb5c2e747874"},
#endif
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE(row.codepage ? row.codepage : "bytes");
        const std::string root = "tree" + std::to_string(i), out = "out" + std::to_string(i);
        const std::string path = archive("t" + std::to_string(i) + ".pak");
        plant(root, row.tree);
        Names add{"add", path, "-C", file(root), ".", "-j", "3"}, extract{"extract", path, "-C", file(out)},
            list{"list", "--json", path};
        if (row.codepage)
            for (Names *words : {&add, &extract, &list}) words->insert(words->end(), {"--codepage", row.codepage});
        const Result added = pak(add);
        ASSERT_EQ(added.status, 0) << added.err;
        EXPECT_NE(pak(list).out.find(std::string("\"name_hex\":\"") + row.stored_hex + "\""), std::string::npos)
            << pak(list).out;
        const Result extracted = pak(extract);
        ASSERT_EQ(extracted.status, 0) << extracted.err;
        EXPECT_EQ(harvest(out), harvest(root));
        EXPECT_EQ(harvest(out).size(), row.tree.size());
    }
}

TEST_F(Folders, OptionsShapeTheStoredNamesAndEveryNameIsCheckedFirst)
{
    const std::string tree = plant("tree", {{"a.txt", bytes_of("a")}, {"sub/b.txt", bytes_of("b")},
                                            {"sub/c.TMP", bytes_of("c")}, {"other/b.txt", bytes_of("B")}});
    const struct {
        Names words;  // after "add ARCHIVE"
        int status;
        const char *listed;  // the archive's names afterwards
        const char *out;     // what add printed
    } rows[] = {
        {{"-C", tree, "sub"}, 0, "sub\\b.txt\nsub\\c.TMP\n", ""},
        {{"-C", tree, "./sub/", "--exclude", "*.tmp", "-v"}, 0, "sub\\b.txt\n", "sub\\b.txt\n"},
        {{"-C", tree, ".", "--exclude", "sub/*", "--exclude", "other"}, 0, "a.txt\n", ""},
        // Each star gives back what it took until the rest matches.
        {{"-C", tree, ".", "--exclude", "*u*/*.*x*", "--exclude", "?/*"}, 0,
         "a.txt\nother\\b.txt\nsub\\c.TMP\n", ""},
        {{"-C", tree, "sub", "other", "--prefix", "#:/"}, 0, "#:\\sub\\b.txt\n#:\\sub\\c.TMP\n#:\\other\\b.txt\n", ""},
        // Absolute paths are named from their last part: two b.txt collide.
        {{tree + "/sub/b.txt", tree + "/other/b.txt"}, 1, "", ""},
        {{tree + "/sub/b.txt", tree + "/other/b.txt", "--keep-old"}, 0, "b.txt\nb.txt\n", ""},
        // One bad name among good ones: nothing is stored.
        {{"-C", tree, "a.txt", "../tree/sub/b.txt", "sub", "--prefix", std::string(36, 'p')}, 1, "", ""},
        // A prefix ending in a lead byte would swallow the separator after it.
        {{"-C", tree, "sub", "--prefix", "d\x9B"}, 1, "", ""},
        {{"-C", tree, "sub", "--prefix", std::string(PATH_BUFFER_SIZE - 1, 'p')}, 1, "", ""},  // no room for its '\\'
        {{"-C", tree, "sub", "--as", "x"}, 2, "", ""},
    };
    int n = 0;
    for (const auto &row : rows) {
        const std::string path = archive("o" + std::to_string(n++) + ".pak");
        Names words{"add", path};
        words.insert(words.end(), row.words.begin(), row.words.end());
        const Result r = pak(words);
        EXPECT_EQ(r.status, row.status) << words[2] << " " << words[3] << ": " << r.err;
        EXPECT_EQ(r.out, row.out) << words[3];
        EXPECT_EQ(pak({"list", path}).out, row.listed) << words[3];
    }
}

TEST_F(Folders, ExtractKeepsOrReplacesAndNamesWhatItWrote)
{
    const std::string path = archive("k.pak");
    ASSERT_EQ(pak({"add", path, "-C", plant("tree", {{"d/a.txt", bytes_of("new")}, {"b", bytes_of("b")}}), "."}).status, 0);
    const std::string out = file("out"), sep(1, static_cast<char>(fs::path::preferred_separator));
    fs::create_directories(out + "/d");
    write("out/d/a.txt", bytes_of("old"));
    const Result kept = pak({"extract", path, "-C", out, "--keep", "-v", "d/*"});
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(kept.out, out + sep + "d" + sep + "a.txt (kept)\n");
    EXPECT_EQ(read(out + "/d/a.txt"), bytes_of("old"));
    const Result replaced = pak({"extract", path, "-C", out, "-v"});
    EXPECT_EQ(replaced.out, out + sep + "b\n" + out + sep + "d" + sep + "a.txt\n");
    EXPECT_EQ(read(out + "/d/a.txt"), bytes_of("new"));
    EXPECT_FALSE(fs::exists(out + "/d/a.txt.pak-new")) << "temporary file left";
}

TEST_F(Folders, VersionAndHelpSayTheVersionAndCodePagesRefuseWhatTheyCannotHold)
{
    const Result version = pak({"--version"});
    EXPECT_EQ(version.out, std::string("pak ") + PAK_VERSION + "\n");
    EXPECT_EQ(pak({"--help"}).out.rfind(std::string("pak ") + PAK_VERSION + ": ", 0), 0u);
    const std::string path = archive("c.pak");
    const std::string host = write("x.txt", bytes_of("x"));
    const Result no_form = pak({"add", path, host, "--as", "한국어", "--codepage", "936"});
    EXPECT_EQ(no_form.status, 1);
    EXPECT_TRUE(no_form.says("한국어: no form in code page 936")) << no_form.err;
    EXPECT_EQ(pak({"add", path, host, "--codepage", "1252"}).status, 2);
    EXPECT_EQ(pak({"list", path}).out, "");
}

#ifndef _WIN32
TEST_F(Folders, StandardInputIsAFileNamedWithAs)
{
    const std::string path = archive("s.pak"), input = write("input", pattern_bytes(100000, 9));
    const auto add = [&](const Names &words) {
        return fixtures::run_program_out("pak", words, "<\"" + input + "\"", dir.file("")).status;
    };
    EXPECT_EQ(add({"add", path, "-", "--as", "in/put.bin"}), 0);
    EXPECT_EQ(add({"add", path, "-"}), 2);
    EXPECT_EQ(pak({"cat", path, "in/put.bin"}).out, text(read(input)));
    EXPECT_EQ(pak({"list", path}).out, "in\\put.bin\n");
}
#endif

}  // namespace

namespace {

fs::path utf8_path(const std::string &text) { return fs::path(std::u8string(text.begin(), text.end())); }

// Every name that cannot be stored is named, as typed, on a line of its own,
// then the count; the archive is left as it was.
TEST_F(Folders, AddNamesEveryBadNameThenTheCountAndChangesNothing)
{
    const std::string path = archive("bad.pak");
    const fs::path tree = dir.path() / "bad";
    const std::string long_name = "\xE5\x8A\x9F" + std::string(37, 'x');  // 功 and 37 letters: 39 bytes in Big5
    for (const std::string &name : {long_name, long_name + "y", std::string("d/") + long_name, std::string("A.txt"),
                                    std::string("a.TXT"), std::string("ok.txt")}) {
        fs::create_directories((tree / utf8_path(name)).parent_path());
        write_file(tree / utf8_path(name), bytes_of("x"));
    }
#ifndef _WIN32
    write_file(tree / "back\\slash.txt", bytes_of("x"));  // one name on POSIX, two parts in an archive
#endif
    const Bytes before = read(path);
    const Result r = pak({"add", path, "-C", tree.string(), ".", "--codepage", "950"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.says("pak: " + long_name + "y: the name is 40 bytes in code page 950; a stored name holds at most 39 bytes\n")) << r.err;
    EXPECT_TRUE(r.says("pak: d\\" + long_name + ": the name is 41 bytes")) << r.err;
    EXPECT_FALSE(r.says("pak: " + long_name + ":")) << "39 bytes fit";
    EXPECT_TRUE(r.says("would both be stored under this name")) << r.err;
#ifndef _WIN32
    EXPECT_TRUE(r.says("back\\slash.txt: its name holds a '\\'")) << r.err;
    EXPECT_TRUE(r.says(": 3 of 7 files cannot be added, and 1 name is given to two files; it is unchanged\n")) << r.err;
#else
    EXPECT_TRUE(r.says(": 2 of 6 files cannot be added, and 1 name is given to two files; it is unchanged\n")) << r.err;
#endif
    EXPECT_EQ(read(path), before);
}

// Patterns reach into folders; a name typed otherwise than stored is told how
// to ask; a drive prefix that is not the archive's is no prefix to drop.
TEST_F(Folders, PatternsReachFoldersAndMissesSayHowToAsk)
{
    const std::string path = archive("p.pak");
    ASSERT_EQ(pak({"add", path, "-C",
                   plant("p", {{"a.ini", bytes_of("1")}, {"d/b.ini", bytes_of("2")}, {"d/e/c.ini", bytes_of("3")},
                               {"d/e/c.txt", bytes_of("4")}}),
                   "."}).status, 0);
    const struct { Names patterns; const char *listed; } cases[] = {
        {{"*.ini"}, "a.ini\n"}, {{"*/*.ini"}, "d\\b.ini\n"}, {{"d\\*\\*.ini"}, "d\\e\\c.ini\n"},
        {{"**/*.ini"}, "a.ini\nd\\b.ini\nd\\e\\c.ini\n"}, {{"d/*"}, "d\\b.ini\nd\\e\\c.ini\nd\\e\\c.txt\n"},
        {{"?.ini", "d/?/?.txt"}, "a.ini\nd\\e\\c.txt\n"},
    };
    for (const auto &c : cases) {
        Names words{"list", path};
        words.insert(words.end(), c.patterns.begin(), c.patterns.end());
        const Result r = pak(words);
        EXPECT_EQ(r.status, 0) << c.patterns[0] << r.err;
        EXPECT_EQ(r.out, c.listed) << c.patterns[0];
    }
    const fs::path out = dir.path() / "pout";
    ASSERT_EQ(pak({"extract", path, "**/*.ini", "-C", out.string()}).status, 0);
    EXPECT_TRUE(fs::exists(out / "d" / "e" / "c.ini"));
    EXPECT_FALSE(fs::exists(out / "d" / "e" / "c.txt"));
    const Result none = pak({"list", path, "*.dat"});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.says("pak: *.dat: no entry matches in " + path)) << none.err;

    const Result utf8 = pak({"cat", path, "\xE5\x8A\x9F.txt"});
    EXPECT_TRUE(utf8.says("no such entry in " + path + " (names beyond ASCII are stored in the game's code page: "
                          "give --codepage 950 for Big5 or 936 for GBK)")) << utf8.err;
    const Result big5 = pak({"cat", path, "\xE5\x8A\x9F.txt", "--codepage", "950"});
    EXPECT_TRUE(big5.says("pak: \xE5\x8A\x9F.txt: no such entry in " + path + " (looked for its Big5 form")) << big5.err;

    Archive drives;
    drives.entries = {raw_entry("C:evil1.txt", "1"), raw_entry("a:b.txt", "2"), raw_entry("#:good.txt", "3")};
    const fs::path dout = dir.path() / "dout";
    const Result d = pak({"extract", write("drives.pak", build(drives)), "-C", dout.string()});
    EXPECT_EQ(d.status, 1);
    EXPECT_TRUE(d.says("C:evil1.txt: a drive-qualified name")) << d.err;
    EXPECT_TRUE(d.says("a:b.txt: a drive-qualified name")) << d.err;
    EXPECT_FALSE(fs::exists(dout / "evil1.txt") || fs::exists(dout / "b.txt"));
    EXPECT_EQ(read((dout / "good.txt").string()), bytes_of("3"));
    // A refused name is shown as typed with --codepage, not as its Big5 bytes.
    Archive device;
    device.entries = {raw_entry("\xA5\\\\CON", "c")};
    const Result shown = pak({"extract", write("device.pak", build(device)), "-C", dout.string(), "--codepage", "950"});
    EXPECT_TRUE(shown.says(": \xE5\x8A\x9F\\CON: the name is a Windows device name")) << shown.err;
}

}  // namespace
