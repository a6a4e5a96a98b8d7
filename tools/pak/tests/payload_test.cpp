// A payload formed by the build's tool chain has exactly the layout the
// update program reads, and mounts in its appended form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/archive.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"

namespace {

using namespace testpak;

// A path of the build tree as this system names it.
std::string built(std::string path)
{
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;  // a Unix path handed through Wine
    for (char &c : path)
        if (c == '/') c = '\\';
#endif
    return path;
}

TEST(Payload, HasTheLayoutTheUpdateProgramReads)
{
    const Bytes program = read_file(built(PAYLOAD_PROGRAM));
    const Bytes update = read_file(built(PAYLOAD_UPDATE_PAK));
    const std::string path = built(std::string(PAYLOAD_DIR) + "/payload_sample.exe");
    const Bytes file = read_file(path);
    const size_t base = program.size();
    ASSERT_GT(file.size(), base + 24 + 4);

    // The program unchanged, then the archive, then the trailer.
    EXPECT_EQ(Bytes(file.begin(), file.begin() + static_cast<long>(base)), program);
    EXPECT_EQ(get_u32(file, file.size() - 4), base);
    const auto at = [&](size_t offset) { return get_u32(file, base + offset); };
    EXPECT_EQ(at(0), 0x534B4150u);
    EXPECT_EQ(at(4), 2u);                                      // two entries
    EXPECT_EQ(file[base + 12], '#');
    EXPECT_EQ(file[base + 13], '#');                            // serving '#' only
    EXPECT_EQ(file[base + 14] | file[base + 15], 0);
    EXPECT_EQ(at(16), 0u);                                      // user value
    const uint32_t packed_dir = at(20);
    ASSERT_GT(packed_dir, 0u);                                  // packed directory

    // Both files as packed blocks, one after the other behind the header.
    const Bytes k3 = packed_block(program), up = packed_block(update);
    const size_t dir_offset = 24 + k3.size() + up.size();
    EXPECT_EQ(at(8), dir_offset);
    EXPECT_EQ(Bytes(file.begin() + static_cast<long>(base + 24), file.begin() + static_cast<long>(base + 24 + k3.size())), k3);
    EXPECT_EQ(Bytes(file.begin() + static_cast<long>(base + 24 + k3.size()), file.begin() + static_cast<long>(base + dir_offset)), up);
    // The directory last, ending right before the trailer.
    EXPECT_EQ(base + dir_offset + packed_dir, file.size() - 4);
    const Bytes packed(file.begin() + static_cast<long>(base + dir_offset), file.end() - 4);
    const auto dir = unmask_and_inflate(packed, 128);
    ASSERT_TRUE(dir.has_value());
    const struct {
        const char *name;
        size_t offset, size;
    } records[] = {{"#:\\Korin3.EXE", 24, k3.size()}, {"#:\\Update.PAK", 24 + k3.size(), up.size()}};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(get_u32(*dir, i * 64), records[i].size);
        EXPECT_EQ(get_u32(*dir, i * 64 + 4), records[i].offset);
        EXPECT_EQ(Bytes(dir->begin() + static_cast<long>(i * 64 + 8), dir->begin() + static_cast<long>(i * 64 + 24)), Bytes(16));
        Bytes name(40);
        std::memcpy(name.data(), records[i].name, std::strlen(records[i].name));
        EXPECT_EQ(Bytes(dir->begin() + static_cast<long>(i * 64 + 24), dir->begin() + static_cast<long>(i * 64 + 64)), name);
    }

    // Mounted as the update program mounts its own file.
    archive_reset();
    ASSERT_GE(vfs_mount(path.c_str(), DISK_READ), 0);
    const int h = vfs_open("#:\\update.pak", DISK_READ);
    ASSERT_GE(h, VFS_HANDLE_BASE);
    Bytes block(up.size());
    EXPECT_EQ(vfs_read(h, block.data(), static_cast<int>(block.size())), static_cast<int>(block.size()));
    EXPECT_EQ(block, up);
    vfs_close(h);
    archive_reset();
}

TEST(Payload, SameInputsGiveTheSameBytes)
{
    EXPECT_EQ(read_file(built(std::string(PAYLOAD_DIR) + "/payload_sample.exe")),
              read_file(built(std::string(PAYLOAD_DIR) + "/payload_again.exe")));
}

}  // namespace
