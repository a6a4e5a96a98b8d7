// What the POSIX implementation shares between its files.
#pragma once

#include <sys/stat.h>

#include <climits>

// A name as the system takes it: every '\' (a whole character, never the
// trail byte of a double-byte one) turned into '/'. ok is false when the name
// does not fit.
struct NativeName {
    explicit NativeName(const char *name);
    char path[PATH_MAX];
    bool ok;
};

// Windows' read-only attribute: a file nobody may write to.
inline bool is_read_only(const struct stat &st) { return !(st.st_mode & 0222); }
// True when a handle of this layer holds the regular file.
bool held_open(const char *path);
// Moves a descriptor off the values archive handles use; -1 when that fails.
int off_reserved(int fd);
