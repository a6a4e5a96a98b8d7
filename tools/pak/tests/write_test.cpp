// pak create, add, delete, rename, compact and attach, compared byte for byte
// with what the independent writer makes of the same description.
#include <filesystem>
#include <set>

#include "platform/error.h"
#include "tools/pak/tests/harness.h"

namespace pak_harness {
namespace {

namespace fs = std::filesystem;

Archive described(uint8_t drive, bool packed, std::vector<Entry> entries)
{
    Archive a;
    a.first_drive = a.last_drive = drive;
    a.packed_directory = packed;
    a.entries = std::move(entries);
    return a;
}

// Freed by pak once another change mounted it: data kept, the name's first byte zeroed.
Entry freed(Entry e)
{
    e.free = true;
    e.name[0] = 0;
    return e;
}

class Write : public PakTest {
protected:
    std::string made(const std::string &name, const Names &options, const std::vector<std::pair<std::string, Bytes>> &files)
    {
        const std::string path = file(name);
        Names create{"create", path};
        create.insert(create.end(), options.begin(), options.end());
        EXPECT_EQ(pak(create).status, 0);
        for (const auto &[stored, content] : files) EXPECT_EQ(pak({"add", path, write("host.bin", content), "--as", stored}).status, 0);
        return path;
    }
    void expect_refused(const Names &args, int status, const char *says)
    {
        const Result r = pak(args);
        EXPECT_EQ(r.status, status) << says;
        EXPECT_TRUE(r.says(says)) << says << "\nin\n" << r.err;
    }
};

TEST_F(Write, CreateTakesItsOptionsAndNeverReplacesAFile)
{
    const std::string made_path = file("new.pak");
    ASSERT_EQ(pak({"create", made_path, "--packed-dir", "--drives", "A-Z", "--user-value", "0xDEADBEEF"}).status, 0);
    Archive expected = described('A', true, {});
    expected.last_drive = 'Z';
    expected.user_value = 0xDEADBEEF;
    EXPECT_EQ(read(made_path), build(expected));

    const std::string existing = write("old.pak", bytes_of("precious"));
    for (const auto &[args, status] : std::vector<std::pair<Names, int>>{
             {{"create", existing}, 1}, {{"create", file("x.exe")}, 1},  // would read as a program
             {{"create", file("y.pak"), "--drives", "Z-A"}, 2}, {{"create", file("y.pak"), "--user-value", "-1"}, 2}})
        EXPECT_EQ(pak(args).status, status) << args.back();
    EXPECT_EQ(read(existing), bytes_of("precious"));
    EXPECT_FALSE(fs::exists(file("x.exe")) || fs::exists(file("y.pak")));
}

TEST_F(Write, AddPacksOrStoresAndReplacesUnlessToldToKeep)
{
    const std::string path = made("a.pak", {"--packed-dir"}, {{"#:\\a.txt", bytes_of("version 1")}});
    const Bytes one = pattern_bytes(5000, 1);
    const std::string v2 = write("a.txt", bytes_of("version 2"));
    ASSERT_EQ(pak({"add", path, v2, "--as", "#:\\A.TXT"}).status, 0);
    ASSERT_EQ(pak({"add", path, v2, "--as", "#:\\a.txt", "--keep-old", "--store"}).status, 0);
    ASSERT_EQ(pak({"add", path, write("one.bin", one), "--as", "#:\\sub\\One.bin"}).status, 0);
    EXPECT_EQ(read(path), build(described('#', true, {freed(packed_entry("#:\\a.txt", bytes_of("version 1"))),
                                                       packed_entry("#:\\A.TXT", bytes_of("version 2")),
                                                       raw_entry("#:\\a.txt", "version 2"), packed_entry("#:\\sub\\One.bin", one)})));
}

TEST_F(Write, AddOnSeveralThreadsGivesTheSameBytes)
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

TEST_F(Write, BadInputIsRefusedBeforeTheArchiveIsTouched)
{
    const Bytes a = bytes_of("a");
    const std::string path = made("e.pak", {}, {{"#:\\dir\\C.txt", a}, {"#:\\dir\\D.txt", a}});
    const std::string host = write("h.txt", a), huge = write("huge.bin", {});
    fs::resize_file(huge, 0x90000000ull);  // sparse, beyond 32-bit signed offsets
    Archive reversed = described('Z', false, {raw_entry("x", "x")});  // serves no drive: "Z:\\x" is a host file
    reversed.last_drive = 'A';
    const std::string no_drive = write("reversed.pak", build(reversed));
    const Bytes before = read(path);
    const struct {
        Names args;
        int status;
        const char *says;
    } cases[] = {
        {{"add", path, huge, "--store"}, 1, "too large for an archive"},
        {{"add", path, host, file("missing.txt")}, 1, "missing.txt: cannot read: not found"},
        {{"add", path, host, "--as", std::string(40, 'n')}, 1, "the name is 40 bytes; a stored name holds at most 39 bytes"},
        {{"add", path, host, "--as", "a*.txt"}, 1, "cannot hold"},
        {{"add", path, host, host, "--as", "x"}, 2, "one file only"},
        // Names that extract would refuse to write.
        {{"add", path, host, "--as", "..\\evil.txt"}, 1, "..\\evil.txt: a '.' or '..' part"},
        {{"add", path, host, "--as", "#:\\CON"}, 1, "device name; --force stores it anyway"},
        {{"add", path, host, "--as", "dir\\"}, 1, "an empty part"},
        {{"add", path, host, "--as", "\\abs.txt"}, 1, "an absolute name"},
        {{"add", path, host, "--as", "a\x01.txt"}, 1, "a\\x01.txt: the name holds a character"},
        {{"add", file("none.pak"), host}, 1, "none.pak: cannot open: not found"},
        {{"delete", path, "#:\\dir\\C.txt", "missing.txt"}, 1, "no such entry"},  // all or nothing
        {{"rename", path, "#:\\dir\\none", "x.txt"}, 1, "no such entry"},
        {{"rename", path, "#:\\dir\\C.txt", "#:\\other\\x.txt"}, 1, "keeps the entry in its folder"},
        {{"rename", path, "#:\\dir\\C.txt", std::string(33, 'x')}, 1, "would be 40 bytes with its folder; a stored name holds at most 39"},
        {{"rename", path, "#:\\dir\\C.txt", "x?.txt"}, 1, "not a file name"},
        {{"rename", path, "dir\\C.txt", "d.TXT"}, 1, "an entry of that name exists"},
        {{"add", no_drive, host}, 1, "serves no drive"},
        {{"delete", no_drive, "x"}, 1, "serves no drive"},
        {{"compact", made("x.BAK", {}, {})}, 1, "backup's name"},
    };
    for (const auto &c : cases) expect_refused(c.args, c.status, c.says);
    EXPECT_EQ(read(path), before);
    EXPECT_EQ(read(no_drive), build(reversed));
    EXPECT_FALSE(fs::exists(path + ".pak-new"));
}

// The largest file that add takes is the one an empty archive has room for,
// by the reckoning that refuses a full archive, so that the two refusals
// never contradict each other: one byte more is too large for any archive,
// and that file beside another does not fit.
TEST_F(Write, TheLimitOfOneFileIsWhatAnEmptyArchiveHolds)
{
    // 2 GiB less the header, one record and the codec's worst case: below
    // it by at most a few MB, whichever codec packs.
    const std::string path = made("e.pak", {}, {}), small = write("small.txt", bytes_of("s"));
    const auto sparse = [&](const std::string &name, long long size) {
        const std::string p = write(name, {});
        fs::resize_file(p, static_cast<uintmax_t>(size));
        return p;
    };
    const Bytes before = read(path);
    for (const bool store : {false, true}) {
        Names words{"add", path, sparse("big.bin", 2147483647LL)};
        if (store) words.push_back("--store");
        const Result said = pak(words);
        const size_t at = said.err.find("at most ");
        ASSERT_NE(at, std::string::npos) << said.err;
        const long long limit = std::stoll(said.err.substr(at + 8));
        EXPECT_GT(limit, 2147483647LL - (store ? 1024 : 8 << 20));
        const std::string one_more = "too large for an archive (" + std::to_string(limit + 1) + " bytes; at most " +
                                     std::to_string(limit) + ")";
        words[2] = sparse("over.bin", limit + 1);
        Result r = pak(words);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.says(one_more)) << one_more << "\nin\n" << r.err;
        // The largest file fits alone; with another, the archive is what is too large.
        words[2] = sparse("at.bin", limit);
        words.insert(words.begin() + 3, small);
        r = pak(words);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.says("the files do not fit: the archive would exceed 2147483647 bytes")) << r.err;
        EXPECT_FALSE(r.says("too large")) << r.err;
    }
    EXPECT_EQ(read(path), before);
}

TEST_F(Write, AnArchiveNamedDashIsRefused)
{
    const fs::path was = fs::current_path();
    fs::current_path(dir.path());
    const Result r = pak({"create", "-"});
    fs::current_path(was);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.says("pak: create: an archive named '-' is almost always a mistake; write ./- to make one")) << r.err;
    EXPECT_FALSE(fs::exists(dir.path() / "-"));
    EXPECT_EQ(pak({"create", file("-")}).status, 0) << "named with its folder, it is made";
}

TEST_F(Write, ForceStoresARefusedNameAndTwoFilesUnderOneNameAreRefusedUnlessKeepOld)
{
    const std::string path = made("e.pak", {}, {});
    const Result forced = pak({"add", path, write("h.txt", bytes_of("h")), "--as", "CON", "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    fs::create_directory(dir.path() / "a");
    const std::string first = write("a/X.txt", bytes_of("1")), second = write("x.TXT", bytes_of("2"));
    const Bytes before = read(path);
    const Result twice = pak({"add", path, first, second});
    EXPECT_EQ(twice.status, 1);
    EXPECT_EQ(twice.err, "pak: X.txt: " + first + " and " + second +
                             " would both be stored under this name; nothing is added (--keep-old adds both)\n"
                             "pak: " + path + ": 1 name is given to two files; it is unchanged\n");
    EXPECT_EQ(read(path), before);
    EXPECT_TRUE(pak({"add", path, first, second, "--keep-old"}).err.empty());
    EXPECT_EQ(pak({"list", path}).out, "CON\nX.txt\nx.TXT\n");
}

TEST_F(Write, DeleteAndRenameChangeOnlyTheDirectory)
{
    const Bytes a = bytes_of("a"), b = bytes_of("b");
    const std::string path = made("e.pak", {"--packed-dir"}, {{"#:\\dir\\a.txt", a}, {"#:\\dir\\b.txt", b}, {"#:\\dir\\a.txt", a}});
    ASSERT_EQ(pak({"add", path, write("a2", a), "--as", "#:\\dir\\A.TXT", "--keep-old"}).status, 0);
    ASSERT_EQ(pak({"delete", path, "dir\\a.txt"}).status, 0);  // every live entry of the name
    ASSERT_EQ(pak({"rename", path, "#:\\dir\\b.txt", "C.txt"}).status, 0);
    // Written back where it stood; a shorter packed form leaves the end of the
    // longer one behind it, where no reader looks.
    const Bytes expected = build(described('#', true, {freed(packed_entry("#:\\dir\\a.txt", a)), packed_entry("#:\\dir\\C.txt", b),
                                                       freed(packed_entry("#:\\dir\\a.txt", a)), freed(packed_entry("#:\\dir\\A.TXT", a))}));
    const Bytes now = read(path);
    ASSERT_GE(now.size(), expected.size());
    EXPECT_EQ(Bytes(now.begin(), now.begin() + static_cast<long>(expected.size())), expected);
}

TEST_F(Write, CompactKeepsLiveEntriesAndABackup)
{
    const Bytes big = pattern_bytes(150000, 3);  // copied in several pieces
    const std::string path = made("c.pak", {"--packed-dir"}, {{"#:\\a", bytes_of("aa")}, {"#:\\b", big}, {"#:\\c", bytes_of("cc")}});
    ASSERT_EQ(pak({"delete", path, "#:\\a"}).status, 0);
    const Bytes before = read(path);
    const Result r = pak({"compact", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("2 entries"), std::string::npos) << r.out;
    EXPECT_EQ(read(path), build(described('#', true, {packed_entry("#:\\b", big), packed_entry("#:\\c", bytes_of("cc"))})));
    EXPECT_EQ(read(file("c.BAK")), before);
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
    for (const auto &[bytes, says] : std::vector<std::pair<Bytes, const char *>>{
             {signed_pe(exe), "already signed"}, {out, "already carries an archive"}}) {
        expect_refused({"attach", write("t.exe", bytes), archive}, 1, says);
        EXPECT_EQ(read(file("t.exe")), bytes) << says;
    }
}

TEST_F(Write, AttachRefusesAFileThatIsNoProgramUnlessForced)
{
    const std::string archive = made("p.pak", {}, {{"#:\\a", bytes_of("aa")}});
    Bytes no_pe_signature = minimal_pe(0x400);
    no_pe_signature[get_u32(no_pe_signature, 0x3C)] = 'X';
    for (const Bytes &bytes : {bytes_of("root:x:0:0::/root:/bin/sh\n"), fake_exe(4096), no_pe_signature}) {
        expect_refused({"attach", write("t.txt", bytes), archive}, 1, "not a PE program");
        EXPECT_EQ(read(file("t.txt")), bytes);
    }
    ASSERT_EQ(pak({"attach", file("t.txt"), archive, "--force"}).status, 0);
    EXPECT_EQ(read(file("t.txt")), appended(no_pe_signature, read(archive)));
}

// The new archive is made and renamed over the read-only one, and is
// read-only too, as its backup; the next compact, forced, replaces that backup.
TEST_F(Write, CompactOfAReadOnlyArchiveGivesAReadOnlyOne)
{
    const std::string path = made("a.pak", {}, {{"#:\\a", bytes_of("aa")}, {"#:\\b", bytes_of("bb")}});
    ASSERT_EQ(pak({"delete", path, "#:\\a"}).status, 0);
    const auto read_only = [&](const char *name) {
        const int h = disk_open(file(name).c_str(), DISK_READ_WRITE);
        if (h != -1) disk_close(h);
        return h == -1 && err_last() == ERR_ACCESS_DENIED;
    };
    ASSERT_EQ(disk_set_attributes(path.c_str(), FILE_ATTR_READONLY), 0);
    if (!read_only("a.pak")) GTEST_SKIP() << "read-only files are writable here";
    const fs::perms mode = fs::status(path).permissions();
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        const Bytes before = read(path);
        const Result r = pak({"compact", path, "--force"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read(file("a.BAK")), before);
        EXPECT_TRUE(read_only("a.pak"));
        EXPECT_TRUE(read_only("a.BAK"));
        EXPECT_EQ(pak({"list", path}).out, "#:\\b\n");
    }
    EXPECT_EQ(fs::status(path).permissions(), mode);
}

TEST_F(Write, OthersFilesUnderTemporaryNamesSurviveAndReplacedFilesKeepTheirMode)
{
    const std::string path = made("a.pak", {}, {{"#:\\a", bytes_of("aa")}});
    const std::string target = write("t.exe", minimal_pe(0x2200));
    const Bytes precious = bytes_of("PRECIOUS");
    const Names theirs = {"a.pak.tmp", "a.pak.pak-new", "a.BAK.tmp", "t.exe.tmp"};
    for (const std::string &name : theirs) write(name, precious);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(target, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    for (const Names &args : {Names{"add", path, write("b.bin", bytes_of("bb"))}, Names{"compact", path},
                              Names{"attach", target, path}})
        ASSERT_EQ(pak(args).status, 0) << args[0];
    std::set<std::string> left;
    for (const auto &e : fs::directory_iterator(dir.path())) left.insert(e.path().filename().string());
    std::set<std::string> expected(theirs.begin(), theirs.end());
    expected.insert({"a.pak", "a.BAK", "t.exe", "b.bin", "host.bin"});
    EXPECT_EQ(left, expected) << "a temporary file left behind";
    for (const std::string &name : theirs) EXPECT_EQ(read(file(name)), precious) << name;
#ifndef _WIN32
    const auto mode = [&](const char *name) { return fs::status(file(name)).permissions() & fs::perms::mask; };
    EXPECT_EQ(mode("a.pak"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(mode("a.BAK"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(static_cast<int>(mode("t.exe")), 0755);
#endif
}

}  // namespace
}  // namespace pak_harness
