// pak sync and pak diff: an archive held against a tree of files or another
// archive, entry by entry, by content (the format keeps no times): sizes
// first, then the bytes.
//
// Names pair when their stored bytes are the same, ASCII case included, so
// that case variants (README0.TXT and Readme0.txt) stay two entries, each
// paired with its own file. An entry whose name differs from a file's only in
// case is another entry: sync removes it and adds the file. Of several live
// records of one name only the newest counts; sync removes the older ones.
#include <cstdlib>
#include <cstring>

#include "platform/error.h"
#include "platform/platform.h"
#include "platform/scope_guard.h"
#include "tools/common/output.h"
#include "tools/pak/add.h"
#include "tools/pak/codepage.h"
#include "tools/pak/json.h"
#include "tools/pak/names.h"
#include "tools/pak/pak.h"
#include "tools/pak/view.h"

namespace {

constexpr int CHUNK = 1 << 16;
constexpr int DIFF_TROUBLE = 2;  // as diff(1) says it

struct Member {
    const char *name;  // stored form
    int position;      // the archive's record, or -1
    int input;         // the tree's file, or -1
    long long size;    // of the content
    bool shadowed;     // an older live record of a name a newer one has
    bool outside;      // beneath none of sync's operands: left alone
};

// One side: an archive's live records or a tree's files, sorted by name.
struct Side {
    bool tree = false;
    ArchiveView view;
    InputList inputs{nullptr, 0, 0};
    PackItem *items = nullptr;
    StoredName *names = nullptr;
    Member *members = nullptr;
    int count = 0;
    ~Side()
    {
        mem_free(items), mem_free(names), mem_free(members);
        inputs_free(&inputs);
    }
};

int by_name(const void *a, const void *b)
{
    const Member &x = *static_cast<const Member *>(a), &y = *static_cast<const Member *>(b);
    const int order = std::strcmp(x.name, y.name);
    return order ? order : y.position - x.position;  // the newest record first
}

bool allocated(Side *side, int n)
{
    side->names = static_cast<StoredName *>(mem_alloc(sizeof(StoredName) * (n + 1u)));
    side->members = static_cast<Member *>(mem_alloc(sizeof(Member) * (n + 1u)));
    side->items = side->tree ? static_cast<PackItem *>(mem_alloc(sizeof(PackItem) * (n + 1u))) : nullptr;
    if (side->items) std::memset(side->items, 0, sizeof(PackItem) * (n + 1u));
    if (side->names && side->members && (side->items || !side->tree)) return true;
    out_error(side->tree ? "the tree" : side->view.path, "not enough memory");
    return false;
}

void sort_members(Side *side)
{
    std::qsort(side->members, static_cast<size_t>(side->count), sizeof(Member), by_name);
    for (int k = 1; k < side->count; ++k)
        side->members[k].shadowed = !std::strcmp(side->members[k].name, side->members[k - 1].name);
}

int load_archive(Side *side, const char *path, bool appended)
{
    if (view_open(&side->view, path, appended) != 0) return -1;
    const int n = side->view.facts.entry_count;
    if (!allocated(side, n)) return -1;
    for (int i = 0; i < n; ++i) {
        const PakEntry e = view_entry(&side->view, i);
        if (e.data_offset == 0) continue;
        std::memcpy(side->names[i], e.name, PAK_NAME_SIZE);
        uint32_t unpacked = 0;
        const long long size = view_packed(&side->view, i, &unpacked) ? unpacked : e.stored_size;
        side->members[side->count++] = Member{side->names[i], i, -1, size, false, false};
    }
    sort_members(side);
    return 0;
}

// The files of args' operands (read under -C), checked and named as add
// would store them; the archive at path, when they hold it, passed over.
int load_tree(Side *side, const PakArgs &args, const char *archive)
{
    side->tree = true;
    if (inputs_collect(args, &side->inputs) != PAK_EXIT_OK) return -1;
    DiskIdentity self{}, id{};
    InputList &in = side->inputs;
    if (archive && disk_path_kind(archive, &self) == DISK_KIND_FILE)
        for (int i = 0; i < in.count; ++i) {
            if (disk_path_kind(in.items[i].path, &id) != DISK_KIND_FILE || id.volume != self.volume || id.file != self.file)
                continue;
            out_printf(CONSOLE_ERR, "pak: %s: skipped: the archive itself\n", in.items[i].path);
            mem_free(in.items[i].path), mem_free(in.items[i].name);
            std::memmove(&in.items[i], &in.items[i + 1], sizeof(AddInput) * static_cast<size_t>(--in.count - i));
            --i;
        }
    if (!allocated(side, in.count)) return -1;
    long long total = 0;
    if (side->inputs.count && add_check(args, side->inputs, side->items, side->names, &total, true) != 0) return -1;
    for (int i = 0; i < side->inputs.count; ++i)
        side->members[side->count++] = Member{side->names[i], -1, i, side->items[i].size, false, false};
    sort_members(side);
    return 0;
}

// Content compared with a file read alongside.
struct FileMatch {
    int file;
    char *buffer;
    bool differs;
};
int match_file(const void *bytes, size_t n, void *context)
{
    FileMatch &m = *static_cast<FileMatch *>(context);
    for (const char *p = static_cast<const char *>(bytes); n > 0 && !m.differs;) {
        const int want = n < CHUNK ? static_cast<int>(n) : CHUNK;
        m.differs = disk_read(m.file, m.buffer, want) != want || std::memcmp(m.buffer, p, static_cast<size_t>(want)) != 0;
        p += want, n -= static_cast<size_t>(want);
    }
    return m.differs;
}

int digest(const void *bytes, size_t n, void *context)
{
    sha256_add(static_cast<Sha256 *>(context), bytes, n);
    return 0;
}

// The stored bytes of two records, read side by side: whether they are the same.
bool same_stored(const Side &a, int i, const Side &b, int j, char *buffer)
{
    const PakEntry x = view_entry(&a.view, i), y = view_entry(&b.view, j);
    if (x.stored_size != y.stored_size) return false;
    int64_t at_x = a.view.facts.base_offset + static_cast<int64_t>(x.data_offset);
    int64_t at_y = b.view.facts.base_offset + static_cast<int64_t>(y.data_offset);
    for (int64_t left = x.stored_size; left > 0;) {
        const int n = left < CHUNK ? static_cast<int>(left) : CHUNK;
        if (disk_read_at(a.view.file, at_x, buffer, n) != 0 || disk_read_at(b.view.file, at_y, buffer + CHUNK, n) != 0 ||
            std::memcmp(buffer, buffer + CHUNK, static_cast<size_t>(n)) != 0)
            return false;
        at_x += n, at_y += n, left -= n;
    }
    return true;
}

// Whether the contents of x (in a) and y (in b) differ: 1 or 0, or -1 with
// the reason when one cannot be read. a is an archive.
int differs(const Side &a, const Member &x, const Side &b, const Member &y, const char **reason)
{
    if (x.size != y.size) return 1;
    char *buffer = static_cast<char *>(mem_alloc(2 * CHUNK));
    if (!buffer) return *reason = "not enough memory", -1;
    ScopeGuard release([&] { mem_free(buffer); });
    if (b.tree) {
        FileMatch m{disk_open(b.items[y.input].path, DISK_READ), buffer, false};
        if (m.file == -1) return *reason = out_reason(), -1;
        const int read = view_entry_stream(&a.view, x.position, false, match_file, &m, reason);
        disk_close(m.file);
        return m.differs ? 1 : read;
    }
    // Records stored alike hold the same; packed ones stored otherwise are
    // held to each other's digest, as neither can be read alongside.
    if (same_stored(a, x.position, b, y.position, buffer)) return 0;
    uint8_t digests[2][SHA256_SIZE];
    const Side *sides[2] = {&a, &b};
    const Member *members[2] = {&x, &y};
    for (int k = 0; k < 2; ++k) {
        Sha256 s;
        sha256_start(&s);
        if (view_entry_stream(&sides[k]->view, members[k]->position, false, digest, &s, reason) != 0) return -1;
        sha256_end(&s, digests[k]);
    }
    return std::memcmp(digests[0], digests[1], SHA256_SIZE) != 0;
}

enum Change { ADDED, CHANGED, REMOVED, OLDER_COPY, UNCHANGED };
const char *const change_words[] = {"added", "changed", "removed", "removed", "unchanged"};

struct Event {
    Change change;
    const Member *a, *b;  // the member on each side, null on the side without one
    const char *name() const { return a ? a->name : b->name; }
};

// Pairs a's members with b's by name and says what changed from a to b, in
// name order; members outside are passed over, shadowed ones are older
// copies. With repair, a damaged record of a is changed (its file replaces
// it). The count of events, or -1 after saying why.
int compare(const Side &a, const Side &b, Event *events, bool repair)
{
    int n = 0, i = 0, j = 0;
    while (i < a.count || j < b.count) {
        const Member *x = i < a.count ? &a.members[i] : nullptr, *y = j < b.count ? &b.members[j] : nullptr;
        if (x && x->outside) {
            ++i;
            continue;
        }
        if (x && x->shadowed) {
            events[n++] = Event{OLDER_COPY, x, nullptr}, ++i;
            continue;
        }
        const int order = !x ? 1 : !y ? -1 : std::strcmp(x->name, y->name);
        if (order < 0) {
            events[n++] = Event{REMOVED, x, nullptr}, ++i;
        } else if (order > 0) {
            events[n++] = Event{ADDED, nullptr, y}, ++j;
        } else {
            const char *reason = nullptr;
            progress_update("compare", i + j, a.count + b.count);
            const int d = differs(a, *x, b, *y, &reason);
            if (d < 0 && !(repair && err_last() == ERR_DAMAGED)) {
                progress_end();
                out_name_error(a.view.path, x->name, "%s", reason);
                return -1;
            }
            events[n++] = Event{d ? CHANGED : UNCHANGED, x, y}, ++i, ++j;
        }
    }
    progress_end();
    return n;
}

void print_event(const Event &e, int code_page)
{
    char shown[PAK_NAME_SIZE * 3];
    if (!code_page || shown_name(e.name(), code_page, shown, sizeof shown) != 0) std::memcpy(shown, e.name(), PAK_NAME_SIZE);
    out_printf(CONSOLE_OUT, "%-9s ", change_words[e.change]);
    out_name(CONSOLE_OUT, shown);
    out_printf(CONSOLE_OUT, "%s\n", e.change == OLDER_COPY ? " (an older copy)" : "");
}

// Marks the archive's records beneath none of the operands (stored forms of
// the tree's roots) as outside.
int mark_outside(Side *archive, const InputList &tree, int code_page)
{
    char roots[PATH_BUFFER_SIZE * 4];
    for (int k = 0; k < archive->count; ++k) archive->members[k].outside = true;
    for (int r = 0; r < tree.root_count; ++r) {
        char *root = roots;
        if (tree.roots[r][0] && typed_name(tree.roots[r], code_page, root, sizeof roots) != 0) return -1;
        if (!tree.roots[r][0]) root[0] = 0;
        const size_t n = std::strlen(root);
        const char last = n ? root[n - 1] : '\\';
        for (int k = 0; k < archive->count; ++k) {
            Member &m = archive->members[k];
            char head[PAK_NAME_SIZE] = "";
            if (!m.outside || std::strlen(m.name) < n) continue;
            std::memcpy(head, m.name, n);
            // ASCII case ignored, as the archive's lookups see folders.
            if (names_equal(head, root) && (!m.name[n] || m.name[n] == '\\' || last == '\\' || last == ':'))
                m.outside = false;
        }
    }
    return 0;
}

}  // namespace

int cmd_sync(const PakArgs &given)
{
    const char *path = given.positional[0];
    if (!given.present[OPT_DIR] && given.positional_count < 2)
        return usage_error(CMD_SYNC, "give the tree: -C DIR, PATHs, or both");
    for (int k = 1; k < given.positional_count; ++k)
        if (!std::strcmp(given.positional[k], "-")) return usage_error(CMD_SYNC, "standard input cannot be synced; use add");
    if (vfs_is_appended_name(path))
        return out_fail(path, "an archive attached to a program cannot be changed; change the stand-alone archive and attach it again");
    // Without PATHs, the whole of DIR.
    PakArgs args = given;
    const char *whole[2] = {path, "."};
    if (args.positional_count < 2) args.positional = whole, args.positional_count = 2;
    Side archive, tree;
    if (load_archive(&archive, path, false) != 0 || load_tree(&tree, args, path) != 0 ||
        mark_outside(&archive, tree.inputs, args.code_page) != 0)
        return PAK_EXIT_FAILED;
    Event *events = static_cast<Event *>(mem_alloc(sizeof(Event) * (archive.count + tree.count + 1u)));
    bool *drop = static_cast<bool *>(mem_alloc(archive.view.facts.entry_count + 1u));  // by record
    ScopeGuard release([&] { mem_free(events), mem_free(drop); });
    if (!events || !drop) return out_error("sync", "not enough memory"), PAK_EXIT_FAILED;
    const int n = compare(archive, tree, events, true);
    if (n < 0) return out_error(path, "it is unchanged"), PAK_EXIT_FAILED;

    // The plan: the records kept, the files appended (in the order walked).
    const int records = archive.view.facts.entry_count;
    const unsigned files = tree.inputs.count + 1u;
    bool *want = static_cast<bool *>(mem_alloc(files));
    AddInput *inputs = static_cast<AddInput *>(mem_alloc(sizeof(AddInput) * files));
    PackItem *items = static_cast<PackItem *>(mem_alloc(sizeof(PackItem) * files));
    StoredName *names = static_cast<StoredName *>(mem_alloc(sizeof(StoredName) * files));
    ScopeGuard release_plan([&] { mem_free(want), mem_free(inputs), mem_free(items), mem_free(names); });
    if (!want || !inputs || !items || !names) return out_error("sync", "not enough memory"), PAK_EXIT_FAILED;
    std::memset(drop, 0, records + 1u);
    std::memset(want, 0, tree.inputs.count + 1u);
    int counts[5] = {};
    for (int k = 0; k < n; ++k) {
        const Event &e = events[k];
        ++counts[e.change];
        if (e.a && e.change != UNCHANGED) drop[e.a->position] = true;
        if (e.b && e.change != UNCHANGED) want[e.b->input] = true;
    }
    const int free_records = records - view_live_count(&archive.view);
    // Said once done (or, with --dry-run, instead).
    const auto report = [&] {
        for (int k = 0; k < n; ++k)
            if (events[k].change != UNCHANGED || args.present[OPT_VERBOSE]) print_event(events[k], args.code_page);
        out_printf(CONSOLE_OUT, "%s: %d added, %d changed, %d removed, %d unchanged", path, counts[ADDED], counts[CHANGED],
                   counts[REMOVED] + counts[OLDER_COPY], counts[UNCHANGED]);
        if (free_records) out_printf(CONSOLE_OUT, ", %d free %s dropped", free_records, free_records == 1 ? "record" : "records");
        out_printf(CONSOLE_OUT, "%s\n", args.present[OPT_DRY_RUN] ? " (dry run: nothing written)" : "");
        return PAK_EXIT_OK;
    };
    if (args.present[OPT_DRY_RUN] || (n == counts[UNCHANGED] && !free_records)) return report();

    // What the archive will hold: the kept records' data as stored, the new
    // data at worst, and the directory.
    long long after = PAK_HEADER_SIZE;
    int kept = 0, appended = 0;
    for (int i = 0; i < records; ++i) {
        const PakEntry e = view_entry(&archive.view, i);
        if (e.data_offset && !drop[i]) after += e.stored_size, ++kept;
    }
    // The files to append, in walk order.
    for (int i = 0; i < tree.inputs.count; ++i) {
        if (!want[i]) continue;
        after += tree.items[i].store ? tree.items[i].size : block_stored_bound(tree.items[i].size);
        inputs[appended] = tree.inputs.items[i];
        std::memcpy(names[appended], tree.names[i], PAK_NAME_SIZE);
        items[appended++] = tree.items[i];
    }
    after += block_stored_bound(static_cast<long long>(kept + appended) * PAK_ENTRY_SIZE);
    view_close(&archive.view);
    if (after > DISK_POSITION_LIMIT)
        return out_fail(path, "the tree does not fit: the archive would exceed %lld bytes; it is unchanged", static_cast<long long>(DISK_POSITION_LIMIT));
    EditSession session;
    if (edit_begin(&session, path, drop) != 0) return PAK_EXIT_FAILED;
    ScopeGuard abandon([&] { edit_abandon(&session); });
    args.present[OPT_VERBOSE] = false;  // said above
    if (appended && add_append(&session, args, inputs, items, names, appended, false) != 0) return PAK_EXIT_FAILED;
    abandon.dismiss();
    return edit_commit(&session) == 0 ? report() : PAK_EXIT_FAILED;
}

int cmd_diff(const PakArgs &args)
{
    Side sides[2];
    PakArgs walk[2];
    const char *operands[2][2];
    for (int s = 0; s < 2; ++s) {
        const char *path = args.positional[s];
        if (!disk_opens(path) && err_last() == ERR_IS_FOLDER) {
            // Its files as add would name them ("." under -C DIR), whatever
            // extract would refuse.
            walk[s] = args;
            operands[s][0] = operands[s][1] = path;
            walk[s].positional = operands[s];
            walk[s].present[OPT_DIR] = walk[s].present[OPT_FORCE] = true;
            walk[s].value[OPT_DIR] = path;
            operands[s][1] = ".";
            if (load_tree(&sides[s], walk[s], args.positional[1 - s]) != 0) return DIFF_TROUBLE;
        } else if (load_archive(&sides[s], path, args.present[OPT_APPENDED]) != 0) {
            return DIFF_TROUBLE;
        }
    }
    if (sides[0].tree && sides[1].tree) return usage_error(CMD_DIFF, "two folders: give an archive as one of them");
    // Compared archive first; the events are then seen from the other side.
    const bool swapped = sides[0].tree;
    Event *events = static_cast<Event *>(mem_alloc(sizeof(Event) * (sides[0].count + sides[1].count + 1u)));
    ScopeGuard release([&] { mem_free(events); });
    if (!events) return out_error("diff", "not enough memory"), DIFF_TROUBLE;
    const int n = compare(sides[swapped], sides[!swapped], events, false);
    if (n < 0) return DIFF_TROUBLE;
    JsonWriter w;
    if (args.present[OPT_JSON]) {
        json_init(&w, [](const char *text, int length, void *) { out_write(CONSOLE_OUT, text, length); }, nullptr);
        json_open(&w, nullptr, '{');
        json_bytes(&w, "a", args.positional[0], static_cast<int>(std::strlen(args.positional[0])));
        json_bytes(&w, "b", args.positional[1], static_cast<int>(std::strlen(args.positional[1])));
        json_open(&w, "changes", '[');
    }
    int changes = 0;
    for (int k = 0; k < n; ++k) {
        Event e = events[k];
        if (e.change == UNCHANGED || e.change == OLDER_COPY) continue;
        if (swapped && e.change != CHANGED) e.change = e.change == ADDED ? REMOVED : ADDED;
        ++changes;
        if (!args.present[OPT_JSON]) {
            print_event(e, args.code_page);
            continue;
        }
        char shown[PAK_NAME_SIZE * 3];
        json_open(&w, nullptr, '{');
        json_text(&w, "change", change_words[e.change]);
        const char *name = e.name();
        if (args.code_page && shown_name(name, args.code_page, shown, sizeof shown) == 0) {
            json_text(&w, "name", shown);
            json_hex(&w, "name_hex", name, static_cast<int>(std::strlen(name)));
        } else {
            json_bytes(&w, "name", name, static_cast<int>(std::strlen(name)));
        }
        json_close(&w, '}');
    }
    if (args.present[OPT_JSON]) {
        json_close(&w, ']');
        json_close(&w, '}');
        out_write(CONSOLE_OUT, "\n", 1);
    }
    return changes ? PAK_EXIT_FAILED : PAK_EXIT_OK;
}
