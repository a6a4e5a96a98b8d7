// The update procedure: checks that the update fits the installed game, then
// replaces the game's executable and update archive with the two files carried
// in the program's own appended archive and registers the update archive in the
// game's installation list. Its outcome is update_flags.
#pragma once

#include <cstdint>

typedef uint32_t UpdateFlags;

enum : UpdateFlags {
    UF_DONE = 0x00000001,             // both payload files are in place
    UF_ALREADY_APPLIED = 0x00000002,  // the game's Update.PAK holds "Update06.txt"
    UF_NEWER_INSTALLED = 0x00000004,  // ... holds "Update07.txt"
    UF_GAME_DAMAGED = 0x00000008,     // reported, never set by the procedure
    UF_PAYLOAD_DAMAGED = 0x00000010,  // own executable cannot be mounted
    UF_WRONG_VERSION = 0x00000040,    // Korin3.PAK missing or of another size
    UF_FAILED = 0x40000000,           // ran, and no other bit was set
};

constexpr int INSTALL_SLACK = 512000;
constexpr int INSTALL_RESERVE = 128;

extern UpdateFlags update_flags;
extern char game_dir[260];   // the game folder; "_A_A_A_" until found
extern char self_path[260];  // the running executable, holder of the payload

void update_run();
int extract_file(const char *dest, const char *src);
void register_update_pak(const char *path);
int extract_all(const char *pattern);
