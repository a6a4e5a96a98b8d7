// Game folders and payloads for the driver tests, built without the code
// under test.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "driver/edition.h"
#include "tests/support/archive_builder.h"

namespace gamefix {

using testpak::Bytes;
using testpak::Entry;

// The game's own "Update.PAK": entries named without drive prefix.
Bytes game_update_pak(const std::vector<std::string> &names, uint8_t first = '@', uint8_t last = '@');
Bytes install_list(const std::vector<std::string> &names, size_t head_size = 776);
Bytes new_exe();
Bytes new_update_pak();  // carries "Update06.txt"
Bytes payload(const std::vector<Entry> &entries);  // appended to a stand-in executable
std::vector<Entry> good_payload_entries();

using Snapshot = std::map<std::string, Bytes>;  // a large file by its size alone
Snapshot snapshot(const std::string &folder);
void set_read_only(const std::string &path, bool read_only);

// By default a game that the update fits. A folder runs the update on itself.
struct GameSetup {
    std::optional<uint32_t> pak_size = edition.expected_pak_size;
    std::optional<Bytes> exe = testpak::bytes_of("old game executable");
    std::optional<Bytes> update_pak = game_update_pak({"Map01.dat"});
    std::optional<Bytes> install = install_list({"Korin3.PAK"});
    Bytes payload_bytes = payload(good_payload_entries());
    std::string payload_name = "upd.exe";
    bool write_payload = true;
};

struct GameFolder {
    explicit GameFolder(const GameSetup &setup = GameSetup());
    std::string file(const std::string &name) const { return (std::filesystem::path(game_) / name).string(); }
    std::string payload_path() const { return payload_; }
    Snapshot contents() const { return snapshot(game_); }
    uint32_t run() const;  // update_flags

    testpak::TempDir temp_;
    std::string game_, payload_;
};

struct DriverTest : ::testing::Test {
    void SetUp() override;
    void TearDown() override;
};

// What a clean run makes of a fresh game folder; a run that met an obstacle
// must leave one of these, with flags to match, and nothing held.
struct Outcomes {
    Snapshot before, updated, updated_but_list;
};
Outcomes clean_outcomes();
void expect_whole_or_updated(uint32_t flags, const Outcomes &o, const Snapshot &after);
void expect_nothing_held();

}  // namespace gamefix
