// A modder's round trip: a tree of thousands of files whose Big5 or GBK names
// use every character of the code page that ends in the byte of '\', in
// folder names (before a '\') and at the end of file names, goes into an
// archive and comes back out byte for byte and name for name.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "tools/pak/tests/harness.h"

namespace {

using namespace pak_harness;
namespace fs = std::filesystem;
using Tree = std::map<std::string, Bytes>;  // relative path, '/' between parts -> content

// A character of the code page as UTF-8, or "" when the bytes are none.
std::string utf8_of(int code_page, const std::string &bytes)
{
    char out[16];
    return text_to_utf8(code_page, bytes.c_str(), out, sizeof out) > 0 ? out : "";
}

// Every character of the code page whose second byte is 0x5C, as stored.
std::vector<std::string> ending_in_5c(int code_page)
{
    std::vector<std::string> found;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        const std::string c{static_cast<char>(lead), '\\'};
        if (!utf8_of(code_page, c).empty()) found.push_back(c);
    }
    return found;
}

// Stored names of the tree ('\' between parts, the code page's bytes) to
// their contents: folders named by one of the characters, alone or after an
// ordinary one, and in each of them files whose names end in one.
Tree stored_tree(int code_page, int files)
{
    const std::vector<std::string> c = ending_in_5c(code_page);
    const std::string plain = code_page == 950 ? "\xA4\x40" : "\xB0\xA1";  // 一 and 啊
    const int n = static_cast<int>(c.size());
    const int folders = 88;
    Tree tree;
    for (int i = 0; tree.size() < static_cast<size_t>(files); ++i) {
        const int f = i % folders;
        // Half the folders one level down, in the folder of a character too.
        std::string folder = (f % 2 ? plain : "") + c[f % n];
        if (f >= folders / 2) folder = c[(f + 7) % n] + "\\" + folder;
        const std::string &last = c[(i / folders + f) % n];
        const std::string name = i % 3 == 0 ? std::to_string(i) + last : last + std::to_string(i) + ".dat";
        Bytes content(static_cast<size_t>(i % 97), static_cast<uint8_t>(i));
        content.insert(content.end(), name.begin(), name.end());
        tree[folder + "\\" + name] = content;
    }
    // Every character at the end of a top-level file's name, and of a folder's.
    for (int k = 0; k < n; ++k) {
        tree["t" + c[k]] = bytes_of("top " + std::to_string(k));
        tree["d" + c[k] + "\\" + c[(k + 1) % n]] = bytes_of("inner " + std::to_string(k));
    }
    return tree;
}

// The host path of a stored name: UTF-8 with a code page, else its bytes.
fs::path host_path(const std::string &stored, int code_page)
{
    std::string text;
    for (size_t i = 0; i < stored.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(stored[i]);
        if (b >= 0x81 && b <= 0xFE && i + 1 < stored.size()) {
            const std::string c = stored.substr(i++, 2);
            text += code_page ? utf8_of(code_page, c) : c;
        } else {
            text += b == '\\' ? '/' : stored[i];
        }
    }
    return fs::path(std::u8string(text.begin(), text.end()));
}

void plant(const fs::path &root, const Tree &tree, int code_page)
{
    for (const auto &[stored, content] : tree) {
        const fs::path path = root / host_path(stored, code_page);
        fs::create_directories(path.parent_path());
        write_file(path, content);
    }
}

// Every file beneath root by its path's bytes, and its content.
std::map<std::u8string, Bytes> read_tree(const fs::path &root)
{
    std::map<std::u8string, Bytes> out;
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out[fs::relative(e.path(), root).generic_u8string()] = read_file(e.path());
    return out;
}

class RoundTrip : public PakTest {
protected:
    // add -C, list, extract -C, and the trees compared; with --codepage when
    // utf8, else with the stored bytes as the disk's names.
    void round_trip(int code_page, bool utf8, int files)
    {
        const Tree tree = stored_tree(code_page, files);
        ASSERT_GE(tree.size(), static_cast<size_t>(files));
        const fs::path in = dir.path() / "in", out = dir.path() / "out";
        plant(in, tree, utf8 ? code_page : 0);
        const std::string archive = file("round.pak");
        ASSERT_EQ(pak({"create", archive}).status, 0);
        Names cp;
        if (utf8) cp = {"--codepage", std::to_string(code_page)};
        Names add{"add", archive, "-C", in.string(), "."};
        add.insert(add.end(), cp.begin(), cp.end());
        const Result added = pak(add);
        ASSERT_EQ(added.status, 0) << added.err.substr(0, 2000);
        // Stored as the code page's bytes, name for name.
        const Result listed = pak({"list", archive});
        std::set<std::string> stored;
        for (size_t at = 0, end; (end = listed.out.find('\n', at)) != std::string::npos; at = end + 1)
            stored.insert(listed.out.substr(at, end - at));
        std::set<std::string> expected;
        for (const auto &entry : tree) expected.insert(entry.first);
        EXPECT_TRUE(stored == expected) << stored.size() << " stored, " << expected.size() << " expected";
        Names extract{"extract", archive, "-C", out.string()};
        extract.insert(extract.end(), cp.begin(), cp.end());
        const Result extracted = pak(extract);
        ASSERT_EQ(extracted.status, 0) << extracted.err.substr(0, 2000);
        const auto before = read_tree(in), after = read_tree(out);
        EXPECT_EQ(before.size(), tree.size());
        EXPECT_TRUE(before == after) << before.size() << " files in, " << after.size() << " out";
    }
};

// Big5 has 85 or more such characters, GBK over a hundred; a generator that
// found none would prove nothing.
TEST_F(RoundTrip, EveryCharacterEndingInTheBackslashByteIsFound)
{
    EXPECT_GE(ending_in_5c(950).size(), 85u);
    EXPECT_GE(ending_in_5c(936).size(), 116u);
    EXPECT_EQ(utf8_of(950, "\xA5\\"), "\xE5\x8A\x9F");  // 功
}

TEST_F(RoundTrip, Big5TreeWithCodePage) { round_trip(950, true, 5000); }

TEST_F(RoundTrip, GbkTreeWithCodePage) { round_trip(936, true, 5000); }

#ifndef _WIN32
// Without --codepage the names on the disk are the stored bytes themselves.
TEST_F(RoundTrip, Big5TreeAsBytes) { round_trip(950, false, 2000); }

TEST_F(RoundTrip, GbkTreeAsBytes) { round_trip(936, false, 2000); }
#endif

}  // namespace
