// The build-time texts and constants of one edition. Exactly one definition
// of `edition` is linked into a program; nothing else knows which edition it
// is in. Every text is stored in the edition's code page (GBK or Big5) and
// converted from it to UTF-16 for the wide Windows calls (WideText,
// driver/win32/window.cpp).
#pragma once

#include <cstdint>

struct EditionTexts {
    const char *name;               // "V1.06C", "V1.06", "V2.1"
    int code_page;                  // 936 (GBK) or 950 (Big5)
    uint32_t expected_pak_size;     // exact size of the game's "Korin3.PAK"
    const char *title;              // main window, dialog caption, message boxes
    const char *question;           // dialog control 1000
    const char *ok;                 // control 1
    const char *cancel;             // control 2
    const char *browse_prompt;      // folder browser
    const char *wrong_folder;       // warning after a choice without the game
    const char *msg_done;
    const char *msg_already_applied;
    const char *msg_newer_installed;
    const char *msg_wrong_version;
    const char *msg_game_damaged;
    const char *msg_payload_damaged;
    const char *msg_failed;
};

extern const EditionTexts edition;
