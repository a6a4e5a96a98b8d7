// A payload formed by the build's tool chain has exactly the layout the
// update program reads, mounts in its appended form, and is reproducible.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#endif

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
namespace fs = std::filesystem;

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

// The program part keeps the program's mode and the archive gets a new
// file's; existing outputs are replaced only with --force.
TEST_F(Detach, KeepsTheProgramsModeAndReplacesOutputsOnlyWhenForced)
{
    Archive a;
    a.entries = {raw_entry("#:\\Korin3.EXE", "the new game")};
    const Bytes program = minimal_pe(4096);
    const std::string exe = write("upd.exe", appended(program, build(a)));
    const std::string archive = write("payload.pak", bytes_of("an older payload")),
                      bare = write("bare.exe", bytes_of("an older program"));
    const Names words = {"detach", exe, "-o", archive, "--program", bare};
    Result r = pak(words);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.says("already exists; it is not replaced (--force replaces it)")) << r.err;
    EXPECT_EQ(read(archive), bytes_of("an older payload"));
#ifndef _WIN32
    fs::permissions(exe, static_cast<fs::perms>(0751));
    fs::permissions(archive, static_cast<fs::perms>(0600));
#endif
    Names forced = words;
    forced.push_back("--force");
    r = pak(forced);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read(archive), build(a));
    EXPECT_EQ(read(bare), program);
#ifndef _WIN32
    const mode_t mask = umask(022);
    umask(mask);
    const auto mode = [](const std::string &path) { return static_cast<int>(fs::status(path).permissions()) & 07777; };
    EXPECT_EQ(mode(bare), 0751);
    EXPECT_EQ(mode(archive), static_cast<int>(0644 & ~mask));
#endif
}

// A program whose signature was removed ends in the signing padding: verify
// and detach find its archive as before it was signed, and attach refuses to
// add a second.
TEST_F(Detach, FindsThePayloadOfAProgramWhoseSignatureWasRemoved)
{
    Archive a;
    a.entries = {raw_entry("#:\\Korin3.EXE", "the new game")};
    const Bytes archive = build(a);
    const Bytes program = minimal_pe(4096 + (17 - archive.size() % 8) % 8);  // 3 bytes of padding to 8
    Bytes unsigned_again = appended(program, archive);
    ASSERT_EQ((unsigned_again.size() + 3) % 8, 0u);
    unsigned_again.resize(unsigned_again.size() + 3, 0);
    const std::string exe = write("upd.exe", unsigned_again);
    const Result verified = pak({"verify", exe});
    EXPECT_EQ(verified.status, 0) << verified.err;
    const Result detached = pak({"detach", exe, "-o", file("p.pak"), "--program", file("bare.exe")});
    ASSERT_EQ(detached.status, 0) << detached.err;
    EXPECT_EQ(read(file("p.pak")), archive);
    EXPECT_EQ(read(file("bare.exe")), program);
    const Result again = pak({"attach", exe, file("p.pak")});
    EXPECT_TRUE(again.says("already carries an archive")) << again.err;
}

}  // namespace

namespace {

using namespace pak_harness;

class PayloadDigest : public PakTest {};

// A program that reserves the digest's place gets the digest of what attach
// appends; verify checks it, and a payload that differs from it by one byte
// fails verify although every entry is sound.
TEST_F(PayloadDigest, AttachWritesItAndVerifyHoldsThePayloadToIt)
{
    Bytes program = minimal_pe(8192);
    uint8_t marker[PAYLOAD_MARKER_SIZE];
    payload_marker(marker);
    std::copy(marker, marker + PAYLOAD_MARKER_SIZE, program.begin() + 5000);
    std::fill_n(program.begin() + 5000 + PAYLOAD_MARKER_SIZE, SHA256_SIZE, 0);
    Archive a;
    a.entries = {raw_entry("#:\\Korin3.EXE", "the new game"), packed_entry("#:\\Update.PAK", pattern_bytes(3000))};
    const std::string exe = write("upd.exe", program), archive = write("payload.pak", build(a));

    Result verified = pak({"verify", exe});
    EXPECT_EQ(verified.status, 1) << "nothing attached yet";
    ASSERT_EQ(pak({"attach", exe, archive}).status, 0);
    const Bytes attached = read(exe);
    const auto digest_at = attached.begin() + 5000 + PAYLOAD_MARKER_SIZE;
    EXPECT_FALSE(std::all_of(digest_at, digest_at + SHA256_SIZE, [](uint8_t b) { return b == 0; })) << "no digest";
    verified = pak({"verify", exe});
    EXPECT_EQ(verified.status, 0) << verified.err;
    EXPECT_NE(verified.out.find(": ok, 2 entries, payload digest matches"), std::string::npos) << verified.out;

    // The stored bytes of the raw entry: verify finds no bad entry there.
    Bytes forged = attached;
    Layout layout;
    build(a, &layout);
    const size_t raw_data = program.size() + layout.data_offsets[0];
    ASSERT_EQ(forged[raw_data], 't');
    forged[raw_data] = 'T';
    verified = pak({"verify", write("forged.exe", forged)});
    EXPECT_EQ(verified.status, 1);
    EXPECT_TRUE(verified.says("not the payload whose digest the program holds")) << verified.err;
    EXPECT_EQ(pak({"verify", write("forged.bin", forged), "--appended"}).status, 1);

    // Two places: nobody could tell which the program reads.
    Bytes twice = program;
    std::copy(marker, marker + PAYLOAD_MARKER_SIZE, twice.begin() + 7000);
    const std::string doubled = write("doubled.exe", twice);
    const Result refused = pak({"attach", doubled, archive});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.says("two places")) << refused.err;
    EXPECT_EQ(read(doubled), twice);
}

}  // namespace
