// The payload installed is the file the program opened at its start, and
// the one whose digest its image holds.
#include <filesystem>

#include "driver/payload.h"
#include "driver/tests/game_fixture.h"

namespace {

using namespace game_folders;

using PayloadTest = DriverTest;

// What the program image would hold: the SHA-256 of all that follows the
// stand-in program (the archive and its trailer).
std::vector<uint8_t> digest_of(const Bytes &payload_file, size_t program_size = 4096)
{
    Sha256 s;
    sha256_start(&s);
    sha256_add(&s, payload_file.data() + program_size, payload_file.size() - program_size);
    std::vector<uint8_t> digest(SHA256_SIZE);
    sha256_end(&s, digest.data());
    return digest;
}

Bytes other_payload()
{
    return payload({packed_entry("#:\\Korin3.EXE", bytes_of("forged executable")),
                    packed_entry("#:\\Update.PAK", game_update_pak({"Forged.dat"}))});
}

TEST_F(PayloadTest, OnlyThePayloadWhoseDigestTheImageHoldsIsInstalled)
{
    const Bytes genuine = GameSetup().payload_bytes;
    std::vector<uint8_t> flipped = digest_of(genuine);
    flipped[31] ^= 1;
    const struct {
        const char *behaviour;
        std::vector<uint8_t> digest;  // empty: the image's place, left zero in test programs
        Bytes payload;
        uint32_t flags;
    } cases[] = {
        {"a place left zero checks nothing", {}, genuine, UF_DONE},
        {"the right digest", digest_of(genuine), genuine, UF_DONE},
        {"a digest one bit off", flipped, genuine, UF_PAYLOAD_DAMAGED},
        {"another payload than the digest's", digest_of(genuine), other_payload(), UF_PAYLOAD_DAMAGED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.behaviour);
        update_reset();
        GameSetup setup;
        setup.payload_bytes = c.payload;
        GameFolder game(setup);
        const Snapshot before = game.contents();
        payload_set_image_digest(c.digest.empty() ? nullptr : c.digest.data());
        EXPECT_EQ(game.run(), c.flags);
        if (c.flags == UF_DONE) {
            EXPECT_EQ(game.contents()["Korin3.EXE"], new_exe());
        } else {
            EXPECT_EQ(game.contents(), before) << "the game folder was touched";
        }
        expect_nothing_held();
    }
}

// Someone renames the program's file aside while the dialog waits and puts
// another in its place: the platform refuses to write, rename or replace
// it, and where the system renames it all the same (POSIX ignores the
// locks), the update still reads the file it opened.
TEST_F(PayloadTest, TheFileOpenedAtTheStartIsTheOneInstalled)
{
    const Bytes genuine = GameSetup().payload_bytes;
    GameSetup setup;
    setup.payload_bytes = other_payload();
    GameFolder game(setup);
    const std::string self = game.temp.write("self.exe", genuine), aside = game.temp.file("aside.exe");
    ASSERT_EQ(payload_open(self.c_str()), 0);
    payload_set_image_digest(digest_of(genuine).data());

    EXPECT_EQ(disk_rename(self.c_str(), aside.c_str()), -1);
    EXPECT_EQ(disk_open(self.c_str(), DISK_WRITE), -1);
    EXPECT_EQ(disk_open(self.c_str(), DISK_READ_WRITE), -1);
    EXPECT_EQ(disk_replace(game.payload_path.c_str(), self.c_str()), -1);
    std::error_code failed;
    fs::rename(self, aside, failed);
    const bool moved = !failed;
    if (moved) write_file(self, other_payload());
    const std::string kept = moved ? aside : self;
    EXPECT_EQ(read_file(kept), genuine);

    std::strncpy(game_dir, game.dir.c_str(), sizeof game_dir - 1);
    update_run();
    EXPECT_EQ(update_flags, UF_DONE);
    EXPECT_EQ(game.contents()["Korin3.EXE"], new_exe());
    EXPECT_EQ(game.contents()["Update.PAK"], new_update_pak());
    expect_nothing_held();
    // The file stays the update's until the reset.
    EXPECT_EQ(disk_open(kept.c_str(), DISK_WRITE), -1);
    update_reset();
    const int h = disk_open(kept.c_str(), DISK_WRITE);
    EXPECT_NE(h, -1) << "the reset left the payload open";
    disk_close(h);
}

}  // namespace

namespace {

// Every program with the update's code reserves the place once, where pak
// attach finds it: this test program too.
TEST(PayloadPlace, AProgramWithTheUpdateHoldsItOnceAndEmpty)
{
    char self[PATH_BUFFER_SIZE];
    cmdline_arg("", 0, self);
    int h = disk_open(self, DISK_READ);
    ASSERT_NE(h, -1) << self;
    const auto read = [](int64_t offset, void *buffer, int n, void *context) {
        const int file = *static_cast<const int *>(context);
        return disk_seek(file, static_cast<int32_t>(offset), DISK_SEEK_SET) == offset && disk_read(file, buffer, n) == n
                   ? 0
                   : -1;
    };
    int64_t place = 0;
    EXPECT_EQ(payload_place_find(read, &h, disk_size(h), &place), 1);
    uint8_t digest[SHA256_SIZE] = {1};
    EXPECT_EQ(read(place, digest, SHA256_SIZE, &h), 0);
    EXPECT_TRUE(std::all_of(digest, digest + SHA256_SIZE, [](uint8_t b) { return b == 0; }));
    disk_close(h);
}

}  // namespace
