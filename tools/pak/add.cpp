// pak add: host files and folders as entries, every name checked first, then
// packed on N threads (a large file in pieces, on all of them) and appended by
// this one in the order walked, all in one rewrite of the archive.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/scope_guard.h"
#include "platform/platform.h"
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

// What a thread prepares: a whole file, or one piece of a large one.
struct AddTask {
    int item;
    int pieces;  // how many the file is packed in; 1: the whole file
    PackPiece piece;
};

struct AddRun {
    EditSession *session;
    PackItem *items;
    AddTask *tasks;
    BlockJoin join;  // the large file whose pieces are being joined
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
    if (task.pieces == 1) pack_item(&run->items[task.item]);
    else pack_piece(&task.piece);
}

// "pak: <file>: <why>; <archive> is unchanged", and -1.
int unchanged(const AddRun *run, const char *file, PackError error)
{
    out_error(file, "%s; %s is unchanged", pack_error_text(error), run->session->path);
    return -1;
}

// Joins the next piece of a large file; the item holds the block once its
// last piece is in. Result 0 (*complete tells whether that was the last), or
// -1 after saying why.
int join_piece(AddRun *run, AddTask &task, bool *complete)
{
    PackItem &item = run->items[task.item];
    PackPiece &piece = task.piece;
    ScopeGuard release([&] {
        mem_free(piece.data);
        piece.data = nullptr;
    });
    *complete = false;
    if (piece.error != PACK_OK) return unchanged(run, item.path, piece.error);
    if ((piece.index == 0 && block_join_begin_at(&run->join, item.size, item.level) != 0) ||
        block_join_add(&run->join, piece.data, piece.length, piece.check, piece.source_length) != 0 ||
        (piece.index == task.pieces - 1 && block_join_end(&run->join) != 0))
        return unchanged(run, item.path, PACK_ERR_MEMORY);
    if (piece.index != task.pieces - 1) return 0;
    item.data = run->join.data;
    item.length = run->join.length;
    run->join.data = nullptr;
    *complete = true;
    return 0;
}

// Appends the item of task index as a new entry through the archive file
// system, once all of it is packed.
int consume(int task_index, void *context)
{
    AddRun *run = static_cast<AddRun *>(context);
    AddTask &task = run->tasks[task_index];
    const int index = task.item;
    PackItem &item = run->items[index];
    run->reported = true;  // every failure below says why
    if (task.pieces > 1) {
        bool complete = false;
        if (join_piece(run, task, &complete) != 0) return -1;
        if (!complete) {
            run->reported = false;
            return 0;
        }
    }
    ScopeGuard release([&] {
        mem_free(item.data);
        item.data = nullptr;
    });
    if (item.error != PACK_OK) return unchanged(run, item.path, item.error);
    const int slot = run->session->slot;
    // The newest live record of exactly this name is what a new entry replaces.
    const int replaced = run->keep_old ? -1 : find_newest_live(slot, run->names[index], NAME_EXACT);
    const int h = vfs_create_at(slot, run->names[index], replaced);
    if (h < 0) {
        out_error(item.path, "cannot add an entry named %s: %s; %s is unchanged", run->names[index], out_reason(),
                  run->session->path);
        return -1;
    }
    int done = 0;
    while (done < item.length) {
        const int piece = item.length - done < WRITE_CHUNK ? item.length - done : WRITE_CHUNK;
        const int n = vfs_write(h, item.data + done, piece);
        if (n != piece) break;
        done += n;
    }
    if (done != item.length) {
        out_error(item.path, "cannot write the entry: %s; %s is unchanged", out_reason(), run->session->path);
        vfs_close(h);
        return -1;
    }
    vfs_close(h);
    if (run->verbose) {
        out_name(CONSOLE_OUT, run->inputs[index].name);
        out_write(CONSOLE_OUT, "\n", 1);
    }
    progress_update("add", index + 1, run->count);
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

// Two inputs under one stored name would leave only the later one. Says so
// for each pair; the number of pairs, or -1.
int check_collisions(const InputList &inputs, char (*names)[PAK_NAME_SIZE], int count)
{
    // Sorted by the stored names, which are the converted ones.
    NameOf *order = static_cast<NameOf *>(mem_alloc(sizeof(NameOf) * static_cast<size_t>(count)));
    if (!order) return out_error("add", "not enough memory"), -1;
    ScopeGuard release([&] { mem_free(order); });
    for (int i = 0; i < count; ++i) order[i] = NameOf{names[i], i};
    std::qsort(order, static_cast<size_t>(count), sizeof(NameOf), by_name);
    int clashes = 0;
    for (int k = 1; k < count; ++k) {
        const int a = order[k - 1].input, b = order[k].input;
        if (!names[a][0] || !names_equal(names[a], names[b])) continue;  // empty: refused already
        out_name_error(nullptr, inputs.items[a].name,
                       "%s and %s would both be stored under this name; nothing is added (--keep-old adds both)",
                       inputs.items[a].path, inputs.items[b].path);
        ++clashes;
    }
    return clashes;
}

// Checks every file and name before the archive is touched, and says what
// is wrong with each one before giving up.
int check_files(const PakArgs &args, const InputList &inputs, int code_page, PackItem *items,
                char (*names)[PAK_NAME_SIZE], long long *total)
{
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
        const long long bytes = item.store ? item.size : block_stored_bound(item.size);
        if (bytes > DISK_POSITION_LIMIT) {
            out_error(item.path, "too large for an archive (%lld bytes; at most %lld)", item.size,
                      static_cast<long long>(item.store ? DISK_POSITION_LIMIT
                                                        : DISK_POSITION_LIMIT - block_stored_bound(0)));
            ++bad;
            continue;
        }
        *total += bytes;
    }
    // Clashes among the names that can be stored.
    const int clashes = args.present[OPT_KEEP_OLD] ? 0 : check_collisions(inputs, names, count);
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

}  // namespace

int cmd_add(const PakArgs &args)
{
    const int jobs = args.jobs, code_page = args.code_page;
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
    auto names = static_cast<char (*)[PAK_NAME_SIZE]>(mem_alloc(PAK_NAME_SIZE * static_cast<size_t>(count)));
    ScopeGuard release([&] {
        for (int i = 0; items && i < count; ++i) mem_free(items[i].data), mem_free(items[i].preloaded);
        mem_free(items);
        mem_free(names);
    });
    if (!items || !names) {
        out_error("add", "not enough memory");
        return PAK_EXIT_FAILED;
    }
    ArchiveView view;
    if (view_open(&view, args.positional[0]) != 0) return PAK_EXIT_FAILED;
    long long total = 0;
    if (check_files(args, inputs, code_page, items, names, &total) != 0) return PAK_EXIT_FAILED;

    // Everything the archive would hold afterwards, at worst: what it holds,
    // the new data, and a directory with the new records.
    const long long records = static_cast<long long>(view.facts.entry_count + count) * PAK_ENTRY_SIZE;
    const long long after = view.facts.dir_offset + total + block_stored_bound(records);
    view_close(&view);
    if (after > DISK_POSITION_LIMIT) {
        out_error(args.positional[0], "the files do not fit: the archive would exceed %lld bytes; it is unchanged",
                  static_cast<long long>(DISK_POSITION_LIMIT));
        return PAK_EXIT_FAILED;
    }

    EditSession session;
    if (edit_begin(&session, args.positional[0]) != 0) return PAK_EXIT_FAILED;
    ScopeGuard abandon([&] { edit_abandon(&session); });
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
        return PAK_EXIT_FAILED;
    }
    long long largest = 0;
    for (int i = 0, t = 0; i < count; ++i) {
        const int pieces = items[i].store ? 1 : block_piece_count(items[i].size);
        for (int k = 0; k < pieces; ++k, ++t) {
            tasks[t].item = i;
            tasks[t].pieces = pieces;
            tasks[t].piece.item = &items[i];
            tasks[t].piece.index = k;
            cost[t] = items[i].store ? items[i].size
                      : pieces > 1   ? pack_piece_cost(items[i].size - static_cast<long long>(k) * BLOCK_PIECE_SIZE)
                                     : items[i].size + 1 + block_stored_bound(items[i].size);
            if (cost[t] > largest) largest = cost[t];
        }
    }
    AddRun run{&session, items, tasks, {}, names, inputs.items, args.present[OPT_KEEP_OLD], args.present[OPT_VERBOSE],
               count, false};
    ScopeGuard release_join([&] { block_join_abandon(&run.join); });
    const int result = pipeline_run(task_count, jobs, jobs * 8, cost, largest * jobs, work, consume, &run);
    progress_end();
    if (result != 0) {
        if (!run.reported) out_error(session.path, "not enough memory; it is unchanged");
        return PAK_EXIT_FAILED;
    }
    abandon.dismiss();
    return edit_commit(&session) == 0 ? PAK_EXIT_OK : PAK_EXIT_FAILED;
}
