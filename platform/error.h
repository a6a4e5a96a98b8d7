// Why the last failure happened. Every layer that returns -1 (or 0 from a
// byte mover, or 0 from the configuration reader) has first set a reason
// here; results stay what each interface says, and nothing is logged. Tools
// show the reason. The product decides by results, and by a reason only
// where it tells a held file (ERR_HELD, ERR_ACCESS_DENIED: wait and try
// again), a missing one (ERR_NOT_FOUND) or a name that is not ours
// (ERR_EXISTS, ERR_LINK, ERR_IS_FOLDER) from a failure.
//
// One reason per thread (the product runs on one). A success does
// not clear it: read it only right after a call reported failure.
#pragma once

#include <source_location>

enum ErrReason {
    ERR_NONE = 0,
    ERR_NOT_FOUND,      // no such file, folder or entry
    ERR_ACCESS_DENIED,  // the system refuses (rights, read-only file)
    ERR_HELD,           // another program holds the file (sharing or lock violation)
    ERR_DISK_FULL,
    ERR_IS_FOLDER,      // a file was expected
    ERR_EXISTS,         // the name is taken
    ERR_DAMAGED,        // the bytes contradict their format
    ERR_TOO_LARGE,      // beyond what the format or a buffer holds
    ERR_NO_MEMORY,
    ERR_NAME_TOO_LONG,
    ERR_BAD_NAME,       // a name the operation cannot take (wildcards, empty, ...)
    ERR_NOT_ARCHIVE,    // a readable file that is not an archive
    ERR_TOO_MANY,       // every slot or handle is in use
    ERR_IO,             // the device failed
    ERR_BROKEN_PIPE,    // the reading end of a pipe was closed
    ERR_LINK,           // a link, a reparse point or a second name where none may be followed
    ERR_READ_ONLY_FS,   // the file system (or medium) takes no writes
    ERR_NOT_FILE,       // a pipe, socket or device where a file was expected
    ERR_FAILED,         // anything else; the detail says what
};

// Records the reason and an optional detail (a string literal or other text
// that outlives the next err_set; null for none).
void err_set(ErrReason reason, const char *detail = nullptr);
ErrReason err_last();
// The detail given with the last reason, or null.
const char *err_detail();
// A short lower-case text for the reason ("access denied").
const char *err_text(ErrReason reason);
// Back to ERR_NONE, for tests and tools that start a fresh attempt.
void err_clear();

// Takes the reason the system gave for the call that just failed
// (errno on POSIX, GetLastError on Windows). Platform implementations only.
void err_from_system();

// The one way out of a failing path: sets the reason and yields the result,
// as in `return fail(ERR_DAMAGED, -1, "the directory runs past the end of the file");`
template <class T>
inline T fail(ErrReason reason, T result, const char *detail = nullptr)
{
    err_set(reason, detail);
    return result;
}

// The way out of a failing path whose callee has set the reason already, as in
// `if (disk_flush(h) != 0) return passed(-1);`: a bare `return -1` cannot say
// whether anybody did. The fault-injecting build counts each one that finds
// no reason set (fault_reasonless() in fault.h).
void err_passed(const std::source_location &where);
template <class T>
inline T passed(T result, const std::source_location &where = std::source_location::current())
{
    err_passed(where);
    return result;
}
