// Game folders and payloads for the driver tests, built without the code
// under test.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "tests/support/archive_builder.h"

namespace gamefix {

using testpak::Bytes;
using testpak::Entry;

uint32_t expected_pak_size();  // of the edition the tests link
// The game's own "Update.PAK": entries named without drive prefix.
Bytes game_update_pak(const std::vector<std::string> &names, uint8_t first = '@', uint8_t last = '@');
// "INSTALL.DAT": head_size bytes of header, then the names.
Bytes install_list(const std::vector<std::string> &names, size_t head_size = 776);
std::vector<std::string> listed_names(const Bytes &list);  // as the game reads them

Bytes new_exe();
Bytes new_update_pak();  // carries "Update06.txt"
Bytes payload(const std::vector<Entry> &entries);  // appended to a stand-in executable
std::vector<Entry> good_payload_entries();

// Every file's bytes (a large file's by its size alone).
using Snapshot = std::map<std::string, Bytes>;
Snapshot snapshot(const std::string &folder);
void set_read_only(const std::string &path, bool read_only);
bool is_read_only(const std::string &path);

// By default a game that the update fits.
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
    uint32_t run() const;  // update_run on this folder and payload; update_flags

private:
    testpak::TempDir temp_;
    std::string game_, payload_;
};

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// No handle, mount or strip switch outlives a run.
void expect_nothing_held();

}  // namespace gamefix
