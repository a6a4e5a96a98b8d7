// pak extract: entries to files under a folder, never outside it, not even
// through a link that someone planted in it. An existing file is replaced
// (whole, or not at all), unless --keep. With -j N, N threads each read an
// entry (through the archive's one open handle), unpack it and
// write it to a working copy beside its file; the calling thread gives the
// copies their names and says what happened, in the order of the directory,
// so that what is left and what is said do not depend on N.
#include <cstring>
#include <mutex>

#include "platform/error.h"
#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/cli.h"
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

// Entries whose stored bytes and what they unpack to take at most this are
// unpacked whole, in buffers each thread keeps; larger ones are streamed.
constexpr long long EXTRACT_HELD_LIMIT = 16LL << 20;
// A target name takes up to 3 bytes of UTF-8 for each stored byte.
constexpr int TARGET_ROOM = PAK_NAME_SIZE * 4 + 1;
constexpr char NO_UTF8[] = "the name has no UTF-8 form in this code page";

// What a thread did with a wanted record, for the calling thread to finish.
enum ExtractOutcome {
    XO_NAME,     // the name is refused
    XO_KEPT,     // --keep found something at its path
    XO_ENTRY,    // the entry cannot be read or unpacked
    XO_WRITE,    // its file cannot be written
    XO_WRITTEN,  // a working copy waits beside its file
};

struct ExtractTask {
    bool wanted;          // live and matched by a pattern
    ExtractOutcome outcome;
    const char *reason;   // XO_ENTRY: what is wrong, or null for why and detail
    ErrReason why;        // XO_ENTRY's damage, or why XO_WRITE failed
    const char *detail;
    char *copy;           // XO_WRITTEN: the working copy's name (mem_alloc'd)
};

// A thread's own way into the folder (a tree remembers the folder it is in)
// and its buffers, taken for one entry at a time.
struct Desk {
    DiskTree *tree = nullptr;
    ViewBuffers buffers;
    char target[TARGET_ROOM];
    bool busy = false;
};

struct ExtractRun {
    const ArchiveView *view = nullptr;
    const char *dir = nullptr;
    ExtractTask *tasks = nullptr;
    bool raw = false;
    bool keep = false;
    bool force = false;    // an entry that looks like a damaged packed block is written as stored
    bool verbose = false;
    int code_page = 0;
    char *path = nullptr;  // the folder, a separator, then room for the entry's path
    DiskTree *tree = nullptr;  // the folder, for giving the copies their names
    size_t root = 0;
    bool failed = false;
    std::mutex desks_turn;
    Desk desks[CLI_MAX_JOBS];
};

Desk *desk_take(ExtractRun *run)
{
    const std::lock_guard<std::mutex> turn(run->desks_turn);
    for (Desk &desk : run->desks)
        if (!desk.busy) {
            desk.busy = true;
            return &desk;
        }
    return nullptr;  // never: a run has no more threads than desks
}

void desk_give(ExtractRun *run, Desk *desk)
{
    const std::lock_guard<std::mutex> turn(run->desks_turn);
    desk->busy = false;
}

// The entry's path beneath the folder, as this host names it, into target
// (TARGET_ROOM bytes): null, or why the name is refused (NO_UTF8 when the
// code page has no UTF-8 form for it).
const char *target_of(const ExtractRun *run, const char *name, char *target)
{
    const ArchiveView &view = *run->view;
    const ExtractName verdict = foreign_drive(name, view.facts.first_drive, view.facts.last_drive)
                                    ? XN_DRIVE
                                    : extract_name_check(name, PAK_NAME_SIZE, HOST_SEPARATOR, target, TARGET_ROOM,
                                                         !run->code_page && disk_names_split_trail_bytes());
    if (verdict != XN_OK) return extract_name_reason(verdict);
    // The checked path, in UTF-8: the conversion keeps every separator
    // and makes none, as neither code page has a '/' or '\' byte in a
    // character that UTF-8 would write as one.
    if (run->code_page) {
        char checked[PAK_NAME_SIZE * 2];
        std::strcpy(checked, target);
        if (text_to_utf8(run->code_page, checked, target, TARGET_ROOM) < 0) return NO_UTF8;
    }
    return nullptr;
}

// An entry's content into a new working copy beside its file, made at the
// first bytes: an entry found damaged before then makes nothing, not even a
// folder. A link at the file's name is refused, and never written through.
struct CopyWriter {
    DiskTree *tree = nullptr;
    const char *target = nullptr;
    int file = -1;
    char copy[PATH_BUFFER_SIZE * 2];
    ErrReason why = ERR_NONE;  // why the writing stopped
    const char *detail = nullptr;
};

int open_copy(CopyWriter *w)
{
    const int name_at = disk_tree_enter(w->tree, w->target, 1);
    if (name_at == -1) return -1;
    const char *name = w->target + name_at;
    const int kind = disk_tree_kind(w->tree, name);
    if (kind == -1) return -1;
    if (kind == DISK_KIND_LINK) return fail(ERR_ACCESS_DENIED, -1, "its name is a link");
    if (kind == DISK_KIND_FOLDER) return fail(ERR_IS_FOLDER, -1);
    w->file = disk_tree_create_temp(w->tree, w->copy, static_cast<int>(sizeof w->copy), name, ".pak-new");
    return w->file == -1 ? -1 : 0;
}

int write_bytes(const void *bytes, size_t n, void *context)
{
    CopyWriter *w = static_cast<CopyWriter *>(context);
    if ((w->file != -1 || open_copy(w) == 0) &&
        (n == 0 || disk_write(w->file, bytes, static_cast<int>(n)) == static_cast<int>(n)))
        return 0;
    w->why = err_last();
    w->detail = err_detail();
    return -1;
}

// Reads, unpacks and writes a wanted record, on any thread. What can be said
// about it is kept for the calling thread, which says it in turn.
void prepare(int index, void *context)
{
    ExtractRun *run = static_cast<ExtractRun *>(context);
    ExtractTask &task = run->tasks[index];
    if (!task.wanted) return;
    Desk *desk = desk_take(run);
    ScopeGuard give([&] { desk_give(run, desk); });
    const PakEntry e = view_entry(run->view, index);
    task.outcome = XO_WRITE;
    if (target_of(run, e.name, desk->target)) {
        task.outcome = XO_NAME;
        return;
    }
    if (!desk->tree) desk->tree = disk_tree_open(run->dir);
    if (!desk->tree) {
        task.why = err_last();
        task.detail = err_detail();
        return;
    }
    if (run->keep && exists(desk->tree, desk->target) == 1) {
        task.outcome = XO_KEPT;
        return;
    }
    CopyWriter w;
    w.tree = desk->tree;
    w.target = desk->target;
    const char *reason = nullptr;
    int r = view_entry_into(run->view, index, run->raw, run->force, &desk->buffers, EXTRACT_HELD_LIMIT, write_bytes, &w,
                            &reason);
    if (r != 0 && reason != VIEW_STOPPED) {
        task.outcome = XO_ENTRY;
        task.reason = reason;
        task.why = err_last();
        task.detail = err_detail();
    } else if (r == 0 && w.file == -1) {
        r = write_bytes(nullptr, 0, &w);  // an empty entry: the copy is made all the same
    }
    if (w.file != -1 && disk_close(w.file) != 0 && r == 0) {
        r = -1;
        w.why = err_last();
        w.detail = err_detail();
    }
    if (r == 0) {
        const size_t n = std::strlen(w.copy) + 1;
        task.copy = static_cast<char *>(mem_alloc(n));
        if (task.copy) {
            std::memcpy(task.copy, w.copy, n);
            task.outcome = XO_WRITTEN;
            return;
        }
        w.why = ERR_NO_MEMORY;
        w.detail = nullptr;
    }
    if (task.outcome == XO_WRITE) {
        task.why = w.why;
        task.detail = w.detail;
    }
    if (w.file != -1) disk_tree_delete(desk->tree, w.copy);
}

// Gives record index's copy its name, or says why there is none; in the
// order of the directory, on the calling thread.
int finish(int index, void *context)
{
    ExtractRun *run = static_cast<ExtractRun *>(context);
    const ArchiveView &view = *run->view;
    ExtractTask &task = run->tasks[index];
    ScopeGuard release([&] {
        mem_free(task.copy);
        task.copy = nullptr;
    });
    progress_update("extract", index + 1, view.facts.entry_count);
    if (!task.wanted) return 0;
    const PakEntry e = view_entry(&view, index);
    char *path = run->path;
    char *target = path + run->root + 1;
    const char *refused = target_of(run, e.name, target);
    if (refused) {
        report(view, e.name, refused, refused == NO_UTF8 ? 0 : run->code_page);
        run->failed = true;
        return 0;
    }
    // What an entry of the same path before this one made counts too.
    if (task.outcome == XO_KEPT || (run->keep && exists(run->tree, target) == 1)) {
        if (task.copy && disk_tree_enter(run->tree, target, 0) != -1) disk_tree_delete(run->tree, task.copy);
        if (run->verbose) out_printf(CONSOLE_OUT, "%s (kept)\n", path);
        return 0;
    }
    if (task.outcome == XO_ENTRY) {
        err_set(task.why, task.detail);
        report(view, e.name, task.reason ? task.reason : out_reason(), run->code_page);
        run->failed = true;
        return 0;
    }
    if (task.outcome == XO_WRITTEN) {
        // The copy's folder exists: the thread that wrote it made it.
        const int name_at = disk_tree_enter(run->tree, target, 0);
        if (name_at != -1 && disk_tree_replace(run->tree, task.copy, target + name_at) == 0) {
            if (run->verbose) out_printf(CONSOLE_OUT, "%s\n", path);
            return 0;
        }
        task.why = err_last();
        task.detail = err_detail();
        if (name_at != -1) disk_tree_delete(run->tree, task.copy);
    }
    err_set(task.why, task.detail);
    out_failure(path, "cannot write the file");
    run->failed = true;
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
    char *path = static_cast<char *>(mem_alloc(root + 1 + TARGET_ROOM));
    ScopeGuard release([&] { mem_free(path); });
    if (!path) return out_fail("extract", "not enough memory");
    std::memcpy(path, dir, root);
    path[root] = HOST_SEPARATOR;

    const int total = view.facts.entry_count;
    ExtractRun run;
    ExtractTask *tasks = static_cast<ExtractTask *>(mem_alloc(sizeof(ExtractTask) * (static_cast<size_t>(total) + 1)));
    ScopeGuard release_run([&] {
        for (int i = 0; tasks && i < total; ++i) mem_free(tasks[i].copy);
        mem_free(tasks);
        for (Desk &desk : run.desks) disk_tree_close(desk.tree);
    });
    if (!tasks) return out_fail("extract", "not enough memory");
    std::memset(tasks, 0, sizeof(ExtractTask) * (static_cast<size_t>(total) + 1));
    long long stored = 0;
    int wanted = 0;
    for (int i = 0; i < total; ++i) {
        const PakEntry e = view_entry(&view, i);
        tasks[i].wanted = e.data_offset != 0 && typed_patterns_want(&patterns, e.name);
        if (tasks[i].wanted) stored += e.stored_size, ++wanted;
    }
    // Entries this small cost less to do than to hand to another thread.
    const int threads = wanted > 0 && stored / wanted < PIPELINE_TINY_ITEM ? 1 : jobs;
    run.view = &view;
    run.dir = dir;
    run.tasks = tasks;
    run.raw = raw;
    run.keep = args.present[OPT_KEEP];
    run.force = args.present[OPT_FORCE];
    run.verbose = args.present[OPT_VERBOSE];
    run.code_page = code_page;
    run.path = path;
    run.tree = tree;
    run.root = root;
    // Each thread holds at most its buffers, and each item in flight a
    // working copy: as many as the process may hold, less a few.
    int window = threads * 4;
    if (window > TEMP_FILES_HELD - 8) window = TEMP_FILES_HELD - 8;
    pipeline_run(total, threads, window, nullptr, 0, prepare, finish, &run);
    progress_end();
    const bool unmatched = typed_patterns_unmatched(patterns, args, code_page, view.path);
    return run.failed || unmatched ? PAK_EXIT_FAILED : PAK_EXIT_OK;
}
