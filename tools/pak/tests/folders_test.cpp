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
