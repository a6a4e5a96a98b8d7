// pak info, list, extract, cat and verify on archives from the independent writer.
#include <zlib.h>

#include <filesystem>

#include "tools/pak/tests/harness.h"

namespace pak_harness {
namespace {

namespace fs = std::filesystem;
const std::string big5 = "\xA7\xF3\xB7\x73.txt";  // not UTF-8
const Bytes readme = bytes_of("hello\r\nworld\n"), big = pattern_bytes(70000, 7);

// Raw, packed in a folder, free, non-ASCII raw, packed empty.
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

class Read : public PakTest {
protected:
    // Prefixed names in a plain stand-alone archive, or bare ones in a packed appended one.
    std::string make(bool prefixed)
    {
        const Bytes archive = build(sample(prefixed, !prefixed));
        return prefixed ? write("game.pak", archive) : write("game.exe", appended(fake_exe(0x2200), archive));
    }
};

TEST_F(Read, EveryFormListsExtractsAndVerifiesItsLiveEntries)
{
    for (const bool prefixed : {true, false}) {
        SCOPED_TRACE(prefixed ? "prefixed, stand-alone" : "bare, appended");
        const std::string p = prefixed ? "#:\\" : "", archive = make(prefixed);
        EXPECT_EQ(pak({"list", archive}).out, p + "readme.txt\n" + p + "data\\big.bin\n" + p + big5 + "\n" + p + "empty.txt\n");
        EXPECT_NE(pak({"list", "-a", archive}).out.find("big.bin\n[free]\n"), std::string::npos);
        EXPECT_NE(pak({"verify", archive}).out.find(": ok, 4 entries"), std::string::npos);
        TempDir out;
        ASSERT_EQ(pak({"extract", archive, "-C", out.path().string()}).status, 0);
        EXPECT_EQ(read_file(out.path() / "readme.txt"), readme);
        EXPECT_EQ(read_file(out.path() / "data" / "big.bin"), big);
        EXPECT_EQ(read_file(out.path() / "empty.txt"), Bytes{});
        EXPECT_EQ(disk_bytes(out.path().string() + "\\" + big5), bytes_of("big5"));
        EXPECT_FALSE(fs::exists(out.path() / "old.txt")) << "free record extracted";
    }
}

// zlib's CRC-32 of the content.
std::string crc_text(const Bytes &content)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08lx", crc32(0, content.data(), static_cast<uInt>(content.size())));
    return text;
}
std::string long_line(int position, size_t stored, const char *unpacked, size_t offset, const Bytes &content,
                      const std::string &name)
{
    char line[160];
    std::snprintf(line, sizeof line, "%8d %10zu %10s %10zu %08lx  %s\n", position, stored, unpacked, offset,
                  crc32(0, content.data(), static_cast<uInt>(content.size())), name.c_str());
    return line;
}

TEST_F(Read, ListingAndInfoShowEveryField)
{
    Layout packed;
    build(sample(false, true), &packed);
    const struct {
        Names args;
        bool prefixed;
        Names shows;
    } cases[] = {
        {{"list", "-l"}, true, {long_line(0, readme.size(), "-", 24, readme, "#:\\readme.txt") +
                                long_line(1, packed_block(big).size(), "70000", 24 + readme.size(), big, "#:\\data\\big.bin")}},
        {{"list", "--json", "-a"}, false,
         {"{\"index\":1,\"name\":\"data\\\\big.bin\",\"free\":false,\"stored_size\":", "\"packed\":true,\"unpacked_size\":70000,\"crc32\":\"" + crc_text(big) + "\"}",
          "\"name_hex\":\"a7f3b7732e747874\"", "{\"index\":2,\"name\":\"\",\"free\":true", "]}\n"}},
        {{"info"}, true, {"form:             stand-alone\n", "base offset:      0 (0x0)\n",
                          "entries:          5 (4 live, 1 free)\n", "directory:        plain\n",
                          "drives:           '#' (0x23) to '#' (0x23)\n", "user value:       16909060 (0x01020304)\n"}},
        {{"info", "--json"}, false, {"\"form\":\"appended\"", "\"base_offset\":8704", "\"entry_count\":5", "\"live\":4", "\"free\":1",
          "\"dir_offset\":" + std::to_string(packed.dir_offset) + ",\"first_drive\":64,\"last_drive\":64,\"user_value\":16909060,"
          "\"packed_dir_size\":" + std::to_string(packed.dir_size) + "}\n"}},
    };
    for (const auto &c : cases) {
        Names args = c.args;
        args.push_back(make(c.prefixed));
        const Result r = pak(args);
        EXPECT_EQ(r.status, 0) << r.err;
        for (const auto &t : c.shows) EXPECT_NE(r.out.find(t), std::string::npos) << t << "\nin\n" << r.out;
    }
    Archive esc;
    esc.entries = {raw_entry("evil\x1b]0;x\x07.txt", "x")};
    EXPECT_EQ(pak({"list", write("esc.pak", build(esc))}).out, "evil\\x1B]0;x\\x07.txt\n") << "control characters shown raw";
}

TEST_F(Read, ExtractAndCatSelectByName)
{
    const std::string archive = make(true);
    TempDir out;
    ASSERT_EQ(pak({"extract", archive, "data\\*.bin", "#:\\READ*", "-C", out.path().string(), "--raw"}).status, 0);
    EXPECT_EQ(read_file(out.path() / "data" / "big.bin"), packed_block(big));
    EXPECT_EQ(read_file(out.path() / "readme.txt"), readme);
    EXPECT_FALSE(fs::exists(out.path() / "empty.txt"));
    const Result none = pak({"extract", archive, "nothing.*", "-C", out.path().string()});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.says("pak: nothing.*: no entry matches")) << none.err;

    for (const auto &[name, content] : std::vector<std::pair<const char *, Bytes>>{
             {"README.TXT", readme}, {"data\\big.bin", big}, {"#:\\empty.txt", {}}}) {
        const Result r = pak({"cat", archive, name});
        EXPECT_EQ(r.status, 0) << name << r.err;
        EXPECT_EQ(r.out, text(content)) << name;
    }
    const Result missing = pak({"cat", archive, "old.txt"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "pak: old.txt: no such entry in " + archive + "\n");
}

TEST_F(Read, EveryCommandFindsNamesByOneDrivePrefixRule)
{
    Archive a;
    a.entries = {raw_entry("readme.txt", "bare"), raw_entry("#:\\data.txt", "prefixed"), raw_entry("-v", "dash")};
    const Bytes archive = build(a);
    const struct {
        const char *given;
        const char *found;  // content, or null: no entry
    } cases[] = {
        {"@:\\readme.txt", "bare"}, {"@:README.TXT", "bare"}, {"readme.txt", "bare"},
        {"#:\\data.txt", "prefixed"}, {"data.txt", "prefixed"}, {"@:\\data.txt", nullptr},
        // A leading "./" is dropped, as add drops it: the way to a name that begins with '-'.
        {"./-v", "dash"}, {".\\./readme.txt", "bare"}, {"./#:\\data.txt", "prefixed"},
    };
    for (const auto &c : cases) {
        const int status = c.found ? 0 : 1;
        const std::string path = write("names.pak", archive);
        const Result cat = pak({"cat", path, c.given});
        EXPECT_EQ(cat.status, status) << c.given << cat.err;
        EXPECT_EQ(cat.out, c.found ? c.found : "") << c.given;
        TempDir out;
        EXPECT_EQ(pak({"extract", path, c.given, "-C", out.path().string()}).status, status) << c.given;
        EXPECT_EQ(pak({"rename", path, c.given, "new.txt"}).status, status) << c.given;
        EXPECT_EQ(pak({"delete", write("names.pak", archive), c.given}).status, status) << c.given;
    }
}

TEST_F(Read, ExtractMakesEveryFolderItNeedsAndRefusesAFileForOne)
{
    const std::string archive = make(true);
    const fs::path deep = dir.path() / "a" / "b" / "c";
    const Result made = pak({"extract", archive, "-C", deep.string()});
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(read_file(deep / "data" / "big.bin"), big);
    const std::string file = write("plain.txt", readme);
    const Result refused = pak({"extract", archive, "-C", file});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "pak: " + file + ": cannot create the folder: already exists: a file, not a folder\n");
#ifndef _WIN32
    // A file where a folder on the way should be is named as such.
    const Result beneath = pak({"extract", archive, "-C", file + "/sub"});
    EXPECT_EQ(beneath.err, "pak: " + file + "/sub: cannot create the folder: not found: a folder on the way is a file\n");
    const fs::path other = dir.path() / "other";
    fs::create_directory(other);
    write_file(other / "data", readme);
    const Result in_the_way = pak({"extract", archive, "data/big.bin", "-C", other.string()});
    EXPECT_EQ(in_the_way.status, 1);
    EXPECT_TRUE(in_the_way.says("cannot write the file: not found: a folder on the way is a file")) << in_the_way.err;
#endif
}

TEST_F(Read, ExtractRefusesNamesOutsideTheFolderAndExtractsTheRest)
{
    Archive a;
    const char *hostile[] = {"..\\evil.txt", "#:\\C:\\evil.txt", "\\evil.txt", "a\\..\\..\\evil.txt", "CON", "x\\NUL.txt",
                             "\xA5\\..\\evil.txt"};
    for (const char *name : hostile) a.entries.push_back(raw_entry(name, "evil"));
    a.entries.push_back(raw_entry("#:\\fine.txt", "fine"));
    TempDir parent;
    const auto out = parent.path() / "out";
    fs::create_directory(out);

    const Result r = pak({"extract", write("hostile.pak", build(a)), "-C", out.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(out / "fine.txt"), bytes_of("fine"));
    for (const char *name : hostile) EXPECT_TRUE(r.says(std::string(": ") + name + ": ")) << name;
    size_t files = 0;
    for (const auto &e : fs::recursive_directory_iterator(parent.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1u) << "only fine.txt";
}

// A packed block whose stream, checksum and all, uses length symbol 286: no
// encoder writes it and zlib, the update programs' codec, refuses it; the
// faster native codec reads it as a match of 258 bytes.
Bytes block_with_symbol_286()
{
    Bytes stream{0x78, 0x01};
    uint32_t bits = 0;
    int count = 0;
    const auto put = [&](uint32_t value, int n) {  // least significant bit first
        for (int i = 0; i < n; ++i) {
            bits |= ((value >> i) & 1u) << count;
            if (++count == 8) stream.push_back(static_cast<uint8_t>(bits)), bits = 0, count = 0;
        }
    };
    const auto code = [&](uint32_t value, int n) {  // a Huffman code, most significant bit first
        for (int i = n - 1; i >= 0; --i) put(value >> i, 1);
    };
    put(1, 1), put(1, 2);                                 // the last block, fixed codes
    for (const char c : std::string("abcd")) code(0x30 + static_cast<uint8_t>(c), 8);
    code(0xC0 + 286 - 280, 8), code(0, 5), code(0, 7);    // symbol 286, distance 1, end
    if (count) stream.push_back(static_cast<uint8_t>(bits));
    const Bytes plain = bytes_of("abcd" + std::string(258, 'd'));
    const uint32_t check = static_cast<uint32_t>(adler32(1, plain.data(), static_cast<uInt>(plain.size())));
    for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<uint8_t>(check >> shift));
    stream[0] ^= kMask;
    Bytes block(8);
    put_u32(block, 0, static_cast<uint32_t>(plain.size()));
    put_u32(block, 4, static_cast<uint32_t>(stream.size()));
    block.insert(block.end(), stream.begin(), stream.end());
    return block;
}

TEST_F(Read, DamagedEntriesAreNamedAndLeaveNoFile)
{
    Bytes broken = packed_block(big), lying = packed_block(bytes_of("short"));
    broken[broken.size() / 2] ^= 0x55;  // the stream's checksum fails
    put_u32(lying, 0, 0xFFFFFFF0u);     // claims gigabytes
    Entry past = raw_entry("past.bin", "data"), header = raw_entry("header.bin", "data");
    past.stored_size = 100000;
    header.data_offset = 4;
    Archive a;
    a.entries = {raw_entry("ok.txt", "ok"), raw_entry("broken.bin", broken), raw_entry("lying.bin", lying), past, header};
    const std::string archive = write("damaged.pak", build(a));
    a.entries.push_back(raw_entry("odd.bin", block_with_symbol_286()));
    const std::string odd = write("odd.pak", build(a));
    TempDir out;

    const Result r = pak({"extract", archive, "-C", out.path().string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(fs::exists(out.path() / "ok.txt"));
    for (const char *says : {"broken.bin: damaged: a packed block does not unpack",
                             "lying.bin: damaged: a packed block declares more than its stream can hold"})
        EXPECT_TRUE(r.says(says)) << r.err;
    for (const char *name : {"broken.bin", "lying.bin"}) EXPECT_FALSE(fs::exists(out.path() / name)) << name;
    const Result v = pak({"verify", archive});
    EXPECT_EQ(v.status, 1);
    for (const char *says : {"broken.bin: damaged: a packed block does not unpack", "4 of 5 entries are bad",
                             "past.bin: its data runs past the end of the archive", "header.bin: its data overlaps the header"})
        EXPECT_TRUE(v.says(says)) << says << "\nin\n" << v.err;
    EXPECT_FALSE(v.says("ok.txt"));
    // verify passes only what the update programs read.
    const Result strict = pak({"verify", odd});
    EXPECT_TRUE(strict.says("odd.bin: damaged: a packed block does not unpack")) << strict.err;
    EXPECT_TRUE(strict.says("5 of 6 entries are bad")) << strict.err;
}

TEST_F(Read, ACountOfOneIsSaidInTheSingular)
{
    Bytes broken = packed_block(big);
    broken[broken.size() / 2] ^= 0x55;
    Archive one, bad, one_of_two;
    one.entries = {raw_entry("ok.txt", "ok")};
    bad.entries = {raw_entry("broken.bin", broken)};
    one_of_two.entries = {raw_entry("ok.txt", "ok"), raw_entry("broken.bin", broken)};
    EXPECT_EQ(pak({"verify", write("one.pak", build(one))}).out, file("one.pak") + ": ok, 1 entry\n");
    EXPECT_TRUE(pak({"verify", write("bad.pak", build(bad))}).says("bad.pak: 1 of 1 entry is bad\n"));
    EXPECT_TRUE(pak({"verify", write("two.pak", build(one_of_two))}).says("two.pak: 1 of 2 entries is bad\n"));
    const Result compacted = pak({"compact", file("one.pak")});
    EXPECT_EQ(compacted.status, 0) << compacted.err;
    EXPECT_NE(compacted.out.find("one.pak: 1 entry, "), std::string::npos) << compacted.out;
}

// A packed block whose head is spoilt in one byte (its stream size, its zlib
// header) is damage to verify, extract and cat; --force writes it as stored.
TEST_F(Read, AnEntryWithADamagedPackedHeadIsNamedNotWrittenAsStored)
{
    std::string nums;
    for (int i = 0; nums.size() < 11111; ++i) nums += std::to_string(i) + "\n";
    const std::string source = write("nums.txt", bytes_of(nums)), archive = file("n.pak");
    ASSERT_EQ(pak({"create", archive}).status, 0);
    ASSERT_EQ(pak({"add", archive, source, "--as", "#:\\nums.txt"}).status, 0);
    const Bytes whole = read(archive);
    for (const size_t at : {28, 32, 33}) {
        SCOPED_TRACE(at);
        Bytes spoilt = whole;
        spoilt[at] ^= 0xFF;
        write("n.pak", spoilt);
        const Result v = pak({"verify", archive});
        EXPECT_EQ(v.status, 1);
        EXPECT_TRUE(v.says("nums.txt: damaged: a packed block with a wrong")) << v.err;
        TempDir out;
        const Result x = pak({"extract", archive, "-C", out.path().string()});
        EXPECT_EQ(x.status, 1);
        EXPECT_TRUE(x.says("nums.txt: damaged")) << x.err;
        EXPECT_FALSE(fs::exists(out.path() / "nums.txt"));
        const Result c = pak({"cat", archive, "nums.txt"});
        EXPECT_EQ(c.status, 1);
        EXPECT_EQ(c.out, "");
        const Bytes stored(spoilt.begin() + 24, spoilt.begin() + 24 + 8 + get_u32(whole, 28));
        EXPECT_EQ(pak({"extract", archive, "-C", out.path().string(), "--force"}).status, 0);
        EXPECT_EQ(read_file(out.path() / "nums.txt"), stored);
        EXPECT_EQ(bytes_of(pak({"cat", archive, "nums.txt", "--force"}).out), stored);
    }
}

// Every read command ends with 0 or 1 and a "pak: " line, never a crash (the
// sanitizers watch the native run).
TEST_F(Read, HostileArchivesGetAClearError)
{
    std::vector<std::pair<std::string, Bytes>> cases;
    const auto crafted = [&](const std::string &label, auto change) {
        Archive a = sample(true, false);
        change(a);
        cases.push_back({label, build(a)});
    };
    crafted("huge entry count", [](Archive &a) { a.entry_count = 0x7FFFFFFF; });
    crafted("directory past the end", [](Archive &a) { a.dir_offset = 0x7FFFFFF0; });
    crafted("packed size lies", [](Archive &a) { a.packed_dir_size = 17; });
    crafted("huge stored size", [](Archive &a) { a.entries[0].stored_size = 0xFFFFFFFF; });
    crafted("unterminated names", [](Archive &a) { a.entries[0].name = std::string(40, 'N'), a.entries[3].name = std::string(40, '\xA7'); });
    cases.push_back({"truncated header", Bytes{'P', 'A', 'K', 'S', 1, 0}});
    cases.push_back({"trailer points nowhere", appended(fake_exe(100), build(sample(true, false)), 0xFFFFFF00u)});

    for (const auto &[label, bytes] : cases) {
        const std::string path = write(label.find("trailer") != std::string::npos ? "hostile.exe" : "hostile.pak", bytes);
        TempDir out;
        for (const Names &cmd : {Names{"info", path}, Names{"list", "-la", path}, Names{"list", "--json", "-a", path},
                                 Names{"extract", path, "-C", out.path().string()}, Names{"cat", path, "readme.txt"}, Names{"verify", path}}) {
            const Result r = pak(cmd);
            EXPECT_TRUE(r.status == 0 || (r.status == 1 && r.err.rfind("pak: ", 0) == 0)) << label << " " << cmd[0] << r.err;
        }
    }
}

}  // namespace
}  // namespace pak_harness
