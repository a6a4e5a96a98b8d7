// The editions under test, and game folders as an installed game leaves them.
// Every path and text is a byte string in this process's code page and goes
// to the ANSI calls, as the update program's own do. An edition's texts come
// from its own table, converted to its code page by iconv, so no expected
// text is typed twice.
//
// INSTALL.DAT, as written here and read back (little-endian):
//   0    768  not interpreted (a pattern, so changes show)
//   768  4    list_offset
//   772  4    list_count
//   list_offset  list_count zero-terminated names
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"

namespace e2e {

using fixtures::Bytes;

// Bytes in an edition's code page; printed as UTF-8 when a check fails.
struct Text {
    std::string bytes;
    bool operator==(const Text &) const = default;
};
void PrintTo(const Text &text, std::ostream *out);

struct Edition {
    std::string id, deliverable, signed_copy;
    std::string payload;  // a folder with the two files the deliverable installs
    std::string large, large_payload;  // the same program over a payload of 24 MB more
    int code_page = 0;
    uint32_t pak_size = 0;  // the size of Korin3.PAK it accepts
    std::map<std::string, std::string> table;
    Text text(const std::string &key) const;  // a missing key fails the test
    std::wstring wide(const std::string &key) const;  // the text read in the edition's code page
};
void PrintTo(const Edition *edition, std::ostream *out);

// Every edition given, and those of this process's code page, whose texts can be checked here.
const std::vector<Edition> &all_editions();
std::vector<const Edition *> testable_editions();
std::vector<const Edition *> foreign_editions();  // those whose code page is not this system's

std::optional<Bytes> read_file(const std::string &path);
bool write_file(const std::string &path, const Bytes &bytes);
std::vector<std::string> folder_names(const std::string &folder);  // sorted
bool remove_tree(const std::string &folder);                       // true when it is gone

// The four files; Korin3.PAK sparse with pak_size bytes, Update.PAK holding the markers.
struct GameSetup {
    uint32_t pak_size = 0;
    std::vector<std::string> markers;
};
bool make_game(const std::string &folder, const GameSetup &setup);

// The files' bytes (only the size of Korin3.PAK) and the folder's names, so stray files show.
struct Snapshot {
    std::vector<std::string> names;
    std::optional<Bytes> korin3_exe, update_pak, install_dat;
    std::optional<uint64_t> pak_size;
    bool operator==(const Snapshot &) const = default;
};
Snapshot snapshot(const std::string &folder);

std::optional<std::vector<std::string>> install_list(const Bytes &install_dat);
Bytes initial_install_dat();

// KORIN3.INI in the Windows folder, naming the game folder.
bool write_ini(const std::string &game_folder);
bool remove_ini();

}  // namespace e2e
