// pak extract writes nothing outside -C through a link someone planted in it.
#include <filesystem>
#include <system_error>

#include "tools/pak/tests/harness.h"

namespace pak_harness {
namespace {

namespace fs = std::filesystem;

// A folder with the -C folder "out" beside a decoy file and a decoy folder
// that a planted link points at.
class Links : public PakTest {
protected:
    void SetUp() override
    {
        PakTest::SetUp();
        out = dir.path() / "out";
        decoy = dir.path() / "decoy.txt";
        decoy_dir = dir.path() / "decoy";
        fs::create_directories(out);
        fs::create_directory(decoy_dir);
        write("decoy.txt", bytes_of("the decoy's own bytes"));
        fs::permissions(decoy, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        decoy_mode = fs::status(decoy).permissions();
    }
    // Plants out/name -> target; the reason when no link can be made here
    // (the mingw runtime makes none, so Wine is never shown one).
    std::string plant(const std::string &name, const fs::path &target, bool folder)
    {
        std::error_code ec;
        if (folder) fs::create_directory_symlink(target, out / name, ec);
        else fs::create_symlink(target, out / name, ec);
        return ec ? "no symbolic link can be made here: " + ec.message() : "";
    }
    Result extract(const Names &entries, const Names &options = {})
    {
        Archive a;
        for (const auto &name : entries) a.entries.push_back(raw_entry(name, "planted " + name));
        a.entries.push_back(raw_entry("fine.txt", "fine"));
        Names words{"extract", write("links.pak", build(a)), "-C", out.string()};
        words.insert(words.end(), options.begin(), options.end());
        return pak(words);
    }
    void expect_decoys_untouched()
    {
        EXPECT_EQ(read(decoy.string()), bytes_of("the decoy's own bytes"));
        EXPECT_EQ(fs::status(decoy).permissions(), decoy_mode);
        EXPECT_TRUE(fs::is_empty(decoy_dir)) << "a file was written through a link";
        EXPECT_EQ(read((out / "fine.txt").string()), bytes_of("fine")) << "the other entries are still extracted";
    }
    fs::path out, decoy, decoy_dir;
    fs::perms decoy_mode{};
};

// The sep is the one pak joins -C and the entry's path with.
const std::string sep(1, static_cast<char>(fs::path::preferred_separator));

TEST_F(Links, AFolderLinkBelowTheFolderIsRefused)
{
    if (const std::string why = plant("data", decoy_dir, true); !why.empty()) GTEST_SKIP() << why;
    for (const Names &options : {Names{}, Names{"--keep"}, Names{"-j", "2"}}) {
        SCOPED_TRACE(options.empty() ? "plain" : options[0]);
        const Result r = extract({"data\\x.txt", "data\\deeper\\y.txt"}, options);
        EXPECT_EQ(r.status, 1);
        for (const std::string &name : {std::string("x.txt"), "deeper" + sep + "y.txt"})
            EXPECT_TRUE(r.says(out.string() + sep + "data" + sep + name + ": cannot write the file: access denied: ")) << r.err;
        expect_decoys_untouched();
        EXPECT_TRUE(fs::is_symlink(out / "data"));
    }
}

TEST_F(Links, ALinkAtAFilesNameIsRefusedAndLeftAsItIs)
{
    // A dangling link would have its target made, a live one its target written.
    for (const auto &[name, target] : {std::pair{"new.txt", decoy_dir / "made.txt"}, std::pair{"decoy.txt", decoy}})
        if (const std::string why = plant(name, target, false); !why.empty()) GTEST_SKIP() << why;
    for (const Names &options : {Names{}, Names{"--keep"}}) {
        SCOPED_TRACE(options.empty() ? "plain" : options[0]);
        const Result r = extract({"new.txt", "decoy.txt"}, options);
        expect_decoys_untouched();
#ifndef _WIN32
        // Wine shows a host's link as the file it points to: only the
        // rename protects the decoy there, and the link is replaced.
        EXPECT_EQ(r.status, 1);
        for (const char *name : {"new.txt", "decoy.txt"}) {
            EXPECT_TRUE(r.says(out.string() + sep + name + ": cannot write the file: access denied: its name is a link\n")) << r.err;
            EXPECT_TRUE(fs::is_symlink(out / name)) << name;
        }
#endif
    }
}

}  // namespace
}  // namespace pak_harness
