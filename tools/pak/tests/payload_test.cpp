// A payload formed by the build's tool chain has exactly the layout the
// update program reads, mounts in its appended form, and is reproducible.
#include <gtest/gtest.h>

#include "archive/archive.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"
#include "tests/support/program.h"

namespace {

using namespace fixtures;

TEST(Payload, HasTheLayoutTheUpdateProgramReadsAndTheSameInputsGiveTheSameBytes)
{
    const Bytes program = read_file(host_path(PAYLOAD_PROGRAM)), update = read_file(host_path(PAYLOAD_UPDATE_PAK));
    const std::string path = host_path(std::string(PAYLOAD_DIR) + "/payload_sample.exe");
    // '#' only, user value 0, both files packed directly behind the header in
    // this order, the packed directory last, all behind the program.
    Archive payload;
    payload.packed_directory = true;
    payload.entries = {packed_entry("#:\\Korin3.EXE", program), packed_entry("#:\\Update.PAK", update)};
    EXPECT_EQ(read_file(path), appended(program, build(payload)));
    EXPECT_EQ(read_file(path), read_file(host_path(std::string(PAYLOAD_DIR) + "/payload_again.exe")));

    archive_reset();
    ASSERT_GE(vfs_mount(path.c_str(), DISK_READ), 0);
    const int h = vfs_open("#:\\update.pak", DISK_READ);
    ASSERT_GE(h, VFS_HANDLE_BASE);
    Bytes block(payload.entries[1].data.size());
    EXPECT_EQ(vfs_read(h, block.data(), static_cast<int>(block.size())), static_cast<int>(block.size()));
    EXPECT_EQ(block, payload.entries[1].data);
    vfs_close(h);
    archive_reset();
}

}  // namespace
