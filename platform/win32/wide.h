// Names between the narrow form the disk calls take and the system's wide
// calls: read in the ANSI code page, as the system's own narrow calls read
// them, or in UTF-8 once disk_names_utf8 says so.
#pragma once

#include <windows.h>

#include "platform/platform.h"

// The code page narrow names are in: CP_ACP, or CP_UTF8.
UINT names_code_page();

// A narrow name in the wide form; ok is false (the reason set) when it does
// not fit, or in UTF-8 is not valid.
struct WideName {
    explicit WideName(const char *name);
    wchar_t text[PATH_BUFFER_SIZE * 2];
    bool ok;
};

// A wide name found on the disk in the narrow form, terminated, into out of
// size bytes. In the ANSI code page a character without a form becomes '?',
// as the narrow calls give it. False when it does not fit.
bool narrow_name(const wchar_t *wide, char *out, int size);
