// pak add: host files and folders as entries, every name checked first, then
// packed on N threads (a large file in pieces, on all of them) and appended by
// this one in the order walked, all in one rewrite of the archive.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/add.h"
#include "tools/pak/codepage.h"
#include "tools/pak/edit_session.h"
#include "tools/pak/inputs.h"
#include "tools/pak/names.h"
#include "tools/common/output.h"
#include "tools/pak/pack_pool.h"
#include "tools/pak/pak.h"
#include "tools/pak/view.h"

namespace {

constexpr int WRITE_CHUNK = 1 << 20;

// Files stored as they are above this size are copied into their entry a
// chunk at a time by the calling thread, never held whole.
constexpr long long COPY_LIMIT = 1LL << 20;

// What a thread prepares: a whole file, or one piece of a large one (or
// nothing, for a file the calling thread copies).
struct AddTask {
    int item;
    int pieces;  // how many the file is packed in; 1: the whole file
    bool copied; // stored and large: copied when its turn comes
    PackPiece piece;
};

struct AddRun {
    EditSession *session;
    PackItem *items;
    AddTask *tasks;
    BlockStream stream;  // the large file whose pieces are being written
    int handle;          // its entry, open while they are; -1 otherwise
    char (*names)[PAK_NAME_SIZE];  // stored name of each item
    const AddInput *inputs;         // the name as typed, for -v
    bool keep_old;
    bool verbose;
    int count;
    bool reported;  // a consume said why it failed
};

void work(int index, void *context)
{
    AddRun *run = static_cast<AddRun *>(context);
    AddTask &task = run->tasks[index];
    if (task.copied) return;
    if (task.pieces == 1) pack_item(&run->items[task.item]);
    else pack_piece(&task.piece);
}

// "pak: <file>: <why>; <archive> is unchanged", and -1.
int unchanged(const AddRun *run, const char *file, PackError error)
{
    out_error(file, "%s; %s is unchanged", pack_error_text(error), run->session->path);
    return -1;
}

// A new entry for item index, replacing the newest live one of its name
// (unless --keep-old). Its handle, or -1 after saying why.
int open_entry(AddRun *run, int index)
{
    const int slot = run->session->slot;
    const int replaced = run->keep_old ? -1 : find_newest_live(slot, run->names[index], NAME_EXACT);
    const int h = vfs_create_at(slot, run->names[index], replaced);
    if (h < 0)
        out_error(run->items[index].path, "cannot add an entry named %s: %s; %s is unchanged", run->names[index],
                  out_reason(), run->session->path);
    return h;
}

// Appends n bytes to the entry; 0, or -1 after saying why.
int write_entry(AddRun *run, int index, int h, const char *bytes, int n)
{
    for (int done = 0; done < n;) {
        const int part = n - done < WRITE_CHUNK ? n - done : WRITE_CHUNK;
        if (vfs_write(h, bytes + done, part) != part) {
            out_error(run->items[index].path, "cannot write the entry: %s; %s is unchanged", out_reason(),
                      run->session->path);
            return -1;
        }
        done += part;
    }
    return 0;
}

// Closes the finished entry and says so.
void close_entry(AddRun *run, int index, int h)
{
    vfs_close(h);
    if (run->verbose) {
        out_name(CONSOLE_OUT, run->inputs[index].name);
        out_write(CONSOLE_OUT, "\n", 1);
    }
    progress_update("add", index + 1, run->count);
}

// Writes the next piece of a large file into its entry as it comes: the
// entry is opened with the first and its head put in place after the last.
// 0, or -1 after saying why.
int write_piece(AddRun *run, AddTask &task)
{
    PackItem &item = run->items[task.item];
    PackPiece &piece = task.piece;
    ScopeGuard release([&] {
        mem_free(piece.data);
        piece.data = nullptr;
    });
    if (piece.error != PACK_OK) return unchanged(run, item.path, piece.error);
    if (piece.index == 0) {
        uint8_t first[BLOCK_STREAM_FIRST];
        if (block_stream_begin(&run->stream, item.size, first, item.level) != 0) return unchanged(run, item.path, PACK_ERR_PACK);
        run->handle = open_entry(run, task.item);
        if (run->handle < 0 || write_entry(run, task.item, run->handle, reinterpret_cast<char *>(first), sizeof first) != 0)
            return -1;
    }
    if (block_stream_add(&run->stream, piece.length, piece.check, piece.source_length) != 0)
        return unchanged(run, item.path, PACK_ERR_PACK);
    if (write_entry(run, task.item, run->handle, piece.data, piece.length) != 0) return -1;
    if (piece.index != task.pieces - 1) return 0;
    uint8_t tail[4], head[PACKED_HEAD_SIZE];
    if (block_stream_end(&run->stream, tail, head) != 0) return unchanged(run, item.path, PACK_ERR_PACK);
    if (write_entry(run, task.item, run->handle, reinterpret_cast<char *>(tail), sizeof tail) != 0) return -1;
    if (vfs_write_at(run->handle, 0, head, sizeof head) != static_cast<int>(sizeof head)) {
        out_error(item.path, "cannot write the entry: %s; %s is unchanged", out_reason(), run->session->path);
        return -1;
    }
    close_entry(run, task.item, run->handle);
    run->handle = -1;
    return 0;
}

// Copies a file stored as it is into its entry a chunk at a time, checking
// that it keeps the size it had. 0, or -1 after saying why.
int copy_file(AddRun *run, int index, int h)
{
    const PackItem &item = run->items[index];
    const int fd = disk_open(item.path, DISK_READ);
    if (fd == -1) return unchanged(run, item.path, PACK_ERR_OPEN);
    ScopeGuard close([&] { disk_close(fd); });
    const uint32_t size = disk_size(fd);
    if (size == DISK_FAILED || static_cast<long long>(size) != item.size) return unchanged(run, item.path, PACK_ERR_SIZE);
    char *chunk = static_cast<char *>(mem_alloc(WRITE_CHUNK));
    if (!chunk) return unchanged(run, item.path, PACK_ERR_MEMORY);
    ScopeGuard release([&] { mem_free(chunk); });
    for (long long done = 0; done < item.size;) {
        const int n = item.size - done < WRITE_CHUNK ? static_cast<int>(item.size - done) : WRITE_CHUNK;
        if (disk_read_at(fd, done, chunk, n) != 0) return unchanged(run, item.path, PACK_ERR_READ);
        if (write_entry(run, index, h, chunk, n) != 0) return -1;
        done += n;
    }
    // One byte more must not come: the file grew since it was checked.
    char extra;
    if (disk_read_at(fd, item.size, &extra, 1) == 0) return unchanged(run, item.path, PACK_ERR_SIZE);
    return 0;
}

// Appends the item of task index as a new entry through the archive file
// system: whole once it is packed, a piece at a time, or copied.
int consume(int task_index, void *context)
{
    AddRun *run = static_cast<AddRun *>(context);
    AddTask &task = run->tasks[task_index];
    const int index = task.item;
    PackItem &item = run->items[index];
    run->reported = true;  // every failure below says why
    if (task.pieces > 1) {
        if (write_piece(run, task) != 0) return -1;
        run->reported = false;
        return 0;
    }
    ScopeGuard release([&] {
        mem_free(item.data);
        item.data = nullptr;
    });
    if (item.error != PACK_OK) return unchanged(run, item.path, item.error);
    const int h = open_entry(run, index);
    if (h < 0) return -1;
    if (task.copied ? copy_file(run, index, h) != 0 : write_entry(run, index, h, item.data, item.length) != 0) {
        vfs_close(h);
        return -1;
    }
    close_entry(run, index, h);
    run->reported = false;
    return 0;
}

// Standard input, whole, into a new block.
int read_standard_input(PackItem *item)
{
    long long size = 0, capacity = 1 << 16;
    char *data = static_cast<char *>(mem_alloc(static_cast<size_t>(capacity)));
    for (int n = 0; data; size += n) {
        if (size == capacity) {
            capacity = capacity * 2 > DISK_POSITION_LIMIT ? DISK_POSITION_LIMIT + 1LL : capacity * 2;
            if (size > DISK_POSITION_LIMIT) break;
            char *grown = static_cast<char *>(mem_realloc(data, static_cast<size_t>(capacity)));
            if (!grown) break;
            data = grown;
        }
        n = console_read(data + size, static_cast<int>(capacity - size > WRITE_CHUNK ? WRITE_CHUNK : capacity - size));
        if (n < 0) {
            mem_free(data);
            out_failure("standard input", "cannot read");
            return -1;
        }
        if (n == 0) {
            item->preloaded = data;
            item->size = size;
            return 0;
        }
    }
    mem_free(data);
    out_error("standard input", size > DISK_POSITION_LIMIT ? "too large for an archive" : "not enough memory");
    return -1;
}

// "pak: <name as typed>: <why>" for a name that cannot be stored.
void refuse_name(const char *typed, const char *reason, const char *more = "")
{
    out_name_error(nullptr, typed, "%s%s", reason, more);
}

// Whether the stored name is one pak stores. Says why not, showing the name
// as typed.
bool name_fits(const char *name, const char *typed, int code_page, bool force)
{
    const int n = static_cast<int>(std::strlen(name));
    if (n == 0) {
        refuse_name(typed, "the name is empty");
        return false;
    }
    if (!stored_name_ok(name)) {
        char where[24] = "";
        if (code_page) std::snprintf(where, sizeof where, " in code page %d", code_page);
        out_name_error(nullptr, typed, "the name is %d bytes%s; a stored name holds at most %d bytes", n, where, STORED_NAME_MAX);
        return false;
    }
    if (std::strpbrk(name, "*?")) {
        refuse_name(typed, "a stored name cannot hold '*' or '?'");
        return false;
    }
    // The game never needs a name that extract would refuse to write.
    char path[PAK_NAME_SIZE * 2];
    const ExtractName verdict = extract_name_check(name, PAK_NAME_SIZE, '/', path, static_cast<int>(sizeof path));
    if (verdict != XN_OK && !force) {
        refuse_name(typed, extract_name_reason(verdict), "; --force stores it anyway");
        return false;
    }
    return true;
}

// A stored name and the input it came from, sorted by name, then input.
struct NameOf {
    const char *name;
    int input;
};
int by_name(const void *a, const void *b)
{
    const NameOf &x = *static_cast<const NameOf *>(a), &y = *static_cast<const NameOf *>(b);
    const int order = path_name_order(x.name, y.name);
    return order ? order : x.input - y.input;
}
int by_bytes(const void *a, const void *b)
{
    const NameOf &x = *static_cast<const NameOf *>(a), &y = *static_cast<const NameOf *>(b);
    const int order = std::strcmp(x.name, y.name);
    return order ? order : x.input - y.input;
}

// Two inputs under one stored name would leave only the later one. Says so
// for each pair; the number of pairs, or -1.
int check_collisions(const InputList &inputs, char (*names)[PAK_NAME_SIZE], int count, bool exact)
{
    // Sorted by the stored names, which are the converted ones.
    NameOf *order = static_cast<NameOf *>(mem_alloc(sizeof(NameOf) * static_cast<size_t>(count)));
    if (!order) return out_error("add", "not enough memory"), -1;
    ScopeGuard release([&] { mem_free(order); });
    for (int i = 0; i < count; ++i) order[i] = NameOf{names[i], i};
    std::qsort(order, static_cast<size_t>(count), sizeof(NameOf), exact ? by_bytes : by_name);
    int clashes = 0;
    for (int k = 1; k < count; ++k) {
        const int a = order[k - 1].input, b = order[k].input;
        if (!names[a][0] || !(exact ? !std::strcmp(names[a], names[b]) : names_equal(names[a], names[b])))
            continue;  // empty: refused already
        out_name_error(nullptr, inputs.items[a].name, "%s and %s would both be stored under this name; %s",
                       inputs.items[a].path, inputs.items[b].path,
                       exact ? "nothing is changed" : "nothing is added (--keep-old adds both)");
        ++clashes;
    }
    return clashes;
}

// The largest file that an archive can take: the one file of an empty one,
// by the same reckoning as the whole archive's (its header, the file's data
// at worst, a directory of one record at worst), so that the two limits
// never contradict each other.
long long largest_file(bool store)
{
    const long long room = DISK_POSITION_LIMIT - PAK_HEADER_SIZE - block_stored_bound(PAK_ENTRY_SIZE);
    if (store) return room;
    long long low = 0, high = room;  // block_stored_bound grows with the size
    while (low < high) {
        const long long mid = low + (high - low + 1) / 2;
        if (block_stored_bound(mid) <= room) low = mid;
        else high = mid - 1;
    }
    return low;
}

}  // namespace

int add_check(const PakArgs &args, const InputList &inputs, PackItem *items, StoredName *names, long long *total,
              bool exact)
{
    const int code_page = args.code_page;
    *total = 0;
    const int count = inputs.count;
    int bad = 0;
    for (int i = 0; i < count; ++i) {
        PackItem &item = items[i];
        item.path = inputs.items[i].path;
        item.store = args.present[OPT_STORE];
        item.level = args.level;
        std::memset(names[i], 0, PAK_NAME_SIZE);
        if (inputs.items[i].refusal) {
            out_error(item.path, "%s", inputs.items[i].refusal);
            ++bad;
            continue;
        }
        char stored[PATH_BUFFER_SIZE];
        if (typed_name(inputs.items[i].name, code_page, stored, static_cast<int>(sizeof stored)) != 0 ||
            !name_fits(stored, inputs.items[i].name, code_page, args.present[OPT_FORCE])) {
            ++bad;
            continue;
        }
        std::memcpy(names[i], stored, PAK_NAME_SIZE);
        if (std::strcmp(item.path, "-") == 0) {
            if (read_standard_input(&item) != 0) return -1;
        } else {
            item.size = disk_file_size(item.path);
        }
        if (item.size < 0) {
            out_failure(item.path, "cannot read");
            ++bad;
            continue;
        }
        const long long largest = largest_file(item.store);
        if (item.size > largest) {
            out_error(item.path, "too large for an archive (%lld bytes; at most %lld)", item.size, largest);
            ++bad;
            continue;
        }
        *total += item.store ? item.size : block_stored_bound(item.size);
    }
    // Clashes among the names that can be stored.
    const int clashes = args.present[OPT_KEEP_OLD] ? 0 : check_collisions(inputs, names, count, exact);
    if (clashes < 0) return -1;
    if (bad || clashes) {
        char counts[160] = "";
        if (bad) std::snprintf(counts, sizeof counts, "%d of %d %s cannot be added", bad, count, count == 1 ? "file" : "files");
        if (clashes)
            std::snprintf(counts + std::strlen(counts), sizeof counts - std::strlen(counts), "%s%d %s two files",
                          bad ? ", and " : "", clashes, clashes == 1 ? "name is given to" : "names are each given to");
        out_error(args.positional[0], "%s; it is unchanged", counts);
        return -1;
    }
    return 0;
}

int add_append(EditSession *session, const PakArgs &args, const AddInput *inputs, PackItem *items, StoredName *names,
               int count, bool replace)
{
    long long bytes = 0;
    for (int i = 0; i < count; ++i) bytes += items[i].size;
    const int jobs = count > 0 && bytes / count < PIPELINE_TINY_ITEM ? 1 : args.jobs;
    // A file above BLOCK_SPLIT_SIZE is packed in pieces, each a task of its
    // own; the rest are one task each.
    int task_count = 0;
    for (int i = 0; i < count; ++i) task_count += items[i].store ? 1 : block_piece_count(items[i].size);
    AddTask *tasks = static_cast<AddTask *>(mem_alloc(sizeof(AddTask) * static_cast<size_t>(task_count)));
    if (tasks) std::memset(tasks, 0, sizeof(AddTask) * static_cast<size_t>(task_count));  // released whole on any failure
    // What a task holds while it is packed (the file or piece read and its
    // packed form) until it is written: N threads never hold more than N of
    // the largest. Within that, small tasks may run well ahead of a large
    // one, so that no thread waits for it idle. The block a large file's
    // pieces are joined into is held besides, one at a time.
    long long *cost = static_cast<long long *>(mem_alloc(sizeof(long long) * static_cast<size_t>(task_count)));
    ScopeGuard release_tasks([&] {
        for (int t = 0; tasks && t < task_count; ++t) mem_free(tasks[t].piece.data);
        mem_free(tasks);
        mem_free(cost);
    });
    if (!cost || !tasks) {
        out_error("add", "not enough memory");
        return -1;
    }
    long long largest = 0;
    for (int i = 0, t = 0; i < count; ++i) {
        const int pieces = items[i].store ? 1 : block_piece_count(items[i].size);
        for (int k = 0; k < pieces; ++k, ++t) {
            tasks[t].item = i;
            tasks[t].pieces = pieces;
            tasks[t].piece.item = &items[i];
            tasks[t].piece.index = k;
            tasks[t].copied = items[i].store && items[i].size > COPY_LIMIT && !items[i].preloaded;
            cost[t] = tasks[t].copied ? WRITE_CHUNK
                      : items[i].store ? items[i].size
                      : pieces > 1   ? pack_piece_cost(items[i].size - static_cast<long long>(k) * BLOCK_PIECE_SIZE)
                                     : items[i].size + 1 + block_stored_bound(items[i].size);
            if (cost[t] > largest) largest = cost[t];
        }
    }
    AddRun run{session, items, tasks, {}, -1, names, inputs, !replace, args.present[OPT_VERBOSE], count, false};
    ScopeGuard close_piece_entry([&] {
        if (run.handle >= 0) vfs_close(run.handle);
    });
    if (largest < PIPELINE_BUDGET_FLOOR) largest = PIPELINE_BUDGET_FLOOR;
    const int result = pipeline_run(task_count, jobs, jobs * PIPELINE_WINDOW, cost, largest * jobs, work, consume, &run);
    progress_end();
    if (result != 0 && !run.reported) out_error(session->path, "not enough memory; it is unchanged");
    return result;
}

int cmd_add(const PakArgs &args)
{
    if (args.present[OPT_AS] && args.positional_count != 2) return usage_error(CMD_ADD, "--as names one file only");
    if (args.present[OPT_AS] && args.present[OPT_PREFIX]) return usage_error(CMD_ADD, "--as gives the whole name; leave out --prefix");

    InputList inputs;
    ScopeGuard free_inputs([&] { inputs_free(&inputs); });
    if (const int status = inputs_collect(args, &inputs); status != PAK_EXIT_OK) return status;
    const int count = inputs.count;
    if (count == 0) {
        out_error(args.positional[0], "no files to add; it is unchanged");
        return PAK_EXIT_OK;
    }

    PackItem *items = static_cast<PackItem *>(mem_alloc(sizeof(PackItem) * static_cast<size_t>(count)));
    if (items) std::memset(items, 0, sizeof(PackItem) * static_cast<size_t>(count));
    auto names = static_cast<StoredName *>(mem_alloc(PAK_NAME_SIZE * static_cast<size_t>(count)));
    ScopeGuard release([&] {
        for (int i = 0; items && i < count; ++i) mem_free(items[i].data), mem_free(items[i].preloaded);
        mem_free(items);
        mem_free(names);
    });
    if (!items || !names) return out_fail("add", "not enough memory");
    ArchiveView view;
    if (view_open(&view, args.positional[0]) != 0) return PAK_EXIT_FAILED;
    long long total = 0;
    if (add_check(args, inputs, items, names, &total, false) != 0) return PAK_EXIT_FAILED;

    // Everything the archive would hold afterwards, at worst: what it holds,
    // the new data, and a directory with the new records.
    const long long records = static_cast<long long>(view.facts.entry_count + count) * PAK_ENTRY_SIZE;
    const long long after = view.facts.dir_offset + total + block_stored_bound(records);
    view_close(&view);
    if (after > DISK_POSITION_LIMIT)
        return out_fail(args.positional[0],
                        "the files do not fit: the archive would exceed %lld bytes; it is unchanged",
                        static_cast<long long>(DISK_POSITION_LIMIT));

    EditSession session;
    if (edit_begin(&session, args.positional[0]) != 0) return PAK_EXIT_FAILED;
    ScopeGuard abandon([&] { edit_abandon(&session); });
    if (add_append(&session, args, inputs.items, items, names, count, !args.present[OPT_KEEP_OLD]) != 0)
        return PAK_EXIT_FAILED;
    abandon.dismiss();
    return edit_commit(&session) == 0 ? PAK_EXIT_OK : PAK_EXIT_FAILED;
}
