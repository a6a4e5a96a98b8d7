// Game folders and payloads for the update tests: a temporary folder holding
// the game's four files as a test describes them, and a payload executable
// carrying the new "Korin3.EXE" and "Update.PAK".
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"

namespace gamefix {

using testpak::Bytes;

// The size of "Korin3.PAK" that the test edition accepts.
uint32_t expected_pak_size();

// The game's own "Update.PAK": an archive serving `first`..`last` whose
// entries are stored without drive prefix.
Bytes game_update_pak(const std::vector<std::string> &names, uint8_t first = '@', uint8_t last = '@');

// "INSTALL.DAT": `size` bytes of header area (at least 776; filler except
// the two fields), then the names, with list_offset pointing at them.
Bytes install_list(const std::vector<std::string> &names, size_t head_size = 776);
int32_t list_count(const Bytes &list);
uint32_t list_offset(const Bytes &list);
// The names a list holds, read as a player's game would read them.
std::vector<std::string> listed_names(const Bytes &list);

// The files the payload carries.
Bytes new_exe();
Bytes new_update_pak();
// The payload archive with these entries, appended to a stand-in executable.
Bytes payload(const std::vector<testpak::Entry> &entries);
std::vector<testpak::Entry> good_payload_entries();

// The content of a folder: every file's bytes, except a large file's, which
// is recorded by its size alone.
using Snapshot = std::map<std::string, Bytes>;
Snapshot snapshot(const std::string &folder);

// Creates a file of `size` bytes without writing them (one byte at the end).
void make_sized_file(const std::string &path, uint32_t size);
// Marks a file read-only (or writable again) through the platform layer.
void set_read_only(const std::string &path, bool read_only);
bool is_read_only(const std::string &path);

// A game folder and a payload beside it. The default describes a game that
// the update fits: Korin3.PAK of the expected size, an old Korin3.EXE, an
// Update.PAK without markers and an INSTALL.DAT listing one archive.
struct GameSetup {
    std::optional<uint32_t> pak_size = expected_pak_size();
    std::optional<Bytes> exe = testpak::bytes_of("old game executable");
    std::optional<Bytes> update_pak = game_update_pak({"Map01.dat"});
    std::optional<Bytes> install = install_list({"Korin3.PAK"});
    Bytes payload_bytes = payload(good_payload_entries());
    std::string payload_name = "upd.exe";
    bool write_payload = true;
};

class GameFolder {
public:
    explicit GameFolder(const GameSetup &setup = GameSetup());
    std::string dir() const { return game_; }
    std::string file(const std::string &name) const;
    std::string payload_path() const { return payload_; }
    Snapshot contents() const { return snapshot(game_); }
    // Points game_dir and the payload at this folder and runs the update.
    uint32_t run() const;

private:
    testpak::TempDir temp_;
    std::string game_;
    std::string payload_;
};

// Resets every module of the driver and the layers beneath it.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// Nothing of a run may stay open: handles, mounts, the strip switch.
void expect_nothing_held();

}  // namespace gamefix
