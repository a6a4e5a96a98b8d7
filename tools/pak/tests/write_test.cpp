// pak create, add, delete, rename, compact and attach. Results are compared
// byte for byte with what the independent writer makes of the same
// description; and a failed command leaves the archive as it was.
#include <filesystem>

#include "driver/update.h"
#include "platform/fault.h"
#include "tools/pak/tests/harness.h"

namespace pakt {
namespace {

using namespace testpak;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// An archive description for the independent writer.
Archive described(uint8_t drive, bool packed, std::vector<Entry> entries, uint32_t user_value = 0)
{
    Archive a;
    a.first_drive = a.last_drive = drive;
    a.packed_directory = packed;
    a.user_value = user_value;
    a.entries = std::move(entries);
    return a;
}

// A freed record as pak leaves it once another change has mounted it: data
// and size kept, the name's first byte zeroed by that mount.
Entry freed(Entry e)
{
    e.free = true;
    e.name[0] = 0;
    return e;
}

class Write : public PakTest {
protected:
    // create with the options, then one add per file under its stored name.
    std::string made(const std::string &name, const Names &create_options,
                     const std::vector<std::pair<std::string, Bytes>> &files)
    {
        const std::string path = file(name);
        Names create{"create", path};
        create.insert(create.end(), create_options.begin(), create_options.end());
        EXPECT_EQ(pak(create).status, 0);
        for (const auto &[stored, content] : files)
            EXPECT_EQ(pak({"add", path, write("host.bin", content), "--as", stored}).status, 0);
        return path;
    }
    // A plain archive keeps what its 4096 bytes of first directory space
    // leave behind the directory.
    Bytes plain_tail(Archive a) const
    {
        const size_t size = build(a).size();
        a.after_directory = Bytes(size < 4120 ? 4120 - size : 0);
        return build(a);
    }
};

TEST_F(Write, CreateMakesTheEmptyArchive)
{
    // The empty form itself is proven where the library writes it; here the
    // options reach it.
    const std::string made_path = file("new.pak");
    ASSERT_EQ(pak({"create", made_path, "--packed-dir", "--drives", "A-Z", "--user-value", "0xDEADBEEF"}).status, 0);
    Archive expected = described('A', true, {}, 0xDEADBEEF);
    expected.last_drive = 'Z';
    EXPECT_EQ(read(made_path), build(expected));

    const std::string existing = write("old.pak", bytes_of("precious"));
    const struct {
        Names args;
        int status;
    } refused[] = {
        {{"create", existing}, 1},       // never replaces a file
        {{"create", file("x.exe")}, 1},  // would read as a program
        {{"create", file("y.pak"), "--drives", "Z-A"}, 2},
        {{"create", file("y.pak"), "--user-value", "-1"}, 2},
    };
    for (const auto &c : refused) EXPECT_EQ(pak(c.args).status, c.status) << c.args.back();
    EXPECT_EQ(read(existing), bytes_of("precious"));
    EXPECT_FALSE(fs::exists(file("x.exe")) || fs::exists(file("y.pak")));
}

TEST_F(Write, AddStoresPackedBlocksOrRawBytesUnderTheirNames)
{
    const std::string path = file("a.pak");
    ASSERT_EQ(pak({"create", path, "--drives", "@"}).status, 0);
    const Bytes one = pattern_bytes(5000, 1), two = pattern_bytes(300, 2), three = bytes_of("raw\r\n");
    ASSERT_EQ(pak({"add", path, write("one.bin", one), write("two.txt", two)}).status, 0);
    ASSERT_EQ(pak({"add", path, write("three.txt", three), "--store", "--as", "sub\\Three.TXT"}).status, 0);
    EXPECT_EQ(read(path), plain_tail(described('@', false, {packed_entry("one.bin", one), packed_entry("two.txt", two),
                                                           raw_entry("sub\\Three.TXT", three)})));
}

TEST_F(Write, AddReplacesALiveEntryUnlessToldToKeepIt)
{
    const std::string path = made("r.pak", {"--packed-dir"}, {{"#:\\a.txt", bytes_of("version 1")}});
    const std::string v2 = write("a.txt", bytes_of("version 2"));
    ASSERT_EQ(pak({"add", path, v2, "--as", "#:\\A.TXT"}).status, 0);
    ASSERT_EQ(pak({"add", path, v2, "--as", "#:\\a.txt", "--keep-old", "--store"}).status, 0);
    EXPECT_EQ(read(path), build(described('#', true, {freed(packed_entry("#:\\a.txt", bytes_of("version 1"))),
                                                       packed_entry("#:\\A.TXT", bytes_of("version 2")),
                                                       raw_entry("#:\\a.txt", "version 2")})));
}

TEST_F(Write, AddOnSeveralThreadsGivesTheSameArchive)
{
    Names hosts;
    std::vector<Entry> expected;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        const Bytes content = pattern_bytes(static_cast<size_t>(i) * 9000 + 1, i + 1);
        hosts.push_back(write(name, content));
        expected.push_back(packed_entry(name, content));
    }
    for (const char *jobs : {"1", "8"}) {
        const std::string path = file(std::string("j") + jobs + ".pak");
        ASSERT_EQ(pak({"create", path, "--packed-dir", "--drives", "@"}).status, 0);
        Names args{"add", path, "-j", jobs};
        args.insert(args.end(), hosts.begin(), hosts.end());
        ASSERT_EQ(pak(args).status, 0);
        EXPECT_EQ(read(path), build(described('@', true, expected))) << jobs << " threads";
    }
}

TEST_F(Write, AddRefusesBadInputBeforeTouchingTheArchive)
{
    const std::string path = made("keep.pak", {}, {{"#:\\x", bytes_of("x")}});
    const Bytes before = read(path);
    const std::string host = write("h.txt", bytes_of("h"));
    // A sparse file beyond what 32-bit signed offsets address.
    const std::string huge = write("huge.bin", {});
    fs::resize_file(huge, 0x90000000ull);

    const struct {
        Names args;
        int status;
        const char *says;
    } cases[] = {
        {{"add", path, huge}, 1, "too large for an archive"},
        {{"add", path, huge, "--store"}, 1, "too large for an archive"},
        {{"add", path, host, file("missing.txt")}, 1, "cannot read the file"},
        {{"add", path, host, "--as", std::string(40, 'n')}, 1, "1 to 39 characters"},
        {{"add", path, host, "--as", "a*.txt"}, 1, "cannot hold"},
        {{"add", path, host, host, "--as", "x"}, 2, "one file only"},
        {{"add", file("none.pak"), host}, 1, "cannot open the file"},
    };
    for (const auto &c : cases) {
        const Result r = pak(c.args);
        EXPECT_EQ(r.status, c.status) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_EQ(read(path), before);
    EXPECT_FALSE(fs::exists(path + ".pak-new"));
}

TEST_F(Write, DeleteAndRenameChangeOnlyTheDirectory)
{
    const Bytes a = bytes_of("a"), b = bytes_of("b");
    const std::string path = made("e.pak", {"--packed-dir"},
                                  {{"#:\\dir\\a.txt", a}, {"#:\\dir\\b.txt", b}, {"#:\\dir\\a.txt", a}});
    ASSERT_EQ(pak({"add", path, write("a2", a), "--as", "#:\\dir\\A.TXT", "--keep-old"}).status, 0);
    // Every live entry of the name goes; the other is renamed in its folder.
    ASSERT_EQ(pak({"delete", path, "dir\\a.txt"}).status, 0);
    ASSERT_EQ(pak({"rename", path, "#:\\dir\\b.txt", "C.txt"}).status, 0);
    // The directory is written back where it stood; a shorter packed form
    // leaves the end of the longer one behind it, where no reader looks.
    const Bytes expected = build(described('#', true, {freed(packed_entry("#:\\dir\\a.txt", a)), packed_entry("#:\\dir\\C.txt", b),
                                                       freed(packed_entry("#:\\dir\\a.txt", a)), freed(packed_entry("#:\\dir\\A.TXT", a))}));
    const Bytes now = read(path);
    ASSERT_GE(now.size(), expected.size());
    EXPECT_EQ(Bytes(now.begin(), now.begin() + static_cast<long>(expected.size())), expected);

    const Bytes before = read(path);
    const struct {
        Names args;
        const char *says;
    } refused[] = {
        {{"delete", path, "#:\\dir\\C.txt", "missing.txt"}, "no such entry"},  // all or nothing
        {{"rename", path, "#:\\dir\\none", "x.txt"}, "no such entry"},
        {{"rename", path, "#:\\dir\\C.txt", "#:\\other\\x.txt"}, "keeps the entry in its folder"},
        {{"rename", path, "#:\\dir\\C.txt", std::string(33, 'x')}, "exceed 39 characters"},
        {{"rename", path, "#:\\dir\\C.txt", "x?.txt"}, "not a file name"},
    };
    for (const auto &c : refused) {
        const Result r = pak(c.args);
        EXPECT_EQ(r.status, 1) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    ASSERT_EQ(pak({"add", path, write("d", b), "--as", "#:\\dir\\D.txt"}).status, 0);
    EXPECT_NE(pak({"rename", path, "dir\\C.txt", "d.TXT"}).err.find("an entry of that name exists"), std::string::npos);
    EXPECT_EQ(pak({"list", path}).out, "#:\\dir\\C.txt\n#:\\dir\\D.txt\n");
}

TEST_F(Write, AnArchiveServingNoDriveIsNotChanged)
{
    // Its names would be routed to the disk, where "Z:\\x" is a host file.
    Archive a = described('Z', false, {raw_entry("x", "x")});
    a.last_drive = 'A';
    const std::string path = write("reversed.pak", build(a));
    for (const Names &args : {Names{"add", path, write("x", bytes_of("y"))}, Names{"delete", path, "x"},
                              Names{"rename", path, "x", "y"}}) {
        EXPECT_NE(pak(args).err.find("serves no drive"), std::string::npos) << args[0];
        EXPECT_EQ(read(path), build(a)) << args[0];
    }
}

TEST_F(Write, CompactKeepsLiveEntriesAndABackup)
{
    const Bytes big = pattern_bytes(150000, 3);  // copied in several pieces
    const std::string path = made("c.pak", {"--packed-dir"},
                                  {{"#:\\a", bytes_of("aa")}, {"#:\\b", big}, {"#:\\c", bytes_of("cc")}});
    ASSERT_EQ(pak({"delete", path, "#:\\a"}).status, 0);
    const Bytes before = read(path);
    const Result r = pak({"compact", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("2 entries"), std::string::npos) << r.out;
    EXPECT_EQ(read(path), build(described('#', true, {packed_entry("#:\\b", big), packed_entry("#:\\c", bytes_of("cc"))})));
    EXPECT_EQ(read(file("c.BAK")), before);
    EXPECT_NE(pak({"compact", made("x.BAK", {}, {})}).err.find("backup's name"), std::string::npos);
}

TEST_F(Write, AttachAppendsWithATrailerAndRefusesSignedTargets)
{
    const std::string archive = made("p.pak", {"--packed-dir"}, {{"#:\\Korin3.EXE", pattern_bytes(3000, 9)}});
    const Bytes exe = minimal_pe(0x2200);
    const std::string target = write("upd.exe", exe);
    ASSERT_EQ(pak({"attach", target, archive}).status, 0);
    const Bytes out = read(target);
    EXPECT_EQ(out, appended(exe, read(archive)));
    EXPECT_EQ(pak({"list", target}).out, "#:\\Korin3.EXE\n");

    const struct {
        Bytes target;
        const char *says;
    } refused[] = {{signed_pe(exe), "already signed"}, {out, "already carries an archive"}};
    for (const auto &c : refused) {
        const std::string path = write("t.exe", c.target);
        EXPECT_NE(pak({"attach", path, archive}).err.find(c.says), std::string::npos) << c.says;
        EXPECT_EQ(read(path), c.target) << c.says;
    }
}

// A failure at any write, create, rename or allocation leaves the archive
// as it was before the command, or as the command would have made it.
TEST_F(Write, AFailureAnywhereLeavesAValidArchive)
{
    const std::string host = write("new.bin", pattern_bytes(20000, 5));
    const Names commands[] = {
        {"add", "%A", host}, {"delete", "%A", "#:\\b"}, {"rename", "%A", "#:\\b", "z"}, {"compact", "%A"}};
    const auto fresh = [&] {
        fs::remove(file("f.pak"));
        fs::remove(file("f.BAK"));
        return made("f.pak", {}, {{"#:\\a", bytes_of("a")}, {"#:\\b", pattern_bytes(9000, 1)}});
    };
    for (Names args : commands) {
        const std::string path = fresh();
        for (auto &a : args)
            if (a == "%A") a = path;
        const Bytes old_bytes = read(path);
        ASSERT_EQ(pak(args).status, 0) << args[0];
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
            EXPECT_EQ(read(path), r.status == 0 ? new_bytes : old_bytes) << args[0] << " fault " << nth;
            EXPECT_FALSE(fs::exists(path + ".pak-new")) << args[0] << " fault " << nth;
        }
        EXPECT_GT(failures, 3) << args[0];
    }
}

TEST_F(Write, ArchivesBuiltByPakServeTheUpdateProgramsReadPath)
{
    // The payload: '#' names with their prefix, a packed directory, attached;
    // the update program unpacks it with extract_file.
    const Bytes game = pattern_bytes(40000, 11);
    const std::string exe = write("upd.exe", fake_exe(0x2000));
    ASSERT_EQ(pak({"attach", exe, made("payload.pak", {"--packed-dir"}, {{"#:\\Korin3.EXE", game}})}).status, 0);
    ASSERT_GE(vfs_mount(exe.c_str(), DISK_READ), 0);
    EXPECT_EQ(extract_file(file("Korin3.EXE").c_str(), "#:\\Korin3.EXE"), 0);
    vfs_unmount_all();
    EXPECT_EQ(read(file("Korin3.EXE")), game);
}

}  // namespace
}  // namespace pakt
