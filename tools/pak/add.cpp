// pak add: host files as entries, packed on N threads and appended by this
// one in the order given.
#include <cstring>

#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/edit_session.h"
#include "tools/pak/names.h"
#include "tools/pak/output.h"
#include "tools/pak/pack_pool.h"
#include "tools/pak/pak.h"
#include "tools/pak/view.h"

namespace {

constexpr int WRITE_CHUNK = 1 << 20;

struct AddRun {
    EditSession *session;
    PackItem *items;
    const char **names;  // stored name of each item
    bool keep_old;
    int count;
    bool reported;  // a consume said why it failed
};

// The newest live record stored under exactly this name (ASCII case
// ignored), which a new entry of the name replaces; -1 when none.
int newest_named(int slot, const char *name)
{
    PakMountFacts f;
    if (vfs_mount_facts(slot, &f) != 0) return -1;
    for (int i = f.entry_count - 1; i >= 0; --i) {
        PakEntry e;
        if (vfs_entry_at(slot, i, &e) == 0 && e.data_offset != 0 && names_equal(e.name, name)) return i;
    }
    return -1;
}

void work(int index, void *context) { pack_item(&static_cast<AddRun *>(context)->items[index]); }

// Appends item index as a new entry through the archive file system.
int consume(int index, void *context)
{
    AddRun *run = static_cast<AddRun *>(context);
    PackItem &item = run->items[index];
    run->reported = true;  // every failure below says why
    ScopeGuard release([&] {
        mem_free(item.data);
        item.data = nullptr;
    });
    if (item.error != PACK_OK) {
        out_error(item.path, "%s; %s is unchanged", pack_error_text(item.error), run->session->path);
        return -1;
    }
    const int slot = run->session->slot;
    const int replaced = run->keep_old ? -1 : newest_named(slot, run->names[index]);
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
    progress_update("add", index + 1, run->count);
    run->reported = false;
    return 0;
}

// Checks every file and name before the archive is touched.
int check_files(const PakArgs &args, PackItem *items, const char **names, int count, long long *total)
{
    *total = 0;
    for (int i = 0; i < count; ++i) {
        PackItem &item = items[i];
        item.path = args.positional[1 + i];
        item.store = args.present[OPT_STORE];
        item.size = disk_file_size(item.path);
        names[i] = args.present[OPT_AS] ? args.value[OPT_AS] : host_base_name(item.path);
        if (item.size < 0) {
            out_failure(item.path, "cannot read");
            return -1;
        }
        if (!stored_name_ok(names[i])) {
            out_error(names[i], "a stored name has 1 to %d characters", PAK_NAME_SIZE - 1);
            return -1;
        }
        if (std::strpbrk(names[i], "*?")) {
            out_error(names[i], "a stored name cannot hold '*' or '?'");
            return -1;
        }
        // The game never needs a name that extract would refuse to write.
        char path[PAK_NAME_SIZE * 2];
        const ExtractName verdict =
            extract_name_check(names[i], PAK_NAME_SIZE, '/', path, static_cast<int>(sizeof path));
        if (verdict != XN_OK && !args.present[OPT_FORCE]) {
            out_write(CONSOLE_ERR, "pak: ", 5);
            out_name(CONSOLE_ERR, names[i]);
            out_printf(CONSOLE_ERR, ": %s; --force stores it anyway\n", extract_name_reason(verdict));
            return -1;
        }
        const long long stored = item.store ? item.size : block_stored_bound(item.size);
        if (stored > DISK_POSITION_LIMIT) {
            out_error(item.path, "too large for an archive (%lld bytes; at most %lld)", item.size,
                      static_cast<long long>(item.store ? DISK_POSITION_LIMIT
                                                        : DISK_POSITION_LIMIT - block_stored_bound(0)));
            return -1;
        }
        *total += stored;
    }
    // Two files under one name: the later replaces the earlier, which is
    // rarely what was meant.
    for (int i = 0; i < count && !args.present[OPT_KEEP_OLD]; ++i) {
        for (int j = i + 1; j < count; ++j) {
            if (!names_equal(names[i], names[j])) continue;
            out_write(CONSOLE_ERR, "pak: ", 5);
            out_name(CONSOLE_ERR, names[j]);
            out_printf(CONSOLE_ERR, ": warning: %s and %s are both stored under this name; %s is kept\n", items[i].path,
                       items[j].path, items[j].path);
            break;
        }
    }
    return 0;
}

}  // namespace

int cmd_add(const PakArgs &args)
{
    const int count = args.positional_count - 1;
    int jobs = 1;
    if (args.present[OPT_JOBS] && cli_parse_jobs(args.value[OPT_JOBS], &jobs) != 0)
        return usage_error(CMD_ADD, "-j takes a number of threads from 1 to 64");
    if (args.present[OPT_AS] && count != 1) return usage_error(CMD_ADD, "--as names one file only");

    PackItem *items = static_cast<PackItem *>(mem_alloc(sizeof(PackItem) * static_cast<size_t>(count)));
    if (items) std::memset(items, 0, sizeof(PackItem) * static_cast<size_t>(count));
    const char **names = static_cast<const char **>(mem_alloc(sizeof(char *) * static_cast<size_t>(count)));
    ScopeGuard release([&] {
        for (int i = 0; items && i < count; ++i) mem_free(items[i].data);
        mem_free(items);
        mem_free(names);
    });
    if (!items || !names) {
        out_error("add", "not enough memory");
        return PAK_EXIT_FAILED;
    }
    long long total = 0;
    if (check_files(args, items, names, count, &total) != 0) return PAK_EXIT_FAILED;

    // Everything the archive would hold afterwards, at worst: what it holds,
    // the new data, and a directory with the new records.
    ArchiveView view;
    if (view_open(&view, args.positional[0]) != 0) return PAK_EXIT_FAILED;
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
    // What an item holds while it is packed (the file and its packed block)
    // until it is written: N threads never hold more than N of the largest.
    // Within that, small files may run well ahead of a large one, so that no
    // thread waits for it idle.
    long long *cost = static_cast<long long *>(mem_alloc(sizeof(long long) * static_cast<size_t>(count)));
    ScopeGuard release_cost([&] { mem_free(cost); });
    if (!cost) {
        out_error("add", "not enough memory");
        return PAK_EXIT_FAILED;
    }
    long long largest = 0;
    for (int i = 0; i < count; ++i) {
        cost[i] = items[i].store ? items[i].size : items[i].size + 1 + block_stored_bound(items[i].size);
        if (cost[i] > largest) largest = cost[i];
    }
    AddRun run{&session, items, names, args.present[OPT_KEEP_OLD], count, false};
    const int result = pipeline_run(count, jobs, jobs * 8, cost, largest * jobs, work, consume, &run);
    progress_end();
    if (result != 0) {
        if (!run.reported) out_error(session.path, "not enough memory; it is unchanged");
        return PAK_EXIT_FAILED;
    }
    abandon.dismiss();
    return edit_commit(&session) == 0 ? PAK_EXIT_OK : PAK_EXIT_FAILED;
}
