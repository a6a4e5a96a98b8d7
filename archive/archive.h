// The archive file system: PAK archives mounted as drives, so that a name
// whose first character lies in a mounted archive's drive range ("#:\Korin3.EXE")
// addresses an entry, while every other name is a disk file; one set of file
// operations serves both.
//
// Results: 0 for success and -1 for failure; opening and mounting return a
// handle or slot index, or -1; vfs_read and vfs_write return the count moved,
// 0 on failure. Every failure leaves its reason in err_last() (platform/error.h).
//
// Routines marked "(not called by the product)" belong to the system's
// interface and are used by the tools and tests only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/format.h"
#include "platform/platform.h"

constexpr int VFS_MAX_SLOTS = 10;
constexpr int VFS_MAX_HANDLES = DISK_RESERVED_HANDLE_COUNT;
constexpr int VFS_HANDLE_BASE = DISK_RESERVED_HANDLE_FIRST;  // 20000..20009 are archive handles

// 1 when the handle is one of the archive handles (whether open or not).
int vfs_is_archive_handle(int handle);

// ---- Packed blocks (block.cpp) -----------------------------------------------

// One-shot zlib at the default level; the stream's first byte is masked.
// A capacity of 0 means 0x40000000. Result: bytes written, or 0 on failure.
int block_pack(void *dest, const void *source, int source_length, int dest_capacity);
// Levels: 1 (fastest) to block_level_best() (smallest), or the default. The
// codec is this file's business; a level means the same stream whatever the
// number of threads, and the default packs no larger than zlib's default.
constexpr int BLOCK_LEVEL_DEFAULT = 0;
int block_level_best();
// block_pack at a level (not called by the product).
int block_pack_at(void *dest, const void *source, int source_length, int dest_capacity, int level);
// Frees what the calling thread keeps for packing and unpacking; taken again
// when needed (the threads that pack free theirs when they end).
void block_codec_release();
// Result: bytes produced, or 0 on any failure, an empty result included.
// The source is never changed.
int block_unpack(void *dest, const void *source, int source_length, int dest_capacity);

// The stored form (PackedBlockHead, then the masked stream):
// the most bytes the stored form of size bytes can take;
int64_t block_stored_bound(int64_t size);
// packs source into dest with its head; stored bytes, or 0 on failure;
int block_pack_stored(void *dest, const void *source, int source_length, int dest_capacity);
int block_pack_stored_at(void *dest, const void *source, int source_length, int dest_capacity, int level);
// A file above BLOCK_SPLIT_SIZE bytes is packed in pieces of BLOCK_PIECE_SIZE
// (the last one shorter), each on its own thread if wanted and each primed
// with the BLOCK_PIECE_PRIME bytes before it (where the codec can use them),
// and the pieces are joined into
// one block: the same zlib stream as a one-shot block's in all but how the
// deflate data is cut, unpacked the same way. The rule depends on the size
// only, so the block never depends on how many threads packed it.
constexpr int BLOCK_SPLIT_SIZE = 1 << 20;
constexpr int BLOCK_PIECE_SIZE = 256 << 10;
constexpr int BLOCK_PIECE_PRIME = 32 << 10;
// How many pieces a file of size bytes is packed in: 1 for a one-shot block.
int block_piece_count(int64_t size);
// The most bytes block_pack_piece can write for length bytes.
int block_piece_bound(int length);
// Packs piece `index` of a file of `size` bytes: source holds its bytes
// (length = the piece's share of the file), prime the prime_length bytes just
// before them (the file's, at most BLOCK_PIECE_PRIME). The last piece ends the
// deflate data, the others end on a byte boundary. *check gets the Adler-32
// of the source. Every piece of a block is packed at one level. Result:
// bytes written, or 0 on failure.
int block_pack_piece(void *dest, int dest_capacity, const void *prime, int prime_length, const void *source,
                     int length, bool last, uint32_t *check, int level = BLOCK_LEVEL_DEFAULT);
// 1 when stored bytes of this length read as a packed block (the head's
// packed size fits the length and a zlib header follows); head holds at
// least the first 10 bytes, or all of them when fewer (the next one too);
int block_looks_stored(const void *head, int64_t stored_length);
// 1 (ERR_DAMAGED, and which field) when they read as a packed block in all
// but one field: the stream's size off in one byte, or the zlib header wrong
// while the stream's size is right; the unpacked size fitting the stream in
// both. Data that merely begins alike stays stored data to the archive file
// system; the tools refuse to take such an entry for stored data unasked.
// 0 otherwise, for a packed block too.
int block_looks_damaged(const void *head, int64_t stored_length);
// unpacks a stored block into a new block (mem_alloc, one byte longer than
// the result) of exactly its declared size. A block that declares 0 bytes
// unpacks only when its stream ends there. 0, or -1 with the reason
// (ERR_DAMAGED and what is wrong, or ERR_NO_MEMORY).
int block_unpack_stored(const void *stored, int stored_length, char **out, int *out_length);
// The size a stored block of stored_length bytes declares, once its head (the
// first PACKED_HEAD_SIZE bytes, all that is read) has passed the checks
// block_unpack_stored makes before unpacking: 0, or -1 with the reason.
int block_stored_unpacked_size(const void *stored, int64_t stored_length, uint32_t *size);
// block_unpack_stored into dest, which has room for the declared size (a
// buffer kept from one block to the next): 0, or -1 with the same reasons.
int block_unpack_stored_into(const void *stored, int stored_length, void *dest, int64_t dest_capacity);
// A general CRC-32 (zlib's) of length more bytes after crc (0 to start): the
// update journal keeps it for its lines and for each file it must recognise
// later (driver/journal.cpp, driver/replace.cpp).
uint32_t block_checksum(uint32_t crc, const void *data, int length);

// The header's user_value without mounting; 0xFFFFFFFF (-1) when unreadable.
// (not called by the product)
uint32_t pak_read_user_value(const char *path);

// ---- Appended form (appended.cpp) --------------------------------------------

// Reads n bytes at offset of the file being examined; 0 when all came, else -1
// with the reason set (disk_read_at).
typedef int (*ReadAt)(int64_t offset, void *buffer, int n, void *context);

// ---- Packed blocks in chunks (block.cpp) -------------------------------------

// An entry of any size, read and written a chunk at a time, so that what is
// held does not grow with the entry.
constexpr int BLOCK_STREAM_CHUNK = 256 << 10;
// Takes the next n bytes of what is unpacked; 0, or -1 to stop.
typedef int (*BlockSink)(const void *bytes, size_t n, void *context);
// Unpacks the stored block of stored_length bytes that read gives (offsets
// from its head's first byte), handing what it unpacks to sink in pieces of
// at most BLOCK_STREAM_CHUNK bytes. It refuses, with the same reasons, what
// block_unpack_stored refuses, but only once the damage is reached: sink may
// have taken bytes before. 0, or -1 with the reason (a sink's -1 returned as
// it left the reason). It reads as the update programs read, with zlib: the
// faster codec of native builds takes a few codes in a hand-made stream that
// zlib refuses (length symbols 286 and 287), and this refuses them too.
int block_unpack_stored_to(ReadAt read, void *read_context, int64_t stored_length, BlockSink sink,
                           void *sink_context);
// A split block written as its pieces come (block_pack_piece), never held
// whole: the writer writes block_stream_begin's first bytes, then each piece
// as it is, then block_stream_end's tail, and last puts the head it gives
// over the first PACKED_HEAD_SIZE bytes (the stream's length is known only
// then).
struct BlockStream {
    uint32_t size;    // unpacked size declared
    uint32_t check;   // Adler-32 of the pieces so far
    int64_t length;   // of the stream so far
};
constexpr int BLOCK_STREAM_FIRST = PACKED_HEAD_SIZE + 2;
// first gets BLOCK_STREAM_FIRST bytes; level is the pieces' (block_pack_piece).
// 0, or -1.
int block_stream_begin(BlockStream *stream, int64_t size, uint8_t *first, int level = BLOCK_LEVEL_DEFAULT);
// Counts the next piece (its length, check, and how many file bytes it packs). 0, or -1.
int block_stream_add(BlockStream *stream, int piece_length, uint32_t check, int source_length);
// tail gets the 4 bytes that end the stream, head the PACKED_HEAD_SIZE bytes. 0, or -1.
int block_stream_end(BlockStream *stream, uint8_t *tail, uint8_t *head);

// The certificate table that a PE image's security directory names (offset
// and size; both 0 when it names none). 0, or -1 when the file is no PE image.
int pe_certificate_table(ReadAt read, void *context, int64_t *offset, int64_t *size);
// Where the archive appended to a file of file_size bytes starts (base) and
// where its trailer ends (end: the file's end, or the start of a certificate
// table that ends the file, less its 0..7 padding bytes). 0 when the trailer
// points at "PAKS", else -1 with the reason.
int appended_locate(ReadAt read, void *context, int64_t file_size, int64_t *base, int64_t *end);
// 1 when the path ends in ".exe" (any case) after at least one character: such
// a file is mounted in the appended form, read-only.
int vfs_is_appended_name(const char *path);

// ---- Payload digest (sha256.cpp, digest.cpp) ----------------------------------

// SHA-256 (FIPS 180-4), fed in pieces.
constexpr int SHA256_SIZE = 32;
struct Sha256 {
    uint32_t h[8];
    uint64_t length;  // bytes fed so far
    uint8_t block[64];
    int used;  // bytes waiting in block
};
void sha256_start(Sha256 *s);
void sha256_add(Sha256 *s, const void *data, size_t length);
void sha256_end(Sha256 *s, uint8_t digest[SHA256_SIZE]);

// A program may reserve a place for its payload's digest: this marker, then
// SHA256_SIZE bytes, all zero until pak attach fills them (digest.cpp). A
// macro, not an array: an array would leave copies of the marker in every
// program (and its debug information) that sees it, and the marker must
// stand in a program's file once, where the place is.
constexpr int PAYLOAD_MARKER_SIZE = 16;
#define PAYLOAD_MARKER_BYTES 0x3a, 0xf8, 0xa0, 0x09, 0x1e, 0x7d, 0xc0, 0x94, 0x7e, 0xcf, 0x6c, 0x79, 0x17, 0xa7, 0xb8, 0xf1
// The marker, made at run time, for callers that write places themselves.
void payload_marker(uint8_t marker[PAYLOAD_MARKER_SIZE]);
// The digest of what an appended file carries (digest.cpp says which bytes).
// 0, or -1 with the reason (no archive attached, a read failing).
int payload_digest(ReadAt read, void *context, int64_t file_size, uint8_t digest[SHA256_SIZE]);
// Looks for the reserved place among the first limit bytes: 1 with the file
// offset of its digest bytes in *offset, 0 when there is none, -1 when a read
// fails or the marker appears more than once (ERR_DAMAGED).
int payload_place_find(ReadAt read, void *context, int64_t limit, int64_t *offset);

// ---- Mount table (mount.cpp) -------------------------------------------------

// Mode as disk_open: 0 read-only, 2 read and write. A path ending in ".exe" is
// mounted in the appended form, read-only only. Result: slot index 0..9, or -1.
// Reasons: ERR_NOT_ARCHIVE (no "PAKS" where the archive should start),
// ERR_DAMAGED (header or directory contradicts the file), ERR_TOO_LARGE,
// ERR_TOO_MANY (every slot taken), or the disk's reason.
int vfs_mount(const char *path, int mode);
// The appended form whatever the name, read-only. (not called by the product)
int vfs_mount_appended(const char *path);
// Mounts a file the caller has open (disk_open), read-only, in the appended
// form when appended is set. The slot reads through the handle and never
// closes it; the caller closes it after the unmount. Slot index, or -1.
// Without the name index (indexed false), for readers that go by record
// position (vfs_entry_at): a million entries mount in the time it takes to
// read them, and name lookups scan the directory.
int vfs_mount_handle(int disk_handle, bool appended, bool indexed = true);
// A look into an archive somebody else may have made, as vfs_mount_handle
// (the caller keeps and closes the file) without the name index, refused
// before anything is allocated when its directory holds more than
// VFS_PROBE_ENTRY_LIMIT records.
constexpr int VFS_PROBE_ENTRY_LIMIT = 65536;
int vfs_mount_probe(int file);
void vfs_unmount(int slot);  // writes a changed directory back first
void vfs_unmount_all();
int pak_write_directory(int slot);

// ---- Virtual files (handle.cpp) ----------------------------------------------

// A name whose first byte an archive serves is an entry, anything else a
// disk file. An archive handle stays valid while its directory grows and
// fails (0 from read and write, -1 from size and seek) once its archive is
// unmounted; close it all the same.
int vfs_open(const char *name, int mode);
// Archive side: appends a new empty entry (replacing a live one of the same
// name); names of 40 or more characters, or holding '*' or '?', are refused.
int vfs_create(const char *name, int attributes);
int vfs_close(int handle);
int vfs_read(int handle, void *buffer, int count);
// Archive side: data goes where the directory stands, so only the newest
// entry of an archive, written at its end, takes bytes; other writes return 0.
int vfs_write(int handle, const void *buffer, int count);
// Archive side: overwrites count bytes at offset of the newest entry, within
// what it holds already (a head whose fields are known only at the end).
// Count written, 0 on failure. (not called by the product)
int vfs_write_at(int handle, int offset, const void *buffer, int count);
// The size, or -1 with the reason (ERR_TOO_LARGE for a disk file of 2 GiB or more).
int vfs_size(int handle);
int vfs_seek(int handle, int distance, int origin);
int vfs_open_count();

// ---- Names (lookup.cpp) -------------------------------------------------------

// The drive-strip switch (0 off, its start-up value): while on, a leading
// drive prefix ("@:\") is dropped from names before they are compared.
void vfs_set_drive_strip(int value);
int vfs_drive_strip();

// ---- Enumeration (find.cpp) --------------------------------------------------
// out receives at least 260 bytes. One enumeration at a time; it ends with
// its archive's unmount. A pattern, or a full name from the _path forms, that
// would not fit 260 bytes gives -1.

int vfs_find_first(const char *pattern, uint32_t mask, char *out);
int vfs_find_next(char *out);
int vfs_find_first_path(const char *pattern, uint32_t mask, char *out);
int vfs_find_next_path(char *out);  // (not called by the product)

// ---- Creation and flush (create.cpp) -----------------------------------------

// (neither called by the product)
int pak_create(const char *path, int first_drive, int last_drive, uint32_t user_value, int packed);
// The same new archive's bytes written into a file open for writing at its
// start (pak create writes them beside the name and renames). 0, or -1.
int pak_create_into(int file, int first_drive, int last_drive, uint32_t user_value, int packed);
int pak_flush_last();

// ---- Entry editing (edit.cpp) ------------------------------------------------

// (none called by the product)
int vfs_delete(const char *name);
int vfs_rename(const char *name, const char *new_name);
int vfs_add(const char *name, int attributes);
int path_set_ext(char *path, const char *extension);
int vfs_make_backup(const char *name, const char *extension);

// The same edits by record position in a mounted slot, for tools that have
// found the record themselves; names are stored as given (1 to 39 bytes,
// no wildcard), whatever the drive-strip switch says:
// frees the live record;
int vfs_delete_at(int slot, int position);
// gives the live record the full stored name new_name, unless another live
// record has it;
int vfs_rename_at(int slot, int position, const char *new_name);
// appends a new empty entry named name and, when replaced >= 0, frees that
// live record in the same step; an archive handle open for writing, or -1.
int vfs_create_at(int slot, const char *name, int replaced);

// ---- Rebuilding and attaching (rebuild.cpp) ----------------------------------

// (neither called by the product)
// The backup's name of an archive: its name with the extension changed to
// .BAK, at most PAK_BACKUP_NAME_SIZE - 1 bytes. Refused (ERR_BAD_NAME) for a
// name without an extension in its file part or one that is the backup's.
constexpr int PAK_BACKUP_NAME_SIZE = 128;
int pak_backup_name(const char *path, char backup[PAK_BACKUP_NAME_SIZE]);
// Rebuilds a stand-alone archive without its freed records' data; the old
// one stays under its backup's name.
int pak_compact(const char *path);
// The stand-alone archive mounted in slot, rebuilt as pak_compact rebuilds
// it into out (a new file open for writing, at its start), leaving out the
// live records too whose position drop marks (drop may be null). The kept
// entries' data is copied as stored. 0, or -1 with the reason.
int pak_rebuild_into(int slot, int out, const bool *drop);
int pak_attach(const char *target, const char *archive);

// ---- Inspection, for tools (records.cpp; not called by the product) --------

struct PakMountFacts {
    int base_offset;      // file offset of the archive (0: stand-alone)
    int dir_offset;       // archive offset of the directory
    int entry_count;      // records, free ones included
    int packed_dir_size;  // 0: plain directory
    int first_drive;
    int last_drive;
};
int vfs_mount_facts(int slot, PakMountFacts *out);
// A copy of the record at position (0 <= position < entry_count), or -1.
int vfs_entry_at(int slot, int position, PakEntry *out);
// The newest live record before position `before` (an entry count or more:
// from the last) whose stored name is `name`: as lookups compare names
// (path_same_name) when same is null, else as same(stored, name) says. Its
// position, or -1 when there is none (ERR_NOT_FOUND).
typedef bool (*SameName)(const char *stored, const char *name);
constexpr int VFS_ANY_POSITION = 0x7FFFFFFF;
int vfs_find_live(int slot, const char *name, int before, SameName same = nullptr);
// Opens the live record at position for reading, as vfs_open does for a name.
int vfs_open_at(int slot, int position);
// The archive's own wildcard rules: 0 when pattern matches name, else -1.
int vfs_name_match(const char *pattern, const char *name);

// ---- Tests ---------------------------------------------------------------------

// Closes and releases everything the subsystem holds, without writing any
// directory back, and restores its start-up state (mount table, handle
// table, enumeration state).
void archive_reset();
