// Game folders as an installed game leaves them, the configuration file that
// names one, and what a deliverable carries, read without the code under
// test. Every path is a byte string in this process's code page and goes to
// the ANSI file calls, as the update program's own paths do.
//
// INSTALL.DAT, as written here and read back (little-endian):
//   0    768  not interpreted (filled with a pattern, so changes show)
//   768  4    list_offset
//   772  4    list_count
//   list_offset  list_count zero-terminated names
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"

namespace e2e {

using testpak::Bytes;

std::optional<Bytes> read_file(const std::string &path);
bool write_file(const std::string &path, const Bytes &bytes);
// Size of the file, or nullopt when it does not exist.
std::optional<uint64_t> file_size(const std::string &path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> folder_names(const std::string &folder);
// Removes a folder with everything in it; true when it is gone.
bool remove_tree(const std::string &folder);
bool copy_file(const std::string &from, const std::string &to);

// A game folder's four files; Korin3.PAK has pak_size bytes, written as a
// sparse file (the real one is hundreds of megabytes).
struct GameSpec {
    uint32_t pak_size = 0;
    std::vector<std::string> markers;  // entries of the game's Update.PAK
};
bool make_game(const std::string &folder, const GameSpec &spec);

// What a test compares before and after a run: the files' bytes (only the
// size of Korin3.PAK) and the folder's names, so stray files show too.
struct Snapshot {
    std::vector<std::string> names;
    std::optional<Bytes> korin3_exe, update_pak, install_dat;
    std::optional<uint64_t> pak_size;
    bool operator==(const Snapshot &) const = default;
};
Snapshot snapshot(const std::string &folder);

// The names listed in an INSTALL.DAT; nullopt when the layout does not hold.
std::optional<std::vector<std::string>> install_list(const Bytes &install_dat);
// The INSTALL.DAT that make_game writes.
Bytes initial_install_dat();

// The two files a deliverable would install, unpacked from the archive
// behind its trailer.
struct Payload {
    Bytes korin3_exe;
    Bytes update_pak;
};
std::optional<Payload> read_payload(const std::string &deliverable);

// KORIN3.INI in the Windows folder, naming the game folder.
bool write_ini(const std::string &game_folder);
bool remove_ini();

}  // namespace e2e
