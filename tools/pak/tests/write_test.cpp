// pak create, add, delete, rename, compact and attach, checked against the
// format with an independent reader; and the promise that a failed command
// leaves the archive as it was.
#include <filesystem>

#include "driver/update.h"
#include "platform/fault.h"
#include "tools/pak/tests/harness.h"

namespace pakt {
namespace {

using namespace testpak;
namespace fs = std::filesystem;

class Write : public PakTest {
protected:
    // An archive made by pak: create, then add files of the given contents.
    std::string made(const std::string &name, const std::vector<std::string> &create_options,
                     const std::vector<std::pair<std::string, Bytes>> &files)
    {
        const std::string path = file(name);
        std::vector<std::string> create{"create", path};
        create.insert(create.end(), create_options.begin(), create_options.end());
        EXPECT_EQ(pak(create).status, 0);
        for (const auto &[stored, content] : files) {
            const std::string host = write("host.bin", content);
            const Result r = pak({"add", path, host, "--as", stored});
            EXPECT_EQ(r.status, 0) << r.err;
        }
        return path;
    }
};

TEST_F(Write, CreateMakesTheEmptyArchive)
{
    const struct {
        std::vector<std::string> options;
        size_t size;
        uint32_t packed_dir_size;
        uint8_t first, last;
        uint32_t user_value;
    } cases[] = {
        {{}, 4120, 0, '#', '#', 0},
        {{"--packed-dir"}, 24 + masked_stream(Bytes(4096)).size(), 4096, '#', '#', 0},
        {{"--drives", "A-Z", "--user-value", "0xDEADBEEF"}, 4120, 0, 'A', 'Z', 0xDEADBEEF},
        {{"--drives=@"}, 4120, 0, '@', '@', 0},
    };
    int n = 0;
    for (const auto &c : cases) {
        const std::string path = file("new" + std::to_string(n++) + ".pak");
        std::vector<std::string> args{"create", path};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = pak(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const Bytes b = read(path);
        ASSERT_EQ(b.size(), c.size);
        EXPECT_EQ(get_u32(b, 0), 0x534B4150u);
        EXPECT_EQ(get_u32(b, 4), 0u);
        EXPECT_EQ(get_u32(b, 8), 24u);
        EXPECT_EQ(b[12], c.first);
        EXPECT_EQ(b[13], c.last);
        EXPECT_EQ(b[14] | b[15], 0);
        EXPECT_EQ(get_u32(b, 16), c.user_value);
        EXPECT_EQ(get_u32(b, 20), c.packed_dir_size);
        if (c.packed_dir_size) EXPECT_EQ(Bytes(b.begin() + 24, b.end()), masked_stream(Bytes(4096)));
        else EXPECT_EQ(Bytes(b.begin() + 24, b.end()), Bytes(4096));
    }
}

TEST_F(Write, CreateRefusesWhatItCannotMakeSafely)
{
    const std::string existing = write("old.pak", bytes_of("precious"));
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"create", existing}, 1},                       // never replaces a file
        {{"create", file("x.exe")}, 1},                  // would read as a program
        {{"create", file("y.pak"), "--drives", "Z-A"}, 2},
        {{"create", file("y.pak"), "--user-value", "-1"}, 2},
    };
    for (const auto &c : cases) {
        const Result r = pak(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << r.err;
        EXPECT_EQ(r.err.rfind("pak: ", 0), 0u);
    }
    EXPECT_EQ(read(existing), bytes_of("precious"));
    EXPECT_FALSE(fs::exists(file("x.exe")));
    EXPECT_FALSE(fs::exists(file("y.pak")));
}

TEST_F(Write, AddStoresPackedBlocksOrRawBytesUnderTheirNames)
{
    const std::string path = file("a.pak");
    ASSERT_EQ(pak({"create", path, "--drives", "@"}).status, 0);
    const Bytes one = pattern_bytes(5000, 1), two = pattern_bytes(300, 2), three = bytes_of("raw\r\n");
    const std::string host_one = write("one.bin", one), host_two = write("two.txt", two), host_three = write("three.txt", three);
    ASSERT_EQ(pak({"add", path, host_one, host_two}).status, 0);
    ASSERT_EQ(pak({"add", path, host_three, "--store", "--as", "sub\\Three.TXT"}).status, 0);

    const Parsed p = parse(read(path));
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.live(), (std::vector<std::string>{"one.bin", "two.txt", "sub\\Three.TXT"}));
    EXPECT_EQ(p.records[0].data, packed_block(one));
    EXPECT_EQ(p.records[1].data, packed_block(two));
    EXPECT_EQ(p.records[2].data, three);
    EXPECT_EQ(p.records[0].data_offset, 24u);  // directly behind the header
    // The directory is the last thing that counts: behind it only what is
    // left of the new archive's zero directory space.
    const Bytes b = read(path);
    EXPECT_EQ(Bytes(b.begin() + static_cast<long>(p.dir_end), b.end()), Bytes(4120 - p.dir_end));
    // The update program's lookup finds them with the drive-strip switch on.
    EXPECT_EQ(pak({"cat", path, "two.txt"}).out, text(two));
}

TEST_F(Write, AddReplacesALiveEntryUnlessToldToKeepIt)
{
    const std::string path = made("r.pak", {}, {{"#:\\a.txt", bytes_of("v1")}});
    const std::string v2 = write("a.txt", bytes_of("v2"));
    ASSERT_EQ(pak({"add", path, v2, "--as", "#:\\A.TXT"}).status, 0);
    Parsed p = parse(read(path));
    EXPECT_EQ(p.live(), std::vector<std::string>{"#:\\A.TXT"});
    EXPECT_EQ(p.records.size(), 2u);  // the old record stays, freed

    ASSERT_EQ(pak({"add", path, v2, "--as", "#:\\a.txt", "--keep-old", "--store"}).status, 0);
    p = parse(read(path));
    EXPECT_EQ(p.live(), (std::vector<std::string>{"#:\\A.TXT", "#:\\a.txt"}));
    EXPECT_EQ(pak({"cat", path, "a.txt"}).out, "v2");
}

TEST_F(Write, AddOnSeveralThreadsGivesTheSameArchive)
{
    std::vector<std::string> hosts;
    for (int i = 0; i < 12; ++i)
        hosts.push_back(write("f" + std::to_string(i) + ".bin", pattern_bytes(static_cast<size_t>(i) * 9000 + 1, i + 1)));
    std::vector<Bytes> results;
    for (const char *jobs : {"1", "4"}) {
        const std::string path = file(std::string("j") + jobs + ".pak");
        ASSERT_EQ(pak({"create", path, "--packed-dir"}).status, 0);
        std::vector<std::string> args{"add", path, "-j", jobs};
        args.insert(args.end(), hosts.begin(), hosts.end());
        const Result r = pak(args);
        ASSERT_EQ(r.status, 0) << r.err;
        results.push_back(read(path));
    }
    EXPECT_EQ(results[0], results[1]);
    const Parsed p = parse(results[0]);
    ASSERT_EQ(p.records.size(), 12u);
    EXPECT_EQ(p.records[11].name, "f11.bin");
}

TEST_F(Write, AddRefusesBadInputBeforeTouchingTheArchive)
{
    const std::string path = made("keep.pak", {}, {{"#:\\x", bytes_of("x")}});
    const Bytes before = read(path);
    const std::string host = write("h.txt", bytes_of("h"));
    // A sparse file beyond what 32-bit signed offsets address.
    const std::string huge = file("huge.bin");
    write("huge.bin", {});
    fs::resize_file(huge, 0x90000000ull);

    const struct {
        std::vector<std::string> args;
        int status;
        const char *says;
    } cases[] = {
        {{"add", path, huge}, 1, "too large for an archive"},
        {{"add", path, huge, "--store"}, 1, "too large for an archive"},
        {{"add", path, host, file("missing.txt")}, 1, "cannot read the file"},
        {{"add", path, host, "--as", std::string(40, 'n')}, 1, "1 to 39 characters"},
        {{"add", path, host, "--as", "a*.txt"}, 1, "cannot hold"},
        {{"add", path, host, host, "--as", "x"}, 2, "one file only"},
        {{"add", path, host, "-j", "0"}, 2, "-j takes"},
        {{"add", file("none.pak"), host}, 1, "cannot open the file"},
    };
    for (const auto &c : cases) {
        const Result r = pak(c.args);
        EXPECT_EQ(r.status, c.status) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(read(path), before) << c.says;
    }
    EXPECT_FALSE(fs::exists(path + ".pak-new"));
}

TEST_F(Write, DeleteFreesEveryLiveEntryOfTheNames)
{
    const std::string path = made("d.pak", {"--drives", "@"}, {{"a.txt", bytes_of("a")}, {"b.txt", bytes_of("b")}});
    const std::string host = write("a.txt", bytes_of("a2"));
    ASSERT_EQ(pak({"add", path, host, "--keep-old"}).status, 0);

    ASSERT_EQ(pak({"delete", path, "A.TXT"}).status, 0);
    const Parsed p = parse(read(path));
    EXPECT_EQ(p.live(), std::vector<std::string>{"b.txt"});
    EXPECT_EQ(p.records.size(), 3u);
    EXPECT_EQ(pak({"list", "-a", path}).out, "[free]\nb.txt\n[free]\n");

    const Bytes before = read(path);
    const Result r = pak({"delete", path, "b.txt", "missing.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("pak: missing.txt: no such entry"), std::string::npos);
    EXPECT_EQ(read(path), before) << "a failed delete changes nothing";
}

TEST_F(Write, RenameKeepsTheFolderAndRefusesClashes)
{
    const std::string path = made("n.pak", {}, {{"#:\\dir\\a.txt", bytes_of("a")}, {"#:\\dir\\b.txt", bytes_of("b")}});
    ASSERT_EQ(pak({"rename", path, "#:\\dir\\a.txt", "c.txt"}).status, 0);
    EXPECT_EQ(parse(read(path)).live(), (std::vector<std::string>{"#:\\dir\\c.txt", "#:\\dir\\b.txt"}));
    ASSERT_EQ(pak({"rename", path, "dir\\c.txt", "#:\\dir\\C.TXT"}).status, 0);  // full name, same folder
    EXPECT_EQ(parse(read(path)).live()[0], "#:\\dir\\C.TXT");

    const Bytes before = read(path);
    const struct {
        const char *name, *new_name, *says;
    } refused[] = {
        {"#:\\dir\\C.TXT", "b.txt", "an entry of that name exists"},
        {"#:\\dir\\C.TXT", "other\\x.txt", "keeps the entry in its folder"},
        {"#:\\dir\\C.TXT", "abcdefghijklmnopqrstuvwxyz0123456789", "exceed 39 characters"},
        {"#:\\dir\\C.TXT", "x?.txt", "not a file name"},
        {"#:\\dir\\none", "x.txt", "no such entry"},
    };
    for (const auto &c : refused) {
        const Result r = pak({"rename", path, c.name, c.new_name});
        EXPECT_EQ(r.status, 1) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_EQ(read(path), before);
}

TEST_F(Write, CompactDropsFreedDataAndKeepsABackup)
{
    const Bytes big = pattern_bytes(150000, 3);  // copied in several pieces
    for (bool packed : {false, true}) {
        const std::string path = made(packed ? "c2.pak" : "c1.pak", packed ? std::vector<std::string>{"--packed-dir"} : std::vector<std::string>{},
                                      {{"#:\\a", bytes_of("aa")}, {"#:\\b", big}, {"#:\\c", bytes_of("cc")}});
        ASSERT_EQ(pak({"delete", path, "#:\\a"}).status, 0);
        const Bytes before = read(path);
        const Result r = pak({"compact", path});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("2 entries"), std::string::npos) << r.out;

        const Parsed p = parse(read(path));
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.entry_count, 2u);
        EXPECT_EQ(p.records[0].data_offset, 24u);
        EXPECT_EQ(p.records[1].data_offset, 24u + p.records[0].stored_size);
        EXPECT_EQ(p.records[0].data, packed_block(big));
        EXPECT_EQ(p.dir_end, read(path).size());
        const std::string backup = path.substr(0, path.size() - 4) + ".BAK";
        EXPECT_EQ(read(backup), before);
    }
    const std::string named_like_backup = made("x.BAK", {}, {});
    const Result r = pak({"compact", named_like_backup});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("backup"), std::string::npos);
}

TEST_F(Write, AttachAppendsWithATrailerAndRefusesSignedTargets)
{
    const std::string archive = made("p.pak", {"--packed-dir"}, {{"#:\\Korin3.EXE", pattern_bytes(3000, 9)}});
    const Bytes exe = minimal_pe(0x2200);
    const std::string target = write("upd.exe", exe);
    ASSERT_EQ(pak({"attach", target, archive}).status, 0);
    const Bytes out = read(target);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 0x2200), exe);
    EXPECT_EQ(Bytes(out.begin() + 0x2200, out.end() - 4), read(archive));
    EXPECT_EQ(get_u32(out, out.size() - 4), 0x2200u);
    EXPECT_EQ(pak({"list", target}).out, "#:\\Korin3.EXE\n");

    const struct {
        const char *label;
        Bytes target;
        const char *says;
    } refused[] = {
        {"signed", signed_pe(exe), "already signed"},
        {"attached", out, "already carries an archive"},
    };
    for (const auto &c : refused) {
        const std::string path = write("t.exe", c.target);
        const Result r = pak({"attach", path, archive});
        EXPECT_EQ(r.status, 1) << c.label;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(read(path), c.target) << c.label;
    }
}

// A failure at any write, create, rename or allocation leaves the archive
// as it was before the command, or as the command would have made it.
TEST_F(Write, AFailureAnywhereLeavesAValidArchive)
{
    const std::string host = write("new.bin", pattern_bytes(20000, 5));
    const struct {
        const char *label;
        std::vector<std::string> args;  // "%A" stands for the archive
    } commands[] = {
        {"add", {"add", "%A", host}},
        {"delete", {"delete", "%A", "#:\\b"}},
        {"rename", {"rename", "%A", "#:\\b", "z"}},
        {"compact", {"compact", "%A"}},
    };
    for (const auto &c : commands) {
        // The bytes a successful run leaves, to compare failed runs with.
        const auto fresh = [&] {
            fs::remove(file("f.pak"));
            const std::string path = made("f.pak", {}, {{"#:\\a", bytes_of("a")}, {"#:\\b", pattern_bytes(9000, 1)}});
            EXPECT_EQ(pak({"delete", path, "#:\\a"}).status, 0);
            fs::remove(file("f.BAK"));
            return path;
        };
        std::vector<std::string> args = c.args;
        const std::string path = fresh();
        for (auto &a : args)
            if (a == "%A") a = path;
        const Bytes old_bytes = read(path);
        ASSERT_EQ(pak(args).status, 0) << c.label;
        const Bytes new_bytes = read(path);

        int failures = 0;
        for (long nth = 1;; ++nth) {
            fresh();
            fault_arm(FAULT_ALL, nth, false);
            const Result r = pak(args);
            const long injected = fault_injected();
            fault_disarm();
            if (injected == 0) break;  // ran to the end without meeting a fault
            ++failures;
            const Bytes now = read(path);
            EXPECT_EQ(now, r.status == 0 ? new_bytes : old_bytes) << c.label << " fault " << nth << " status " << r.status;
            EXPECT_FALSE(fs::exists(path + ".pak-new")) << c.label << " fault " << nth;
        }
        EXPECT_GT(failures, 3) << c.label;
    }
}

TEST_F(Write, ArchivesBuiltByPakServeTheUpdateProgramsReadPath)
{
    // The payload: '#' names with their prefix, a packed directory, attached;
    // the update program unpacks it with extract_file.
    const Bytes game = pattern_bytes(40000, 11);
    const std::string payload = made("payload.pak", {"--packed-dir"}, {{"#:\\Korin3.EXE", game}});
    const std::string exe = write("upd.exe", fake_exe(0x2000));
    ASSERT_EQ(pak({"attach", exe, payload}).status, 0);
    ASSERT_GE(vfs_mount(exe.c_str(), DISK_READ), 0);
    EXPECT_EQ(extract_file(file("Korin3.EXE").c_str(), "#:\\Korin3.EXE"), 0);
    vfs_unmount_all();
    EXPECT_EQ(read(file("Korin3.EXE")), game);

    // The game's Update.PAK: '@', bare names, probed with the switch on.
    const std::string update = made("Update.PAK", {"--drives", "@"}, {{"Update06.txt", bytes_of("6")}});
    ASSERT_GE(vfs_mount(update.c_str(), DISK_READ), 0);
    vfs_set_drive_strip(1);
    char found[260];
    EXPECT_EQ(vfs_find_first("@:\\Update06.txt", 128, found), 0);
    EXPECT_STREQ(found, "Update06.txt");
    EXPECT_EQ(vfs_find_first("@:\\Update07.txt", 128, found), -1);
    vfs_set_drive_strip(0);
    vfs_unmount_all();
}

}  // namespace
}  // namespace pakt
