// A payload formed by the build's tool chain has exactly the layout the
// update program reads, mounts in its appended form, and is reproducible.
#include <gtest/gtest.h>

#include "archive/archive.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"
#include "tests/support/program.h"
#include "tools/pak/tests/harness.h"

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

namespace {

using namespace pak_harness;

class Detach : public PakTest {};

// The payload taken back out is the archive the build attached, byte for
// byte; the program part attached again is the deliverable again.
TEST_F(Detach, GivesThePayloadArchiveAndAttachGivesTheProgramBack)
{
    const std::string built = host_path(std::string(PAYLOAD_DIR) + "/payload_sample.exe");
    const Bytes program = read_file(host_path(PAYLOAD_PROGRAM)), update = read_file(host_path(PAYLOAD_UPDATE_PAK));
    Archive payload;
    payload.packed_directory = true;
    payload.entries = {packed_entry("#:\\Korin3.EXE", program), packed_entry("#:\\Update.PAK", update)};
    const std::string exe = write("upd.exe", read_file(built));
    const std::string archive = file("payload.pak"), bare = file("bare.exe");

    const Result detached = pak({"detach", exe, "-o", archive, "--program", bare});
    ASSERT_EQ(detached.status, 0) << detached.err;
    EXPECT_EQ(read(archive), build(payload));
    EXPECT_EQ(read(bare), program);
    EXPECT_EQ(pak({"cat", archive, "Update.PAK"}).status, 0) << "the detached archive mounts";
    // --force: the native build's stand-in program is no PE image.
    ASSERT_EQ(pak({"attach", bare, archive, "--force"}).status, 0);
    EXPECT_EQ(read(bare), read(exe));

    const struct {
        Names words;
        int status;
        const char *says;
    } refused[] = {
        {{"detach", exe, "-o", archive}, 1, "already exists"},
        {{"detach", archive, "-o", file("x.pak")}, 1, "stand-alone archive already"},
        {{"detach", write("plain.bin", read(exe)), "-o", file("y.pak")}, 1, "read it with --appended"},
        {{"list", file("plain.bin")}, 1, "read it with --appended"},
    };
    for (const auto &r : refused) {
        const Result got = pak(r.words);
        EXPECT_EQ(got.status, r.status) << r.words[1];
        EXPECT_TRUE(got.says(r.says)) << got.err;
    }
    // Under a name without .exe, read as asked.
    EXPECT_EQ(pak({"detach", file("plain.bin"), "--appended", "-o", file("z.pak")}).status, 0);
    EXPECT_EQ(read(file("z.pak")), build(payload));
    EXPECT_EQ(pak({"list", file("plain.bin"), "--appended"}).out, "#:\\Korin3.EXE\n#:\\Update.PAK\n");
}

}  // namespace
