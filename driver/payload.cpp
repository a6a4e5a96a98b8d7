// The payload, read through the handle kept since the start, and the place
// in the program image that pak attach fills with its digest.
#include "driver/payload.h"

#include <cstring>

#include "archive/archive.h"
#include "driver/update.h"
#include "platform/error.h"
#include "platform/platform.h"

namespace {

// The place pak attach finds by its marker and fills (archive/digest.cpp).
// Its bytes change after linking, so they are read as volatile, never as the
// zeros the compiler sees; kept even where nothing would read the marker.
[[gnu::used]] const volatile uint8_t image_place[PAYLOAD_MARKER_SIZE + SHA256_SIZE] = {PAYLOAD_MARKER_BYTES};

// ---- Module state ---------------------------------------------------------------

struct PayloadState {
    int handle = -1;        // the kept file, or -1
    bool appended = false;  // its name ends in .exe
    bool digest_set = false;
    uint8_t digest[SHA256_SIZE] = {};  // the tests' stand-in for the image's place
};
PayloadState g_payload;

int read_kept(int64_t offset, void *buffer, int n, void *context)
{
    return disk_read_at(*static_cast<const int *>(context), offset, buffer, n);
}

}  // namespace

int payload_open(const char *path)
{
    if (g_payload.handle != -1) disk_close(g_payload.handle);
    g_payload.handle = -1;
    if (!path) return fail(ERR_BAD_NAME, -1);
    if (std::strlen(path) >= sizeof self_path) return fail(ERR_NAME_TOO_LONG, -1);
    // A reading handle shares the file with readers only: while it is open
    // nobody writes, renames or replaces the file (platform.h).
    const int h = disk_open(path, DISK_READ);
    if (h == -1) return passed(-1);
    g_payload.handle = h;
    g_payload.appended = vfs_is_appended_name(path);
    if (path != self_path) std::strcpy(self_path, path);
    return 0;
}

int payload_mount()
{
    if (g_payload.handle == -1) return fail(ERR_FAILED, -1, "the payload is not open");
    uint8_t expected[SHA256_SIZE];
    bool written = false;
    for (int i = 0; i < SHA256_SIZE; ++i) {
        expected[i] = g_payload.digest_set ? g_payload.digest[i] : image_place[PAYLOAD_MARKER_SIZE + i];
        written = written || expected[i] != 0;
    }
    // A program attached by an older pak carries no digest and is taken as it is.
    if (written) {
        const uint32_t size = disk_size(g_payload.handle);
        uint8_t actual[SHA256_SIZE];
        if (size == DISK_FAILED || payload_digest(read_kept, &g_payload.handle, size, actual) != 0) return passed(-1);
        if (std::memcmp(actual, expected, SHA256_SIZE) != 0)
            return fail(ERR_DAMAGED, -1, "the payload is not the one the program was built with");
    }
    return vfs_mount_handle(g_payload.handle, g_payload.appended);
}

void payload_set_image_digest(const uint8_t *digest)
{
    g_payload.digest_set = digest != nullptr;
    if (digest) std::memcpy(g_payload.digest, digest, SHA256_SIZE);
}

void payload_reset()
{
    if (g_payload.handle != -1) disk_close(g_payload.handle);
    g_payload = PayloadState{};
}
