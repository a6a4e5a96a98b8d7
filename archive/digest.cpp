// The payload's digest in the program image.
//
// A program that carries its payload reserves, somewhere in its own bytes
// (read-only data of the update program, driver/payload.cpp):
//   off size
//    0   16   PAYLOAD_MARKER_BYTES, found by scanning; it must appear once only
//   16   32   SHA-256 of the payload, or 32 zero bytes: no digest written
// pak attach writes the digest of everything it appends, the archive and its
// 4-byte trailer (the bytes from the archive's first byte to the trailer's
// end, as appended_locate finds them), into the place in the program part.
// A code signature added afterwards lies behind the trailer, so it changes
// nothing the digest covers while it covers the digest itself; and the
// running program compares the copy in its mapped image, the bytes Windows
// checked, with the payload it reads.
#include <cstring>

#include "archive/internal.h"

namespace {

constexpr int CHUNK = 64 << 10;

// The marker kept complemented and read through volatile, so that a program
// that looks for places does not hold a second copy of the marker itself.
struct Marker {
    uint8_t bytes[PAYLOAD_MARKER_SIZE];
};
constexpr Marker complement(Marker m)
{
    for (uint8_t &b : m.bytes) b = static_cast<uint8_t>(~b);
    return m;
}
const volatile Marker MARKER_COMPLEMENT = complement(Marker{{PAYLOAD_MARKER_BYTES}});

}  // namespace

int payload_digest(ReadAt read, void *context, int64_t file_size, uint8_t digest[SHA256_SIZE])
{
    int64_t base = 0, end = 0;
    if (appended_locate(read, context, file_size, &base, &end) != 0) return passed(-1);
    auto *buffer = static_cast<uint8_t *>(mem_alloc(CHUNK));
    if (!buffer) return passed(-1);
    ScopeGuard release([&] { mem_free(buffer); });
    Sha256 s;
    sha256_start(&s);
    for (int64_t at = base; at < end;) {
        const int n = static_cast<int>(end - at < CHUNK ? end - at : CHUNK);
        if (read(at, buffer, n, context) != 0) return passed(-1);
        sha256_add(&s, buffer, static_cast<size_t>(n));
        at += n;
    }
    sha256_end(&s, digest);
    return 0;
}

void payload_marker(uint8_t marker[PAYLOAD_MARKER_SIZE])
{
    for (int i = 0; i < PAYLOAD_MARKER_SIZE; ++i) marker[i] = static_cast<uint8_t>(~MARKER_COMPLEMENT.bytes[i]);
}

int payload_place_find(ReadAt read, void *context, int64_t limit, int64_t *offset)
{
    uint8_t marker[PAYLOAD_MARKER_SIZE];
    payload_marker(marker);
    constexpr int KEEP = PAYLOAD_MARKER_SIZE - 1;  // a marker may straddle two chunks
    auto *buffer = static_cast<uint8_t *>(mem_alloc(CHUNK + KEEP));
    if (!buffer) return passed(-1);
    ScopeGuard release([&] { mem_free(buffer); });
    int found = 0, kept = 0;
    for (int64_t at = 0; at < limit;) {
        const int n = static_cast<int>(limit - at < CHUNK ? limit - at : CHUNK);
        if (read(at, buffer + kept, n, context) != 0) return passed(-1);
        const int total = kept + n;
        for (int i = 0; i + PAYLOAD_MARKER_SIZE <= total; ++i) {
            if (buffer[i] != marker[0] || std::memcmp(buffer + i, marker, PAYLOAD_MARKER_SIZE) != 0) continue;
            if (found++) return fail(ERR_DAMAGED, -1, "the program reserves two places for its payload's digest");
            *offset = at - kept + i + PAYLOAD_MARKER_SIZE;
        }
        kept = total < KEEP ? total : KEEP;
        std::memmove(buffer, buffer + total - kept, static_cast<size_t>(kept));
        at += n;
    }
    // A place cut off by the end holds no digest.
    if (found && *offset + SHA256_SIZE > limit) return 0;
    return found;
}
