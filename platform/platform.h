// The operating-system boundary: disk files and folders, the disk search,
// the heap, path strings and the few user-interface calls the tools share.
// Implemented once in platform/win32 and once in platform/posix; nothing above
// this folder includes a system header.
//
// Results: 0 for success and -1 for failure unless an entry says otherwise.
// Byte movers (disk_read, disk_write) return the count moved, 0 on failure.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Disk files -----------------------------------------------------------

// Open modes: only the low four bits count. 1 write, 2 read and write (both
// unshared); anything else reads and lets others read too.
enum {
    DISK_READ = 0,
    DISK_WRITE = 1,
    DISK_READ_WRITE = 2,
};

// Create attributes, the system's own values; other bits are ignored.
enum {
    DISK_ATTR_NORMAL = 0,
    DISK_ATTR_READONLY = 1,
    DISK_ATTR_HIDDEN = 2,
    DISK_ATTR_SYSTEM = 4,
};

// Seek origins, passed to the system unchanged.
enum {
    DISK_SEEK_SET = 0,
    DISK_SEEK_CUR = 1,
    DISK_SEEK_END = 2,
};

// Attribute bits reported by the disk search (and accepted as its mask).
enum : uint32_t {
    FILE_ATTR_READONLY = 0x01,
    FILE_ATTR_HIDDEN = 0x02,
    FILE_ATTR_SYSTEM = 0x04,
    FILE_ATTR_DIRECTORY = 0x10,
    FILE_ATTR_ARCHIVE = 0x20,
    FILE_ATTR_NORMAL = 0x80,
};

constexpr uint32_t DISK_FAILED = 0xFFFFFFFFu;  // disk_seek and disk_size failure

// The buffer every full path and found name is built in: 259 characters and
// the terminator, the most the system's ANSI calls take.
constexpr int PATH_BUFFER_SIZE = 260;

// Positions are signed 32-bit values everywhere above this layer (archive
// offsets, seeks): no file that the system builds or changes may grow past it.
constexpr int64_t DISK_POSITION_LIMIT = 0x7FFFFFFF;

// The handle values the archive file system takes for its own; the disk
// never hands them out.
constexpr int DISK_RESERVED_HANDLE_FIRST = 20000;
constexpr int DISK_RESERVED_HANDLE_COUNT = 10;

// Handles are never 20000 to 20009 (the archive handles). A handle that may
// write shares its file with no other handle, a reading one with readers only,
// and an open file can be neither deleted nor renamed. A file made read-only
// can be neither opened for writing, overwritten nor deleted.
int disk_open(const char *name, int mode);        // handle, or -1
int disk_create(const char *name, int attributes);  // creates or truncates; handle, or -1
int disk_read(int handle, void *buffer, int count);
int disk_write(int handle, const void *buffer, int count);
int disk_close(int handle);  // -1 is refused without a system call
uint32_t disk_seek(int handle, int32_t distance, int origin);  // new position, or DISK_FAILED
uint32_t disk_size(int handle);                                 // low 32 bits, or DISK_FAILED
int disk_delete(const char *name);
int disk_rename(const char *old_name, const char *new_name);  // fails when new_name exists
int disk_mkdir(const char *path);
int disk_rmdir(const char *path);
int disk_force_delete(const char *name);  // resets attributes to normal first
int disk_force_create(const char *name, int attributes);

// Additions beyond the plain file calls, for callers that must not lose data:
// flushes a file's written bytes to the disk.
int disk_flush(int handle);
// Sets a file's attributes (FILE_ATTR_* bits; 0x80 alone means normal).
int disk_set_attributes(const char *name, uint32_t attributes);

// The single disk search. A mask of exactly 0x80 is widened to 0xA0; an entry
// is reported when its attributes share a bit with the mask. name_out holds
// at least 260 bytes and is emptied first.
int disk_find_first(const char *pattern, uint32_t mask, char *name_out);
int disk_find_next(char *name_out);

// Additions for the command-line tools, which must replace files safely and
// refuse sizes the archive format cannot hold:
// moves source over target in one step (target may exist); on failure both
// stay as they were.
int disk_replace(const char *source, const char *target);
// The full size of a file on disk, beyond the low 32 bits; -1 when it cannot
// be read.
int64_t disk_file_size(const char *name);
// What a path names, links followed, looked at without opening it (pak add's
// walk): DISK_KIND_FILE, DISK_KIND_FOLDER or DISK_KIND_SPECIAL (a pipe,
// socket or device, which no caller should open); -1 with the reason
// otherwise: ERR_LINK "a link to nothing" or "a link loop" for a link that
// leads nowhere. identity, when given, tells the file from every other one
// (a folder met again below itself is a loop of links).
struct DiskIdentity {
    uint64_t volume;
    uint64_t file;
};
int disk_path_kind(const char *path, DiskIdentity *identity);

// A file that must be new: created only while name is free (ERR_EXISTS when
// it is taken), so that nobody's file is ever overwritten. The handle reads
// and writes and shares the file with nobody; only the user may read it
// (POSIX 0600) until the caller gives it the mode of the file it replaces.
int disk_create_new(const char *name);
// A second name for an existing file (a hard link), so that the file's
// content outlives a replacement of its first name; -1 where the file system
// has no links (the caller copies instead). new_name must be free.
int disk_link(const char *existing, const char *new_name);
// Gives `to` the permission bits (POSIX) or the attributes (Windows) of `from`.
int disk_copy_mode(const char *from, const char *to);

// Temporary files: a new file beside base, named base suffix, or base ".N"
// suffix (N from 1 to 99) while that is taken; its name goes to dest (size
// bytes). The handle, or -1. Until disk_temp_forget names it, an interruption
// that disk_temp_interrupts handles removes it.
int disk_create_temp(char *dest, int size, const char *base, const char *suffix);
// The file has been moved into place or deleted: no longer ours to remove.
void disk_temp_forget(const char *name);
// How many temporary files the process may hold at once (made, not yet
// forgotten), over all its threads; one more fails with ERR_TOO_MANY.
constexpr int TEMP_FILES_HELD = 64;
// From now on, an interruption (SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ;
// Ctrl+C or a closed console on Windows) deletes every temporary file still
// remembered, and the program then dies by it as it would have without the
// handler (a shell sees 130 for SIGINT; Windows' STATUS_CONTROL_C_EXIT). A
// signal ignored from the start stays ignored.
void disk_temp_interrupts();

// ---- A folder that others may write --------------------------------------------

// An elevated program must not be turned against the machine through a folder
// that any user may change. Such a folder is pinned: held open from
// disk_folder_pin to disk_folder_unpin so that it can be neither renamed,
// removed nor replaced meanwhile. Every name given with it is a file name
// directly in it (no separator), no call follows a link there, and a file is
// renamed or deleted only through the handle that opened it.
// Links on the way to the folder are followed (a game moved to another drive
// and linked back); a folder that resolves to no drive or network path (a
// device or the object namespace) is refused.
int disk_folder_pin(const char *path);  // folder handle, or -1
int disk_folder_unpin(int folder);
// Opens a file of the folder, modes as disk_open, and on Windows with the
// right to rename and delete it. Refused with ERR_LINK when the name is a link
// or reparse point, the file has a second name (a hard link) or lies outside
// the folder; ERR_IS_FOLDER when it is no plain file.
int disk_open_in(int folder, const char *name, int mode);
// A new file of the folder, as disk_create_new, opened as disk_open_in opens.
int disk_create_in(int folder, const char *name);
// 1 when nothing of that name exists in the folder (a dangling link exists).
int disk_free_in(int folder, const char *name);
// Gives the file open as handle, called name in the folder, the name to, in
// one step and made durable, replacing what stands there when replace (a link
// at to is replaced, never followed). ERR_EXISTS when to is taken and not
// replace; ERR_HELD when what stands at to is held; ERR_ACCESS_DENIED when it
// is read-only. The handle stays open, now under the new name.
int disk_rename_in(int folder, int handle, const char *name, const char *to, bool replace);
// Deletes the file open as handle, called name in the folder; the handle is
// then to be closed. ERR_ACCESS_DENIED when it is read-only.
int disk_delete_in(int folder, int handle, const char *name);
// Makes the name of the file open as handle, made by disk_create_in, durable
// (which that call alone does not): on POSIX a flush of the folder, on
// Windows of the file.
int disk_flush_name_in(int folder, int handle);
// Sets an open file's attributes (FILE_ATTR_* bits; 0x80 alone means
// normal). On Windows the handle must come from disk_open_in.
int disk_set_handle_attributes(int handle, uint32_t attributes);
// An open file's attributes: FILE_ATTR_READONLY, _HIDDEN, _SYSTEM, _ARCHIVE
// (POSIX: read-only when no write bit is set), or FILE_ATTR_NORMAL when none;
// -1 when they cannot be read.
int disk_handle_attributes(int handle);
// 1 when the open file was made by this user (on Windows: its owner is this
// process's owner, the Administrators group for an elevated program), 0 when
// by somebody else, -1 when it cannot be told.
int disk_made_by_us(int handle);

// ---- Replacing a file ---------------------------------------------------------

// The one way a file is replaced, by the update's list and the tools alike:
// the new content goes into a new file beside the target (a free name: the
// target's name and suffix, or its name, ".N" and suffix), written through
// the handle that made it and never reopened by name; it then takes the
// target's name in one step through that handle, with the target's mode (a
// new file's usual mode when there was none). A read-only target is
// replaced too, and the new file made read-only once it stands there. The
// target's folder is pinned meanwhile. Until the end, an interruption that
// disk_temp_interrupts handles removes the new file; one that nothing could
// handle (SIGKILL, a power cut) leaves it, marked as a working copy until its
// rename, and the next replacement of the same target removes it when it is
// still a plain file of ours with one name and that mark, held by nobody.
struct DiskReplacement {
    int folder;                     // pinned; -1 when none
    int handle;                     // the new file, read and write; -1 when none
    char name[PATH_BUFFER_SIZE];    // the new file's name in the folder
    char target[PATH_BUFFER_SIZE];  // the target's name in the folder
    char path[PATH_BUFFER_SIZE];    // the new file's full path
    char mode_of[PATH_BUFFER_SIZE]; // whose mode it takes: the target, unless the
                                    // caller names another file (empty: a new
                                    // file's usual mode)
};
int disk_replacement_begin(DiskReplacement *r, const char *target, const char *suffix);
// Flushes the new file and puts it in place. Either way the replacement is
// over: on failure the new file is gone and the target as it was.
int disk_replacement_commit(DiskReplacement *r);
// The same for a target that must not exist yet (ERR_EXISTS when it does).
int disk_replacement_commit_new(DiskReplacement *r);
// Removes the new file; the target stays as it was.
void disk_replacement_abandon(DiskReplacement *r);
// Gives the open file the mode (POSIX) or attributes (Windows) of name in the
// folder, not following a link there, all but read-only (a read-only file
// could neither be written nor put in place on Windows); with nothing (or a
// link) of that name, the mode a new file gets (POSIX: 0644 less the umask).
// Result: the attributes name had, as disk_handle_attributes gives them
// (FILE_ATTR_NORMAL for a new file), or -1.
int disk_mode_like_in(int folder, const char *name, int handle);

// Writing beneath a folder without following links, for a tool that writes
// into folders others may change (pak extract). The folder itself is reached
// as named, links on the way to it included; below it no symbolic link,
// junction or other reparse point is followed, neither as a folder nor at a
// file's name. Names below the folder are relative, their parts separated by
// '\' (or '/').
struct DiskTree;
// Null on failure.
DiskTree *disk_tree_open(const char *folder);
void disk_tree_close(DiskTree *tree);
// Goes to the folder that holds the file path names, making the missing
// folders when make is set. A folder on the way that is a link, or that
// lies outside the tree, is refused (ERR_ACCESS_DENIED); a missing one
// without make is ERR_NOT_FOUND. Result: the offset of the file's own name
// in path, which the calls below take, or -1.
int disk_tree_enter(DiskTree *tree, const char *path, int make);
enum {
    DISK_KIND_NONE = 0,
    DISK_KIND_FILE = 1,
    DISK_KIND_FOLDER = 2,
    DISK_KIND_LINK = 3,  // whatever it points to, if anything
    DISK_KIND_SPECIAL = 4,  // a pipe, socket or device (disk_path_kind)
};
// What the name is in the folder entered: DISK_KIND_*, or -1.
int disk_tree_kind(DiskTree *tree, const char *name);
// A new file of the name, made only while the name is free (a link counts
// as taken), as disk_create makes it. The handle, or -1.
int disk_tree_create(DiskTree *tree, const char *name);
// A temporary file beside name, as disk_create_temp makes one, marked as a
// working copy; dest gets its name. Replacing or deleting it through the
// tree forgets it. Those a killed run left beside name (ours, marked, held
// by nobody) are removed first.
int disk_tree_create_temp(DiskTree *tree, char *dest, int size, const char *name, const char *suffix);
// Moves source over target in one step, giving it the mode of the file it
// replaces; a link at target is replaced, never written through.
int disk_tree_replace(DiskTree *tree, const char *source, const char *target);
int disk_tree_delete(DiskTree *tree, const char *name);

// Reads exactly count bytes at offset (0 to DISK_POSITION_LIMIT): 0, or -1
// with the reason; a file that ends first is ERR_DAMAGED ("the file ends too
// soon"), an offset outside those bounds ERR_DAMAGED too (copy.cpp).
int disk_read_at(int handle, int64_t offset, void *buffer, int count);
// As disk_read_at, for threads that read one handle at once: each read names
// its own offset, so none moves another's. Where it leaves the handle's
// position is not said.
int disk_read_shared(int handle, int64_t offset, void *buffer, int count);
// Whether path opens for reading (it is closed again at once): 1, or 0 with
// the refusal's reason, ERR_IS_FOLDER for a folder (copy.cpp).
int disk_opens(const char *path);
// Copies count bytes from the current position of one file to that of
// another, in pieces of at most buffer_size bytes, each read and written in
// full (copy.cpp, over the calls above).
int disk_copy_bytes(int from, int to, uint32_t count, char *buffer, int buffer_size);
// A whole file copied to a new file of another name (created, or truncated),
// flushed; a partial copy is removed again.
int disk_copy(const char *from, const char *to);
// The same into a file already open for writing, flushed; the handle stays open.
int disk_copy_into(const char *from, int to);
constexpr int DISK_COPY_CHUNK = 64000;  // the piece disk_copy moves at a time

// ---- Console (command-line tools) ----------------------------------------------

enum {
    CONSOLE_OUT = 1,  // standard output
    CONSOLE_ERR = 2,  // standard error
};
// Called first in a tool's main: keeps a closed standard stream from being
// taken over by a file the tool opens (its writes keep failing instead).
void console_start();
// Writes the bytes unchanged (no line-end translation). Result: bytes
// written; fewer than count with the reason set (ERR_BROKEN_PIPE when the
// reader went away).
int console_write(int stream, const void *bytes, int count);
// 1 when the stream is an interactive terminal, 0 for a pipe or a file.
int console_is_terminal(int stream);
// Reads up to count bytes of standard input, unchanged. Result: bytes read,
// 0 at its end, -1 with the reason.
int console_read(void *buffer, int count);

// ---- Text in the game's code pages (command-line tools) ------------------------

// Names between UTF-8 and code page 936 (GBK) or 950 (Big5): iconv on POSIX,
// the system's conversion on Windows. Result: bytes written to out (size
// bytes, terminator included), or -1: ERR_BAD_NAME when a character has no
// form in the other encoding (or the input is not valid in its own),
// ERR_NAME_TOO_LONG when out is too small.
int text_from_utf8(int code_page, const char *utf8, char *out, int size);
int text_to_utf8(int code_page, const char *text, char *out, int size);
// On Windows the disk calls read names in the ANSI code page until this
// turns them to UTF-8 (converted for the wide calls, so that a name needs no
// form in the ANSI code page); on POSIX names are bytes either way.
void disk_names_utf8(int on);
// 1 when the disk calls take every byte 0x5C for a separator, a trail byte
// included: on Windows while names go through a single-byte ANSI code page.
// 0 on POSIX, where only '/' separates, and while names are UTF-8.
int disk_names_split_trail_bytes();
// The program's words in UTF-8: on Windows from the wide command line (the
// runtime's argv holds the ANSI code page); argv itself on POSIX, or when
// they cannot be had. They live as long as the program.
char **cmdline_utf8_argv(int argc, char **argv);

// ---- Byte scans over text (scan.cpp) -----------------------------------------

// 16 bytes at a time where the processor allows, so that callers above this
// layer need not know the processor.
constexpr int TEXT_FIND_SET_MAX = 8;
// The offset of the first of p[0, n) that is one of the count (at most
// TEXT_FIND_SET_MAX) bytes of set; n when none is.
int text_find_any(const char *p, int n, const char *set, int count);
// The LFs, and the CRs not followed by an LF, among text[0, length - 1) (the
// last byte is read only as the one after).
int64_t text_line_ends(const char *text, int32_t length);

// ---- Numbers in text (scan.cpp) ------------------------------------------------

// A u32 written in base 10 or 16 (a "0x" before hexadecimal digits allowed),
// or with base 0 in decimal, or hexadecimal after "0x": digits only, at
// least one, nothing around them. 0 and the value, or -1.
int text_to_u32(const char *text, int base, uint32_t *value);

// ---- Memory -----------------------------------------------------------------

void *mem_alloc(size_t size);
void *mem_realloc(void *block, size_t size);  // old block stays valid on failure
void mem_free(void *block);

// ---- Paths ------------------------------------------------------------------

// Only ':' and '\' separate components. Builds for a double-byte code page
// step over a lead byte 0x81-0xFE and its trail byte as one character, so a
// trail byte 0x5C is not taken for a backslash.

// 2 when p starts a double-byte character in a double-byte build: a lead
// byte 0x81-0xFE followed by a byte that GBK or Big5 allow after it
// (0x40-0x7E, 0x80-0xFE; never ':', '/' or a control byte). 0 at the
// terminator, else 1.
int path_char_len(const char *p);

char *path_dir(char *dest, const char *source);  // dest, or null for an empty source
int path_file(char *dest, const char *source);   // bytes copied, terminator included
int path_ext(char *dest, const char *source);    // extension length + 1, or 0
int path_add_slash(char *path);                  // always 0
// 1 when two names are the same name: A-Z taken as a-z, every other byte
// (both bytes of a double-byte character included) compared exactly.
int path_same_name(const char *a, const char *b);
// The order of that comparison: <0, 0 or >0 like strcmp.
int path_name_order(const char *a, const char *b);

// 1 when this build reads names in a double-byte code page (chosen at link
// time by platform_cp_dbcs or platform_cp_sbcs).
extern const int path_dbcs;

// The host's own paths, as the tools take them from a command line.
#ifdef _WIN32
constexpr char HOST_SEPARATOR = '\\';
// Names on a Windows disk are in its code page, where lead and trail bytes pair up.
constexpr bool HOST_NAMES_ARE_BYTES = false;
#else
constexpr char HOST_SEPARATOR = '/';
// Names on a POSIX disk are bytes in no code page (usually UTF-8).
constexpr bool HOST_NAMES_ARE_BYTES = true;
#endif
// 1 when a host path names its place on its own, not from the current
// folder: "/..." on POSIX; "\...", "/..." or "X:..." on Windows.
int host_path_absolute(const char *path);
// The file-name part of a host path: after the last '/', and on Windows also
// after the last '\' or a drive's ':' (read with the double-byte rule).
const char *host_base_name(const char *path);

// ---- Process ----------------------------------------------------------------

// The current directory, as the system names it, into dest of size bytes.
// 0, or -1 with dest empty when it cannot be had whole.
int disk_current_dir(char *dest, int size);

// n = 0: the running executable's path (at most 259 bytes with the
// terminator; empty when it is longer or unknown).
// Otherwise the n-th space-separated word of the command line, one leading
// '/' or '-' dropped; empty when there is none.
void cmdline_arg(const char *command_line, int n, char *dest);

// Milliseconds since some fixed moment, for timing waits (wraps after 49 days).
uint32_t process_clock_ms();
// Lets ms milliseconds pass.
void process_sleep_ms(int ms);
// 1 when a running process (this one included) was started from the file
// name; 0 when none was, or when the running processes cannot be listed.
// Full paths compare as the system compares names (case-insensitively on
// Windows).
int process_image_running(const char *name);

// Restores the layer's module state (disk search, last failure) to its
// start-up values. For tests.
void platform_reset();
