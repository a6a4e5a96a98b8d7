// Every refusal names its cause: the reason the failing layer left, never a
// guess from probing the file again.
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/support/small_disk.h"
#include "tools/pak/tests/harness.h"

namespace pak_harness {
namespace {

namespace fs = std::filesystem;

class Reasons : public PakTest {};

TEST_F(Reasons, EachFailureSaysWhy)
{
    Archive plain;
    plain.entries = {raw_entry("#:\\a.txt", "a"), packed_entry("#:\\b.bin", pattern_bytes(5000))};
    const std::string good = write("good.pak", build(plain));
    Bytes past_end = build(plain), unpackable, broken_entry = build(plain);
    put_u32(past_end, 4, 1000);  // entry_count: 64,000 directory bytes in a file of a few hundred
    Archive packed = plain;
    packed.packed_directory = true;
    Layout layout;
    unpackable = build(packed, &layout);
    unpackable[layout.dir_offset + layout.dir_size / 2] ^= 0x55;
    Layout plain_layout;
    build(plain, &plain_layout);
    broken_entry[plain_layout.data_offsets[1] + 20] ^= 0x55;
    const std::string huge = write("huge.pak", {});
    fs::resize_file(huge, 0x90000000ull);  // sparse, beyond 32-bit signed positions
    fs::create_directory(file("folder.pak"));

    const int held = disk_open(write("held.pak", build(plain)).c_str(), DISK_READ_WRITE);
    ASSERT_NE(held, -1);
    const std::string read_only = write("read-only.pak", build(plain));
    ASSERT_EQ(disk_set_attributes(read_only.c_str(), FILE_ATTR_READONLY), 0);
    const int probe = disk_open(read_only.c_str(), DISK_READ_WRITE);  // Wine run by root writes read-only files
    const bool read_only_enforced = probe == -1;
    disk_close(probe);

    const struct {
        Names args;
        const char *says;
    } cases[] = {
        {{"list", file("missing.pak")}, "missing.pak: cannot open: not found"},
        {{"list", file("folder.pak")}, "folder.pak: is a folder, not an archive"},
        {{"list", file("held.pak")}, "held.pak: cannot open: held by another program"},
        {{"list", write("text.pak", bytes_of("plain text, long enough for a header"))}, "text.pak: not an archive"},
        {{"list", write("past.pak", past_end)}, "past.pak: damaged: the directory runs past the end of the file"},
        {{"list", write("unpackable.pak", unpackable)}, "unpackable.pak: damaged: the packed directory does not unpack"},
        {{"cat", write("broken.pak", broken_entry), "b.bin"}, "b.bin: damaged: a packed block does not unpack"},
        {{"list", huge}, "huge.pak: cannot open: too large"},
        {{"add", good, file("absent.txt")}, "absent.txt: cannot read: not found"},
        {{"delete", read_only, "a.txt"}, "read-only.pak: cannot change it: access denied"},
    };
    for (const auto &c : cases) {
        if (!read_only_enforced && c.args[1] == read_only) continue;
        const Result r = pak(c.args);
        EXPECT_EQ(r.status, 1) << c.says;
        EXPECT_TRUE(r.says(c.says)) << c.says << "\nin\n" << r.err;
    }
    disk_close(held);
    disk_set_attributes(read_only.c_str(), FILE_ATTR_NORMAL);
}

TEST_F(Reasons, AFullDiskIsNamed)
{
    SmallDisk disk;
    if (!disk.ready()) GTEST_SKIP() << SmallDisk::why();
    const std::string archive = disk.root() + "/a.pak";
    ASSERT_EQ(pak({"create", archive}).status, 0);
    const std::string noise = write("noise.bin", pattern_bytes(2 << 20, 7));
    disk.fill_leaving(64 * 1024);
    const Result r = pak({"add", archive, noise, "--store"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.says("disk full")) << r.err;
}

TEST_F(Reasons, AReadOnlyFileSystemIsNamedAsSuch)
{
    SmallDisk disk;
    if (!disk.ready()) GTEST_SKIP() << SmallDisk::why();
    const std::string archive = disk.root() + "/a.pak", small = write("small.txt", bytes_of("s"));
    ASSERT_EQ(pak({"create", archive}).status, 0);
    ASSERT_TRUE(disk.make_read_only());
    for (const Names &args : {Names{"add", archive, small}, Names{"create", disk.root() + "/b.pak"},
                              Names{"extract", archive, "-C", disk.root() + "/out"}}) {
        const Result r = pak(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_TRUE(r.says(": read-only file system")) << r.err;
        EXPECT_FALSE(r.says("access denied")) << r.err;
    }
}

#ifndef _WIN32
TEST_F(Reasons, AFileThatIsNoneReadsNaturally)
{
    const std::string fifo = file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(disk_file_size(fifo.c_str()), -1);
    EXPECT_STREQ(out_reason(), "a pipe, socket or device, not a file");
}
#endif

}  // namespace
}  // namespace pak_harness
