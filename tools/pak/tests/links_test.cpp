// pak extract writes nothing outside -C through a link someone planted in it.
#include <filesystem>
#include <system_error>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "platform/fault.h"
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
    // Plants link -> target; the reason when no link can be made here (the
    // mingw runtime makes none, so Wine is never shown one).
    static std::string plant(const fs::path &link, const fs::path &target, bool folder)
    {
        std::error_code ec;
        if (folder) fs::create_directory_symlink(target, link, ec);
        else fs::create_symlink(target, link, ec);
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
    if (const std::string why = plant(out / "data", decoy_dir, true); !why.empty()) GTEST_SKIP() << why;
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
        if (const std::string why = plant(out / name, target, false); !why.empty()) GTEST_SKIP() << why;
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

TEST_F(Links, TheFolderItselfMayBeReachedThroughALink)
{
    const fs::path via = dir.path() / "via";
    if (const std::string why = plant(via, out, true); !why.empty()) GTEST_SKIP() << why;
    Archive a;
    a.entries = {raw_entry("d\\x.txt", "x")};
    const Result r = pak({"extract", write("via.pak", build(a)), "-C", via.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read((out / "d" / "x.txt").string()), bytes_of("x"));
}

#ifndef _WIN32  // modes are POSIX's; Windows keeps only a read-only bit
TEST_F(Links, AReplacedFileKeepsItsModeAndANewOneGetsTheUsualOne)
{
    // The temporary file beside a replaced one is private until it takes
    // the old file's mode; a new file is made as any program makes one.
    write("out/old.txt", bytes_of("old"));
    const fs::perms own = fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read;
    fs::permissions(out / "old.txt", own);
    const Result r = extract({"old.txt", "new.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read((out / "old.txt").string()), bytes_of("planted old.txt"));
    EXPECT_EQ(fs::status(out / "old.txt").permissions(), own);
    EXPECT_EQ(fs::status(out / "new.txt").permissions(), fs::status(write("usual.txt", {})).permissions());
}
#endif

// Another user swaps pak's working file for a link to the decoy just before
// any disk step of a command that replaces a file: the working file is
// written and put in place through the handle that made it, so nothing
// reaches the decoy.
struct Swap {
    long step = 0, at = 0;
    fs::path folder, decoy;
    bool linked = true;
};
Swap swap;

TEST_F(Links, AWorkingFileSwappedForALinkBeforeAnyStepLeadsNowhereOutside)
{
    const std::string a = (out / "a.pak").string(), t = (out / "t.exe").string();
    for (const Names &step : {Names{"create", a}, Names{"add", a, write("b.bin", pattern_bytes(5000, 3)), "--as", "#:\\b"},
                              Names{"add", a, write("c.bin", bytes_of("c")), "--as", "#:\\c"}, Names{"delete", a, "#:\\c"}})
        ASSERT_EQ(pak(step).status, 0) << step[0];
    write("out/t.exe", minimal_pe(0x2200));
    const Names commands[] = {{"add", a, (dir.path() / "b.bin").string(), "--as", "#:\\d"}, {"delete", a, "#:\\b"},
                              {"rename", a, "#:\\b", "z"}, {"compact", a}, {"attach", t, a}};
    const Bytes start_a = read(a), start_t = read(t);
    long runs = 0;
    for (const Names &command : commands) {
        fault_arm(FAULT_DISK_STEPS, 0, false);
        ASSERT_EQ(pak(command).status, 0) << command[0];
        const long steps = fault_points();
        fault_disarm();
        for (long at = 1; at <= steps; ++at) {
            SCOPED_TRACE(testing::Message() << command[0] << " at step " << at);
            write_file(a, start_a), write_file(t, start_t);
            fs::remove(out / "a.BAK");
            swap = Swap{0, at, out, decoy};
            fault_set_hook(FAULT_DISK_STEPS, [](unsigned) {
                if (++swap.step != swap.at) return;
                for (const fs::directory_entry &e : fs::directory_iterator(swap.folder)) {
                    const std::string name = e.path().filename().string();
                    if (name.find(".pak-new") == std::string::npos && name.find(".tmp") == std::string::npos) continue;
                    std::error_code ec;
                    fs::remove(e.path(), ec);
                    fs::create_symlink(swap.decoy, e.path(), ec);
                    swap.linked = swap.linked && !ec;
                }
            });
            pak(command);
            fault_set_hook(0, nullptr);
            if (!swap.linked) GTEST_SKIP() << "no symbolic link can be made here";
            EXPECT_EQ(read(decoy.string()), bytes_of("the decoy's own bytes"));
            EXPECT_EQ(fs::status(decoy).permissions(), decoy_mode);
            ++runs;
        }
    }
    std::printf("working files swapped for links: %ld runs\n", runs);
}

// A tree's odd members are named and passed over, never opened: before, a
// pipe held add until killed, a link to nothing went unsaid, and a link to a
// folder above was followed until the name grew too long.
TEST_F(Links, AddNamesAndPassesOverPipesSocketsAndLinksThatLeadNowhere)
{
    const fs::path tree = dir.path() / "tree";
    fs::create_directories(tree / "sub");
    write_file(tree / "a.txt", bytes_of("a"));
    write_file(tree / "sub" / "b.txt", bytes_of("b"));
    if (const std::string why = plant(tree / "gone.txt", tree / "missing.txt", false); !why.empty()) GTEST_SKIP() << why;
    plant(tree / "self", tree / "self", false);
    plant(tree / "sub" / "up", tree, true);
    plant(tree / "file_link.txt", tree / "a.txt", false);
    std::vector<std::string> skipped{"gone.txt: skipped: a link to nothing", "self: skipped: a link loop",
                                     "up: skipped: a link loop"};
#ifndef _WIN32
    ASSERT_EQ(mkfifo((tree / "pipe").c_str(), 0600), 0);
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    std::snprintf(where.sun_path, sizeof where.sun_path, "%s", (tree / "sock").c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&where), sizeof where), 0);
    skipped.push_back("pipe: skipped: a pipe, socket or device, not a file");
    skipped.push_back("sock: skipped: a pipe, socket or device, not a file");
#endif
    const std::string archive = file("t.pak");
    ASSERT_EQ(pak({"create", archive}).status, 0);
    const Result r = pak({"add", archive, "-C", tree.string(), "."});
#ifndef _WIN32
    close(s);
#endif
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string &says : skipped) EXPECT_TRUE(r.says(says)) << says << "\nin\n" << r.err;
    EXPECT_EQ(pak({"list", archive}).out, "a.txt\nfile_link.txt\nsub\\b.txt\n");
#ifndef _WIN32
    const Result named = pak({"add", archive, (tree / "pipe").string(), "--as", "p"});
    EXPECT_EQ(named.status, 1);
    EXPECT_TRUE(named.says("a pipe, socket or device, not a file")) << named.err;
#endif
}

}  // namespace
}  // namespace pak_harness
