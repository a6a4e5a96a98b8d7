// Entry names as the pak tool meets them: turning an entry's name into a path
// under the extraction folder (refusing names that would land outside it),
// and the default stored name of a host file.
#pragma once

enum ExtractName {
    XN_OK,
    XN_EMPTY,      // nothing left after the drive prefix
    XN_TOO_LONG,   // the path does not fit the output buffer
    XN_ABSOLUTE,   // starts with a separator
    XN_DRIVE,      // a ':' after the drive prefix (drive-qualified, or a stream)
    XN_DOTS,       // a part ".", "..", or ending in a dot or space
    XN_EMPTY_PART, // two separators in a row, or one at the end
    XN_DEVICE,     // a Windows device name (CON, NUL, COM1, ...)
    XN_BAD_CHAR,   // a control character or one of < > " | ? *
    XN_SPLIT,      // a trail byte 0x5C that the host would take for a separator
};

// Turns the entry name (its first `length` bytes, or up to a zero byte
// before that) into a relative host path: a drive prefix such as "#:\" is
// dropped, and '\' and '/' separate parts, joined in out by `separator`.
// Names are read by the double-byte walk (path_char_len: a trail byte 0x5C
// is no separator). When bytewise, the host takes every byte 0x5C for a
// separator (Windows through a single-byte ANSI code page), and a name with
// such a trail byte is refused (XN_SPLIT) rather than written elsewhere.
// out receives a terminated path on XN_OK; its content is unspecified
// otherwise. On XN_OK the path is not empty, does not start with a
// separator, holds no ':' and no part that is empty, ".", "..", ends in a
// dot or a space, or names a device, in the double-byte reading of its
// bytes, and when bytewise in the byte reading too (the properties a fuzzer
// can check).
ExtractName extract_name_check(const char *name, int length, char separator, char *out, int out_size,
                               bool bytewise = false);
const char *extract_name_reason(ExtractName verdict);


// Whether the name starts with a drive prefix ("C:") whose character is not
// one of the archive's drives, so that no lookup drops it: a drive-qualified
// name, not the archive's prefix.
bool foreign_drive(const char *name, int first_drive, int last_drive);

// True when the name is 1 to 39 bytes, what a directory record holds.
bool stored_name_ok(const char *name);
constexpr int STORED_NAME_MAX = 39;

// Whether the stored name matches the pattern, both in stored form and read
// by the double-byte walk, part by part ('\\' separates): '?' is one
// character, '*' any run of characters within a part, a part "**" any number
// of folders (none included), and a last part "*" everything beneath.
// ASCII letters match in either case.
bool pattern_matches(const char *pattern, const char *name);

// Whether the name matches the pattern part by part ('\\' separates, and
// the same number of parts on each side): '?' one character, '*' any run
// within a part, ASCII letters in either case; characters are as long as len
// says (the double-byte walk, or UTF-8).
typedef int (*CharLength)(const char *p);
bool parts_match(const char *pattern, const char *name, CharLength len);

// Equality as lookups compare names: ASCII letters in any case, both bytes of
// a double-byte character exactly.
bool names_equal(const char *a, const char *b);
