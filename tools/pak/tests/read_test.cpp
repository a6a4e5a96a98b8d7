// pak info, list, extract, cat and verify on archives written by an
// independent writer: both forms, plain and packed directories, free
// records, names with and without drive prefixes, non-ASCII names.
#include <cstring>
#include <filesystem>

#include "tools/pak/tests/harness.h"

namespace pakt {
namespace {

using namespace testpak;

const std::string big5 = "\xA7\xF3\xB7\x73.txt";  // two Big5 characters, not UTF-8
const Bytes readme = bytes_of("hello\r\nworld\n");
const Bytes big = pattern_bytes(70000, 7);

// Five records: raw, packed in a folder, free, non-ASCII raw, packed empty.
Archive sample(bool prefixed, bool packed_dir)
{
    const std::string p = prefixed ? "#:\\" : "";
    Archive a;
    a.first_drive = a.last_drive = prefixed ? '#' : '@';
    a.packed_directory = packed_dir;
    a.user_value = 0x01020304;
    a.entries = {raw_entry(p + "readme.txt", readme), packed_entry(p + "data\\big.bin", big),
                 free_entry(p + "old.txt", bytes_of("gone")), raw_entry(p + big5, bytes_of("big5")),
                 packed_entry(p + "empty.txt", {})};
    return a;
}

struct Form {
    const char *label;
    bool prefixed, packed_dir, appended;
};
const Form forms[] = {
    {"plain, prefixed, stand-alone", true, false, false}, {"packed, prefixed, stand-alone", true, true, false},
    {"plain, bare, stand-alone", false, false, false},    {"packed, bare, appended", false, true, true},
    {"plain, prefixed, appended", true, false, true},
};

class Read : public PakTest {
protected:
    std::string make(const Form &f)
    {
        const Bytes archive = build(sample(f.prefixed, f.packed_dir));
        return f.appended ? write("game.exe", appended(fake_exe(0x2200), archive)) : write("game.pak", archive);
    }
};

TEST_F(Read, ListGivesLiveNamesInDirectoryOrder)
{
    for (const Form &f : forms) {
        const std::string p = f.prefixed ? "#:\\" : "";
        const Result r = pak({"list", make(f)});
        EXPECT_EQ(r.status, 0) << f.label << r.err;
        EXPECT_EQ(r.out, p + "readme.txt\n" + p + "data\\big.bin\n" + p + big5 + "\n" + p + "empty.txt\n") << f.label;
        // -a shows the free record, whose name the mount emptied, in its place.
        const Result all = pak({"list", "-a", make(f)});
        EXPECT_NE(all.out.find("big.bin\n[free]\n"), std::string::npos) << f.label << all.out;
    }
}

// One "-l" line: stored size, unpacked size ('-' when raw), offset, name.
std::string long_line(size_t stored, const char *unpacked, size_t offset, const std::string &name)
{
    char line[160];
    std::snprintf(line, sizeof line, "%10zu %10s %10zu  %s\n", stored, unpacked, offset, name.c_str());
    return line;
}

TEST_F(Read, ListingAndInfoShowEveryField)
{
    const size_t block = packed_block(big).size();
    Layout packed;
    build(sample(false, true), &packed);
    const std::string packed_dir = "\"dir_offset\":" + std::to_string(packed.dir_offset) + ",\"first_drive\":64,\"last_drive\":64," +
                                   "\"user_value\":16909060,\"packed_dir_size\":" + std::to_string(packed.dir_size) + "}\n";
    const struct {
        std::vector<std::string> args;
        Form form;
        std::vector<std::string> shows;
    } cases[] = {
        {{"list", "-l"}, forms[0],
         {long_line(readme.size(), "-", 24, "#:\\readme.txt") + long_line(block, "70000", 24 + readme.size(), "#:\\data\\big.bin")}},
        {{"list", "--json", "-a"}, forms[1],
         {"{\"index\":1,\"name\":\"#:\\\\data\\\\big.bin\",\"free\":false,\"stored_size\":",
          "\"packed\":true,\"unpacked_size\":70000}", "\"name_hex\":\"233a5ca7f3b7732e747874\"",
          "{\"index\":2,\"name\":\"\",\"free\":true", "]}\n"}},
        {{"info"}, forms[0],
         {"form:             stand-alone\n", "base offset:      0 (0x0)\n", "entries:          5 (4 live, 1 free)\n",
          "directory:        plain\n", "drives:           '#' (0x23) to '#' (0x23)\n",
          "user value:       16909060 (0x01020304)\n"}},
        {{"info", "--json"}, forms[3],
         {"\"form\":\"appended\"", "\"base_offset\":8704", "\"entry_count\":5", "\"live\":4", "\"free\":1",
          packed_dir}},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(make(c.form));
        const Result r = pak(args);
        EXPECT_EQ(r.status, 0) << r.err;
        for (const auto &text : c.shows) EXPECT_NE(r.out.find(text), std::string::npos) << text << "\nin\n" << r.out;
    }
}

TEST_F(Read, ExtractUnpacksIntoFoldersAndDropsThePrefix)
{
    for (const Form &f : forms) {
        TempDir out;
        const std::string archive = make(f);
        const Result r = pak({"extract", archive, "-C", out.path().string()});
        ASSERT_EQ(r.status, 0) << f.label << r.err;
        EXPECT_EQ(read_file(out.path() / "readme.txt"), readme) << f.label;
        EXPECT_EQ(read_file(out.path() / "data" / "big.bin"), big) << f.label;
        EXPECT_EQ(read_file(out.path() / "empty.txt"), Bytes{}) << f.label;
        EXPECT_EQ(disk_bytes(out.path().string() + "\\" + big5), bytes_of("big5")) << f.label;
        EXPECT_FALSE(std::filesystem::exists(out.path() / "old.txt")) << "free record extracted";
    }
}

TEST_F(Read, ExtractSelectsByPatternAndKeepsRawBlocksWhenAsked)
{
    const std::string archive = make(forms[0]);
    TempDir out;
    Result r = pak({"extract", archive, "data\\*.bin", "#:\\READ*", "-C", out.path().string(), "--raw"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(out.path() / "data" / "big.bin"), packed_block(big));
    EXPECT_EQ(read_file(out.path() / "readme.txt"), readme);
    EXPECT_FALSE(std::filesystem::exists(out.path() / "empty.txt"));

    r = pak({"extract", archive, "nothing.*", "-C", out.path().string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("pak: nothing.*: no entry matches"), std::string::npos) << r.err;
}

TEST_F(Read, ExtractRefusesNamesOutsideTheFolderAndExtractsTheRest)
{
    Archive a;
    const char *hostile[] = {"..\\evil.txt", "#:\\C:\\evil.txt", "\\evil.txt", "a\\..\\..\\evil.txt", "CON", "x\\NUL.txt"};
    for (const char *name : hostile) a.entries.push_back(raw_entry(name, "evil"));
    a.entries.push_back(raw_entry("#:\\fine.txt", "fine"));
    const std::string archive = write("hostile.pak", build(a));
    TempDir parent;
    const auto out = parent.path() / "out";
    std::filesystem::create_directory(out);

    const Result r = pak({"extract", archive, "-C", out.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(out / "fine.txt"), bytes_of("fine"));
    for (const char *name : hostile) EXPECT_NE(r.err.find(std::string(": ") + name + ": "), std::string::npos) << name;
    EXPECT_FALSE(std::filesystem::exists(parent.path() / "evil.txt"));
    size_t files = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(parent.path()); it != std::filesystem::recursive_directory_iterator(); ++it)
        files += it->is_regular_file();
    EXPECT_EQ(files, 1u) << "only fine.txt";
}

TEST_F(Read, DamagedPackedBlockIsReportedAndLeavesNoFile)
{
    Bytes broken = packed_block(big);
    broken[broken.size() / 2] ^= 0x55;  // the stream's checksum fails
    Bytes lying = packed_block(bytes_of("short"));
    put_u32(lying, 0, 0xFFFFFFF0u);  // claims gigabytes
    Archive a;
    a.entries = {raw_entry("ok.txt", "ok"), raw_entry("broken.bin", broken), raw_entry("lying.bin", lying)};
    const std::string archive = write("damaged.pak", build(a));
    TempDir out;

    const Result r = pak({"extract", archive, "-C", out.path().string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("broken.bin: damaged packed block"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lying.bin: damaged packed block"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(out.path() / "ok.txt"));
    EXPECT_FALSE(std::filesystem::exists(out.path() / "broken.bin"));
    EXPECT_FALSE(std::filesystem::exists(out.path() / "lying.bin"));

    const Result v = pak({"verify", archive});
    EXPECT_EQ(v.status, 1);
    EXPECT_NE(v.err.find("broken.bin: damaged packed block"), std::string::npos);
    EXPECT_NE(v.err.find("2 of 3 entries are bad"), std::string::npos) << v.err;
}

TEST_F(Read, CatWritesOneEntryUnpackedAndByteExact)
{
    const std::string archive = make(forms[1]);
    const struct {
        const char *name;
        Bytes content;
    } cases[] = {{"README.TXT", readme}, {"data\\big.bin", big}, {"#:\\empty.txt", {}}};
    for (const auto &c : cases) {
        const Result r = pak({"cat", archive, c.name});
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(r.out, text(c.content)) << c.name;
    }
    const Result missing = pak({"cat", archive, "old.txt"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "pak: old.txt: no such entry in " + archive + "\n");
}

TEST_F(Read, VerifyPassesGoodArchivesAndNamesBadEntries)
{
    for (const Form &f : forms) {
        const Result r = pak({"verify", make(f)});
        EXPECT_EQ(r.status, 0) << f.label << r.err;
        EXPECT_NE(r.out.find(": ok, 4 entries"), std::string::npos);
    }
    Archive a;
    Entry past = raw_entry("past.bin", "data");
    past.stored_size = 100000;
    Entry header = raw_entry("header.bin", "data");
    header.data_offset = 4;
    a.entries = {raw_entry("good.txt", "good"), past, header};
    const Result r = pak({"verify", write("bad.pak", build(a))});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("past.bin: its data runs past the end of the archive"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("header.bin: its data overlaps the header"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("good.txt"), std::string::npos);
}

TEST_F(Read, ControlCharactersInNamesAreShownEscaped)
{
    Archive a;
    a.entries = {raw_entry("evil\x1b]0;x\x07.txt", "x")};
    EXPECT_EQ(pak({"list", write("esc.pak", build(a))}).out, "evil\\x1B]0;x\\x07.txt\n");
}

// Crafted archives: every read command ends with 0 or 1 and a "pak: " line,
// never a crash (the sanitizers watch the native run).
TEST_F(Read, HostileArchivesGetAClearError)
{
    std::vector<std::pair<std::string, Bytes>> cases;
    auto crafted = [&](const std::string &label, auto change) {
        Archive a = sample(true, false);
        change(a);
        cases.push_back({label, build(a)});
    };
    crafted("bad magic", [](Archive &a) { a.magic = 0x12345678; });
    crafted("huge entry count", [](Archive &a) { a.entry_count = 0x7FFFFFFF; });
    crafted("directory past the end", [](Archive &a) { a.dir_offset = 0x7FFFFFF0; });
    crafted("directory in the header", [](Archive &a) { a.dir_offset = 4; });
    crafted("packed size lies", [](Archive &a) { a.packed_dir_size = 17; });
    crafted("huge stored size", [](Archive &a) { a.entries[0].stored_size = 0xFFFFFFFF; });
    crafted("data past the end", [](Archive &a) { a.entries[1].data_offset = 0x7FFFFF00; });
    crafted("unterminated names", [](Archive &a) {
        a.entries[0].name = std::string(40, 'N');
        a.entries[3].name = std::string(40, '\xA7');
    });
    crafted("garbage after names", [](Archive &a) { a.entries[0].name_fill = 0xFF; });
    cases.push_back({"truncated header", Bytes{'P', 'A', 'K', 'S', 1, 0}});
    cases.push_back({"empty file", Bytes{}});
    Bytes archive = build(sample(true, true));
    cases.push_back({"packed directory cut", Bytes(archive.begin(), archive.end() - 10)});
    cases.push_back({"trailer points nowhere", appended(fake_exe(100), build(sample(true, false)), 0xFFFFFF00u)});

    for (const auto &[label, bytes] : cases) {
        const std::string path = write(label.find("trailer") != std::string::npos ? "hostile.exe" : "hostile.pak", bytes);
        TempDir out;
        for (const std::vector<std::string> &cmd : std::vector<std::vector<std::string>>{
                 {"info", path}, {"list", "-la", path}, {"list", "--json", "-a", path},
                 {"extract", path, "-C", out.path().string()}, {"cat", path, "readme.txt"}, {"verify", path}}) {
            const Result r = pak(cmd);
            EXPECT_TRUE(r.status == 0 || r.status == 1) << label << " " << cmd[0];
            if (r.status != 0) {
                EXPECT_EQ(r.err.rfind("pak: ", 0), 0u) << label << " " << cmd[0] << r.err;
            }
        }
    }
}

}  // namespace
}  // namespace pakt
