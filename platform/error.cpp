// The last failure's reason: one record per process (see error.h).
#include "platform/error.h"

#include "platform/internal.h"

namespace {

struct LastError {
    ErrReason reason;    // ERR_NONE until the first failure
    const char *detail;  // null, or text that outlives the next err_set
};
// Per thread: pak packs on worker threads, each with failures of its own.
thread_local LastError last_error = {ERR_NONE, nullptr};

}  // namespace

void err_set(ErrReason reason, const char *detail) { last_error = {reason, detail}; }

ErrReason err_last() { return last_error.reason; }

const char *err_detail() { return last_error.detail; }

void err_clear() { last_error = {ERR_NONE, nullptr}; }

void err_passed([[maybe_unused]] const std::source_location &where)
{
#if KORIN_FAULTS
    if (last_error.reason == ERR_NONE) fault_note_reasonless(where.file_name(), static_cast<int>(where.line()));
#endif
}

const char *err_text(ErrReason reason)
{
    switch (reason) {
    case ERR_NONE: return "no error";
    case ERR_NOT_FOUND: return "not found";
    case ERR_ACCESS_DENIED: return "access denied";
    case ERR_HELD: return "held by another program";
    case ERR_DISK_FULL: return "disk full";
    case ERR_IS_FOLDER: return "is a folder";
    case ERR_EXISTS: return "already exists";
    case ERR_DAMAGED: return "damaged";
    case ERR_TOO_LARGE: return "too large";
    case ERR_NO_MEMORY: return "out of memory";
    case ERR_NAME_TOO_LONG: return "name too long";
    case ERR_BAD_NAME: return "invalid name";
    case ERR_NOT_ARCHIVE: return "not an archive";
    case ERR_TOO_MANY: return "too many open";
    case ERR_IO: return "input/output error";
    case ERR_BROKEN_PIPE: return "broken pipe";
    case ERR_LINK: return "a link, not a plain file";
    case ERR_READ_ONLY_FS: return "read-only file system";
    case ERR_NOT_FILE: return "a pipe, socket or device, not a file";
    case ERR_FAILED: break;
    }
    return "failed";
}
