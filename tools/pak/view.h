// An archive opened by pak for reading: opened once, mounted read-only over
// that handle through the archive file system, with its header and the facts
// of the mount, and the stored data of its records read by position.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/archive.h"

// Closed again when it goes out of scope.
struct ArchiveView {
    const char *path = nullptr;
    int file = -1;          // the archive, open while the view is; -1 when closed
    int slot = -1;          // mounted over file, -1 when closed
    PakMountFacts facts{};
    PakHeader header{};     // as stored at the archive's start
    bool appended = false;  // found behind a program, with a trailer
    int64_t file_size = 0;  // of the whole file

    ArchiveView() = default;
    ArchiveView(const ArchiveView &) = delete;
    ArchiveView &operator=(const ArchiveView &) = delete;
    ~ArchiveView();
};

// Mounts path read-only, in the appended form when its name ends in .exe or
// appended is set. On failure says why (view_report_mount_failure) and
// returns -1 with nothing mounted.
int view_open(ArchiveView *view, const char *path, bool appended = false);
void view_close(ArchiveView *view);
inline ArchiveView::~ArchiveView() { view_close(this); }

// Reads n bytes at offset of the open disk file whose handle context points
// to (disk_read_at), for the archive library's PE and trailer readers. 0, or
// -1 with the reason.
int read_file_at(int64_t offset, void *buffer, int n, void *context);

// The record at position; its name is terminated (the mount made it so).
PakEntry view_entry(const ArchiveView *view, int position);
// Live records (data_offset not 0).
int view_live_count(const ArchiveView *view);

// Whether a live record is stored as a packed block, with its unpacked size
// (read from the block's head).
bool view_packed(const ArchiveView *view, int position, uint32_t *unpacked_size);

// Entries whose stored bytes and what they unpack to together take at most
// this are read whole and unpacked in one go; larger ones are streamed a
// chunk at a time, which is also faster where fresh memory is slow to touch
// (a block this large is mapped on its own, and its pages faulted in anew).
constexpr long long VIEW_WHOLE_LIMIT = 1LL << 20;
// What a thread that reads entry after entry keeps from one to the next:
// fresh memory is slow to touch, and a block this large would be mapped anew
// (and its pages faulted in) for every entry.
struct ViewBuffers {
    char *stored = nullptr;
    int64_t stored_room = 0;
    char *plain = nullptr;
    int64_t plain_room = 0;

    ViewBuffers() = default;
    ViewBuffers(const ViewBuffers &) = delete;
    ViewBuffers &operator=(const ViewBuffers &) = delete;
    ~ViewBuffers();
};
// The content of a live record (its stored bytes as they are when raw) handed
// to sink as view_entry_stream hands it: read whole into buffers and given in
// one piece while its stored bytes and what they unpack to take at most
// limit, else streamed. On failure *reason is null where the packed block is
// damaged (err_last() says how, for the caller to say in its turn: words made
// on another thread would not last), VIEW_STOPPED after a sink's -1, or what
// else is wrong.
int view_entry_into(const ArchiveView *view, int position, bool raw, bool force, ViewBuffers *buffers, long long limit,
                    int (*sink)(const void *bytes, size_t n, void *context), void *context, const char **reason);
// The content of a live record: its stored bytes, unpacked when they are a
// packed block; one that looks like a damaged packed block
// (block_looks_damaged) is refused unless force, which takes it for stored
// data. Handed to sink in chunks (at most BLOCK_STREAM_CHUNK bytes each, or
// the whole of an entry read whole) so that an entry of any size takes a few
// MB.
// sink returns 0, or -1 to stop. Result 0, or -1 with the reason; after a
// sink's -1 the reason is VIEW_STOPPED (compare the pointer). A damaged
// stream is found only where it is reached: sink may have taken bytes
// before. Reads through the view's file (disk_read_shared), never through
// the archive file system, so that threads may call it at once.
extern const char VIEW_STOPPED[];
int view_entry_stream(const ArchiveView *view, int position, bool force,
                      int (*sink)(const void *bytes, size_t n, void *context), void *context, const char **reason);
// Whether a live record reads as view_entry_stream reads it, by the rules of
// the update programs' codec (block_unpack_stored_to), which refuses a few
// hand-made streams that the native one takes: what verify passes, they
// read. 0, or -1 with the reason.
int view_entry_check(const ArchiveView *view, int position, const char **reason);
// The stored bytes of a live record as they are (extract --raw), the same way.
int view_stored_stream(const ArchiveView *view, int position, int (*sink)(const void *bytes, size_t n, void *context),
                       void *context, const char **reason);

// The newest live record of the mounted slot before position `before`
// (pass VIEW_NEWEST to start from the last) whose stored name is `name`:
// exactly (ASCII case ignored) with NAME_EXACT, or as entry_has_name finds
// it with NAME_TYPED. Its position, with the record in *out (name
// terminated) when out is given; -1 when there is none.
enum NameMatch { NAME_EXACT, NAME_TYPED };
constexpr int VIEW_NEWEST = VFS_ANY_POSITION;
int find_newest_live(int slot, const char *name, NameMatch match, int before = VIEW_NEWEST, PakEntry *out = nullptr);

// The live record at the position typed (--at N, as list -l shows it) of
// the archive mounted in slot; -1 after saying why there is none.
int record_at(int slot, const char *archive, const char *typed);

// Says why path, open as file (or -1), did not mount, from the reason the
// mount left:
// "pak: <path>: is a folder, not an archive", "... damaged: <what>", ...
void view_report_mount_failure(const char *path, int file);

// How cat, extract, delete and rename find entries (the rule 'pak --help'
// states): a name or pattern given with a drive prefix ("@:\") finds stored
// names with that prefix or with none; one given without finds stored names
// with any prefix or none. ASCII case is ignored.
// Whether the stored name matches a pattern (pattern_matches in names.h).
bool entry_matches(const char *pattern, const char *name);
// Whether the stored name is `name`.
bool entry_has_name(const char *stored, const char *name);

