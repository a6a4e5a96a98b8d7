// pak extract: entries to files under a folder, never outside it, not even
// through a link that someone planted in it. An existing file is replaced
// (whole, or not at all), unless --keep. With -j N entries are read (in
// turn, through the archive's one open handle) and unpacked on N threads,
// and written in order here.
#include <cstring>
#include <mutex>

#include "platform/error.h"
#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/codepage.h"
#include "tools/pak/names.h"
#include "tools/common/output.h"
#include "tools/pak/pack_pool.h"
#include "tools/pak/pak.h"
#include "tools/pak/view.h"

namespace {

// Names the entry as --codepage shows it (its stored bytes when it has no
// UTF-8 form, or without a code page).
void report(const ArchiveView &view, const char *name, const char *reason, int code_page)
{
    char shown[PAK_NAME_SIZE * 3];
    shown_name(name, code_page, shown, static_cast<int>(sizeof shown));
    out_name_error(view.path, shown, "%s", reason);
}

// Writes what fill puts into a new file to the file of the name in the
// folder the tree has entered: the new file lies beside it and takes the
// name (and an existing file's mode) only once it is whole, so that neither a
// failed write nor a kill leaves part of it under the name, and an existing
// file stays as it was. A link at the name is refused, and never written
// through. fill writes all of it to the file, or returns -1 with the reason.
int write_file(DiskTree *tree, const char *name, int (*fill)(int file, void *context), void *context)
{
    char temp[PATH_BUFFER_SIZE * 2];
    const int kind = disk_tree_kind(tree, name);
    if (kind == -1) return -1;
    if (kind == DISK_KIND_LINK) return fail(ERR_ACCESS_DENIED, -1, "its name is a link");
    if (kind == DISK_KIND_FOLDER) return fail(ERR_IS_FOLDER, -1);
    const int file = disk_tree_create_temp(tree, temp, static_cast<int>(sizeof temp), name, ".pak-new");
    if (file == -1) return -1;
    const bool whole = fill(file, context) == 0;
    if (disk_close(file) != 0 || !whole || disk_tree_replace(tree, temp, name) != 0) {
        const ErrReason why = err_last();
        const char *detail = err_detail();
        disk_tree_delete(tree, temp);
        return fail(why, -1, detail);
    }
    return 0;
}

// Whether --keep finds something at the entry's path; -1 when a link or a
// failure is in the way, which writing then reports.
int exists(DiskTree *tree, const char *path)
{
    const int at = disk_tree_enter(tree, path, 0);
    if (at == -1) return err_last() == ERR_NOT_FOUND ? 0 : -1;
    const int kind = disk_tree_kind(tree, path + at);
    return kind == DISK_KIND_FILE || kind == DISK_KIND_FOLDER ? 1 : kind == DISK_KIND_NONE ? 0 : -1;
}

// Creates the folder path names and every folder on the way to it. An
// existing folder is no obstacle; a file of the name is.
int make_folder(const char *path)
{
    const size_t n = std::strlen(path);
    char *part = static_cast<char *>(mem_alloc(n + 1));
    if (!part) return fail(ERR_NO_MEMORY, -1);
    ScopeGuard release([&] { mem_free(part); });
    std::memcpy(part, path, n + 1);
    // Parts before the last, each ended at a separator (a drive's "C:\"
    // included, whose mkdir merely fails).
    for (char *p = part + 1; *p; p += path_char_len(p)) {
        if (*p != '/' && !(HOST_SEPARATOR == '\\' && *p == '\\' && path_char_len(p) == 1)) continue;
        const char c = *p;
        *p = 0;
        disk_mkdir(part);
        *p = c;
    }
    if (disk_mkdir(path) == 0) return 0;
    const ErrReason why = err_last();
    const char *detail = err_detail();
    if (disk_opens(path)) return fail(ERR_EXISTS, -1, "a file, not a folder");
    if (err_last() == ERR_IS_FOLDER) return 0;
    return fail(why, -1, detail);
}

// What a thread prepares for a record: its content, or why there is none.
struct ExtractTask {
    bool wanted;        // live and matched by a pattern
    bool streamed;      // too large to hold: written a chunk at a time, here
    char *data;         // the content (mem_alloc'd), or null
    int length;
    const char *reason; // why it cannot be read, or null
    bool unpacked;      // the reason is the archive's (why, detail)
    ErrReason why;
    const char *detail;
};

struct ExtractRun {
    const ArchiveView *view;
    ExtractTask *tasks;
    bool raw;
    int jobs;
    bool keep;
    bool force;    // an entry that looks like a damaged packed block is written as stored
    bool verbose;
    int code_page;
    char *path;    // the folder, a separator, then room for the entry's path
    DiskTree *tree;  // the folder, for writing beneath it
    size_t root;
    size_t room;
    bool failed;
    std::mutex reading;  // the view's one file, read by one thread at a time (ArchiveView::reading)
};

// Reads a wanted record and unpacks it unless raw.
void prepare(int index, void *context)
{
    ExtractRun *run = static_cast<ExtractRun *>(context);
    ExtractTask &task = run->tasks[index];
    if (!task.wanted || task.streamed) return;
    if (view_read_entry(run->view, index, &task.data, &task.length, &task.reason) != 0) return;
    if (!run->raw && view_unpack(&task.data, &task.length, run->force) != 0) {
        // Said on the calling thread, in its turn.
        task.unpacked = true;
        task.why = err_last();
        task.detail = err_detail();
    }
}

// A buffer written whole (disk_write writes all it is given, or fails).
struct Whole {
    const char *data;
    int length;
};

int write_whole(int file, void *context)
{
    const Whole *w = static_cast<const Whole *>(context);
    return w->length == 0 || disk_write(file, w->data, w->length) == w->length ? 0 : -1;
}

// An entry streamed from the archive into the file; a failure of the entry,
// not of the writing, is kept apart to be reported as the entry's.
struct Streamed {
    ExtractRun *run;
    int index;
    int file;
    const char *reason;  // why the entry could not be read, or null
};

int write_chunk(const void *bytes, size_t n, void *context)
{
    const Streamed *st = static_cast<const Streamed *>(context);
    return disk_write(st->file, bytes, static_cast<int>(n)) == static_cast<int>(n) ? 0 : -1;
}

int write_streamed(int file, void *context)
{
    Streamed *st = static_cast<Streamed *>(context);
    st->file = file;
    const char *reason = nullptr;
    const int r = st->run->raw ? view_stored_stream(st->run->view, st->index, write_chunk, st, &reason)
                               : view_entry_stream(st->run->view, st->index, st->run->force, write_chunk, st, &reason);
    if (r == 0) return 0;
    // The write's own reason stands when the writing stopped.
    if (reason != VIEW_STOPPED) st->reason = reason;
    return -1;
}

// Writes record index where it belongs, or says why not; in the order of the
// directory, on the calling thread.
int write_entry(int index, void *context)
{
    ExtractRun *run = static_cast<ExtractRun *>(context);
    const ArchiveView &view = *run->view;
    ExtractTask &task = run->tasks[index];
    ScopeGuard release([&] {
        mem_free(task.data);
        task.data = nullptr;
    });
    progress_update("extract", index + 1, view.facts.entry_count);
    if (!task.wanted) return 0;
    const PakEntry e = view_entry(&view, index);
    char *path = run->path;
    char *target = path + run->root + 1;
    const int room = static_cast<int>(run->room - run->root - 1);
    const ExtractName verdict = foreign_drive(e.name, view.facts.first_drive, view.facts.last_drive)
                                    ? XN_DRIVE
                                    : extract_name_check(e.name, PAK_NAME_SIZE, HOST_SEPARATOR, target, room,
                                                         !run->code_page && disk_names_split_trail_bytes());
    if (verdict != XN_OK) {
        report(view, e.name, extract_name_reason(verdict), run->code_page);
        run->failed = true;
        return 0;
    }
    // The checked path, in UTF-8: the conversion keeps every separator
    // and makes none, as neither code page has a '/' or '\' byte in a
    // character that UTF-8 would write as one.
    if (run->code_page) {
        char checked[PAK_NAME_SIZE * 2];
        std::strcpy(checked, target);
        if (text_to_utf8(run->code_page, checked, target, room) < 0) {
            report(view, e.name, "the name has no UTF-8 form in this code page", 0);
            run->failed = true;
            return 0;
        }
    }
    if (run->keep && exists(run->tree, target) == 1) {
        if (run->verbose) out_printf(CONSOLE_OUT, "%s (kept)\n", path);
        return 0;
    }
    if (task.reason || task.unpacked) {
        if (task.unpacked) err_set(task.why, task.detail);
        report(view, e.name, task.unpacked ? out_reason() : task.reason, run->code_page);
        run->failed = true;
        return 0;
    }
    const int name_at = disk_tree_enter(run->tree, target, 1);
    Whole whole{task.data, task.length};
    Streamed streamed{run, index, -1, nullptr};
    const int written = name_at == -1 ? -1
                        : task.streamed ? write_file(run->tree, target + name_at, write_streamed, &streamed)
                                        : write_file(run->tree, target + name_at, write_whole, &whole);
    if (streamed.reason) {
        report(view, e.name, streamed.reason, run->code_page);
        run->failed = true;
    } else if (written != 0) {
        out_failure(path, "cannot write the file");
        run->failed = true;
    } else if (run->verbose) {
        out_printf(CONSOLE_OUT, "%s\n", path);
    }
    return 0;
}

}  // namespace

int cmd_extract(const PakArgs &args)
{
    ArchiveView view;
    if (view_open(&view, args.positional[0], args.present[OPT_APPENDED]) != 0) return PAK_EXIT_FAILED;
    const char *dir = args.present[OPT_DIR] ? args.value[OPT_DIR] : ".";
    const bool raw = args.present[OPT_RAW];
    const int code_page = args.code_page, jobs = args.jobs;
    TypedPatterns patterns;
    ScopeGuard free_patterns([&] { typed_patterns_free(&patterns); });
    if (typed_patterns(args, code_page, &patterns) != 0) return PAK_EXIT_FAILED;

    // -C names a folder that need not exist yet.
    if (make_folder(dir) != 0) return out_fail_reason(dir, "cannot create the folder");
    DiskTree *tree = disk_tree_open(dir);
    if (!tree) return out_fail_reason(dir, "cannot open the folder");
    ScopeGuard close_tree([&] { disk_tree_close(tree); });
    const size_t root = std::strlen(dir);
    // A stored character takes up to 3 bytes of UTF-8.
    const size_t room = root + 2 + PAK_NAME_SIZE * 4;
    char *path = static_cast<char *>(mem_alloc(room));
    ScopeGuard release([&] { mem_free(path); });
    if (!path) return out_fail("extract", "not enough memory");
    std::memcpy(path, dir, root);
    path[root] = HOST_SEPARATOR;

    const int total = view.facts.entry_count;
    ExtractTask *tasks = static_cast<ExtractTask *>(mem_alloc(sizeof(ExtractTask) * (static_cast<size_t>(total) + 1)));
    long long *cost = static_cast<long long *>(mem_alloc(sizeof(long long) * (static_cast<size_t>(total) + 1)));
    ScopeGuard release_tasks([&] {
        for (int i = 0; tasks && i < total; ++i) mem_free(tasks[i].data);
        mem_free(tasks);
        mem_free(cost);
    });
    if (!tasks || !cost) return out_fail("extract", "not enough memory");
    std::memset(tasks, 0, sizeof(ExtractTask) * (static_cast<size_t>(total) + 1));
    // Which records are wanted is known up front; what an entry holds in
    // flight (its stored bytes and what they unpack to) too, from its head.
    const long long limit = VIEW_WHOLE_LIMIT;
    long long largest = 0, stored = 0;
    int wanted = 0;
    for (int i = 0; i < total; ++i) {
        const PakEntry e = view_entry(&view, i);
        tasks[i].wanted = e.data_offset != 0 && typed_patterns_want(&patterns, e.name);
        if (tasks[i].wanted) stored += e.stored_size, ++wanted;
    }
    // Entries this small cost less to read and unpack than to hand to
    // another thread; making their files is this thread's work anyway.
    const int threads = wanted > 0 && stored / wanted < PIPELINE_TINY_ITEM ? 1 : jobs;
    for (int i = 0; i < total; ++i) {
        const PakEntry e = view_entry(&view, i);
        cost[i] = 0;
        if (!tasks[i].wanted) continue;
        // An entry too large to hold whole is streamed by this thread, a
        // chunk or two at a time.
        // (With one thread the cost is not needed, and no head is read where
        // the entry cannot unpack to much.)
        cost[i] = raw                                                  ? (e.stored_size < limit ? e.stored_size + 1LL : 0)
                  : threads == 1 && e.stored_size <= VIEW_SURELY_WHOLE ? 1
                                                                       : view_whole_cost(&view, i, limit);
        tasks[i].streamed = cost[i] == 0;
        if (tasks[i].streamed) cost[i] = 2LL * BLOCK_STREAM_CHUNK;
        if (cost[i] > largest) largest = cost[i];
    }
    ExtractRun run{&view, tasks, raw, jobs, args.present[OPT_KEEP], args.present[OPT_FORCE], args.present[OPT_VERBOSE], code_page, path, tree, root, room, false, {}};
    // With one thread everything happens in order on this one, as it always
    // did; with N, entries are read and unpacked ahead while this thread
    // writes them in the order of the directory.
    if (largest < PIPELINE_BUDGET_FLOOR) largest = PIPELINE_BUDGET_FLOOR;
    // The workers' reads and this thread's streamed ones share the handle.
    view.reading = &run.reading;
    pipeline_run(total, threads, threads * PIPELINE_WINDOW, threads == 1 ? nullptr : cost, largest * threads, prepare,
                 write_entry, &run);
    view.reading = nullptr;
    progress_end();
    const bool unmatched = typed_patterns_unmatched(patterns, args, code_page, view.path);
    return run.failed || unmatched ? PAK_EXIT_FAILED : PAK_EXIT_OK;
}
