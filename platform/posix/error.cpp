// errno, mapped once to the layer's reasons.
#include <cerrno>
#include <cstring>

#include "platform/error.h"

void err_from_system()
{
    const int e = errno;
    switch (e) {
    case ENOENT: err_set(ERR_NOT_FOUND); return;
    // Not found as far as callers go (nothing is there to use or to keep),
    // but said as it is.
    case ENOTDIR: err_set(ERR_NOT_FOUND, "a folder on the way is a file"); return;
    case EACCES:
    case EPERM: err_set(ERR_ACCESS_DENIED); return;
    case EROFS: err_set(ERR_READ_ONLY_FS); return;
    case EWOULDBLOCK:
    case ETXTBSY:
    case EBUSY: err_set(ERR_HELD); return;
    case ENOSPC:
    case EDQUOT: err_set(ERR_DISK_FULL); return;
    case EISDIR: err_set(ERR_IS_FOLDER); return;
    case EEXIST:
    case ENOTEMPTY: err_set(ERR_EXISTS); return;
    case EFBIG:
    case EOVERFLOW: err_set(ERR_TOO_LARGE); return;
    case ENOMEM: err_set(ERR_NO_MEMORY); return;
    case ENAMETOOLONG: err_set(ERR_NAME_TOO_LONG); return;
    case EMFILE:
    case ENFILE: err_set(ERR_TOO_MANY); return;
    case EIO: err_set(ERR_IO); return;
    case EPIPE: err_set(ERR_BROKEN_PIPE); return;
    case ELOOP: err_set(ERR_LINK); return;  // O_NOFOLLOW met a link
    case EBADF: err_set(ERR_FAILED, "not open"); return;
    default: err_set(ERR_FAILED, std::strerror(e)); return;
    }
}
