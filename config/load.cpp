// Loading: the configuration and include files, the entry and macro tables,
// and what happens when memory runs out. Tokens come from tokenize.cpp.
//
// Names and values are ended in place with NUL bytes and never copied; a load
// is one growth of the text store and one read.
#include <cstdint>
#include <cstring>

#include "archive/archive.h"
#include "config/config.h"
#include "config/store.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/scope_guard.h"

CfgStore g_cfg;

// ---- Stores and tables -----------------------------------------------------------

namespace {

// Makes room at the end of a store for a text of n bytes and its CR LF: one
// allocation. Returns where the text goes, or -1 when the allocation fails
// (the store is then as it was). The caller has checked that the sizes fit.
int32_t store_grow(char **buffer, int32_t size, int32_t n)
{
    const int32_t start = size ? size : 1;  // a new store begins with its NUL
    const size_t total = static_cast<size_t>(start) + static_cast<size_t>(n) + 2;
    char *grown = static_cast<char *>(size ? mem_realloc(*buffer, total) : mem_alloc(total));
    if (!grown) return passed(-1);
    grown[0] = 0;
    *buffer = grown;
    return start;
}

// True when a text of n bytes and its CR LF can follow size bytes of a store.
bool store_fits(int32_t size, int32_t n)
{
    return n >= 0 && n <= INT32_MAX - 3 - size;
}

// Reads the n-byte file into the store at start and ends it with CR LF;
// returns the length of the stored text. A short read keeps what was read.
int32_t store_read(int handle, char *at, int32_t n)
{
    int32_t got = n ? vfs_read(handle, at, n) : 0;
    if (got < 0 || got > n) got = 0;
    at[got] = '\r';
    at[got + 1] = '\n';
    return got + 2;
}

void release_entries()
{
    mem_free(g_cfg.entries);
    g_cfg.entries = nullptr;
    g_cfg.entry_capacity = 0;
    g_cfg.entry_count = 0;
    g_cfg.last_section = 0;
}

void release_macros()
{
    mem_free(g_cfg.macros);
    g_cfg.macros = nullptr;
    g_cfg.macro_capacity = 0;
    g_cfg.macro_count = 0;
    g_cfg.last_macro = 0;
}

// Records refer to the text by offset: with the text gone they go too.
void release_text()
{
    mem_free(g_cfg.text);
    g_cfg.text = nullptr;
    g_cfg.text_size = 0;
    release_entries();
}

void release_include()
{
    mem_free(g_cfg.include);
    g_cfg.include = nullptr;
    g_cfg.include_size = 0;
    g_cfg.include_parsed = 0;
    release_macros();
}

// Capacity for `need` records, or false with the table released. Tables grow
// by 60 records, or by half their capacity once that is more, so that a large
// file costs a logarithmic number of moves instead of a quadratic amount of
// copying.
template <typename Record>
bool reserve(Record **table, int32_t *capacity, int32_t need, void (*release)())
{
    if (need <= *capacity) return true;
    int32_t step = *capacity / 2 / CFG_GROWTH * CFG_GROWTH;
    if (step < CFG_GROWTH) step = CFG_GROWTH;
    const int32_t limit = static_cast<int32_t>(INT32_MAX / sizeof(Record));
    if (*capacity > limit - step) {
        release();
        return false;
    }
    const size_t bytes = static_cast<size_t>(*capacity + step) * sizeof(Record);
    void *grown = *capacity ? mem_realloc(*table, bytes) : mem_alloc(bytes);
    if (!grown) {
        release();
        return false;
    }
    *table = static_cast<Record *>(grown);
    *capacity += step;
    return true;
}

bool reserve_entries(int32_t need)
{
    return reserve(&g_cfg.entries, &g_cfg.entry_capacity, need, release_entries);
}

// A line holds at most one record, so one growth before parsing a large text
// makes room for all of its records (and, for a large table, the system backs
// it with large pages) instead of dozens of moves. Where that much memory is
// not to be had, the table grows step by step as for a small text.
void presize_entries(int64_t need)
{
    constexpr int64_t LARGE_TEXT_RECORDS = 4096;
    if (need - g_cfg.entry_capacity < LARGE_TEXT_RECORDS) return;
    if (need > INT32_MAX / static_cast<int64_t>(sizeof(CfgEntry))) return;
    const size_t bytes = static_cast<size_t>(need) * sizeof(CfgEntry);
    void *grown = g_cfg.entry_capacity ? mem_realloc(g_cfg.entries, bytes) : mem_alloc(bytes);
    if (!grown) return err_clear();
    g_cfg.entries = static_cast<CfgEntry *>(grown);
    g_cfg.entry_capacity = static_cast<int32_t>(need);
}

// Line ends of any kind: LF, CR LF and a lone CR. The text ends with CR LF.
int64_t line_ends(const char *text, int32_t length) { return 1 + text_line_ends(text, length); }

bool reserve_macros(int32_t need)
{
    return reserve(&g_cfg.macros, &g_cfg.macro_capacity, need, release_macros);
}

// ---- Paths -------------------------------------------------------------------------

// Joins folder, a backslash unless folder is empty or ends in one, and name in
// the path scratch. False when the result would not fit in its 127 characters.
bool join_path(const char *folder, const char *name)
{
    const size_t folder_len = std::strlen(folder);
    if (folder_len + 1 + std::strlen(name) >= sizeof g_cfg.scratch) return false;
    std::memcpy(g_cfg.scratch, folder, folder_len + 1);
    path_add_slash(g_cfg.scratch);
    std::strcat(g_cfg.scratch, name);
    return true;
}

// Bytes of path up to and including its last ':' or '\', as path_dir keeps.
size_t dir_length(const char *path)
{
    size_t keep = 0;
    for (const char *p = path; *p; p += path_char_len(p))
        if (*p == ':' || *p == '\\') keep = static_cast<size_t>(p - path) + 1;
    return keep;
}

// The folder that include files and the second open attempt are relative to:
// the folder part of path when it is absolute, else the current directory
// joined with it. A folder that would not fit in 127 characters is left empty
// rather than cut.
void set_config_folder(const char *path) { cfg_folder_of(path, g_cfg.config_folder); }

int open_config(const char *path)
{
    const int handle = vfs_open(path, 0);
    if (handle != -1 || !g_cfg.config_folder[0]) return handle;
    // The name as given is what the caller asked for: its reason stands
    // unless the second place has another file that failed otherwise.
    const ErrReason first = err_last();
    const char *first_detail = err_detail();
    const int joined = join_path(g_cfg.config_folder, path) ? vfs_open(g_cfg.scratch, 0) : passed(-1);
    if (joined == -1 && err_last() == ERR_NOT_FOUND) err_set(first, first_detail);
    return joined;
}


// ---- Parsing ---------------------------------------------------------------------

// Appends an included file to the include store; its macros are made after
// the main text is parsed. A file that is not found is skipped (false).
bool read_include(const char *name)
{
    const int file = cfg_open_include(name);
    if (file == -1) return false;
    ScopeGuard close_file([&] { vfs_close(file); });
    const int32_t n = vfs_size(file);
    if (!store_fits(g_cfg.include_size, n)) return true;
    const int32_t start = store_grow(&g_cfg.include, g_cfg.include_size, n);
    if (start < 0) {
        release_include();
        return true;
    }
    g_cfg.include_size = start + store_read(file, g_cfg.include + start, n);
    return true;
}

// Keys that come before any section header while the entry table is empty
// (the opening keys of the first file) are gathered under a nameless section
// at record 0, so that the section chain always starts with a section and a
// lookup by a section's name never lands on a key.
void parse_entries(int32_t start, int32_t length, CfgLoadReport *report)
{
    presize_entries(g_cfg.entry_count + 2 + line_ends(g_cfg.text + start, length));
    int32_t i = g_cfg.entry_count;
    int32_t current = i > 0 ? g_cfg.last_section : 0;
    int32_t position = 0;
    for (;;) {
        if (!reserve_entries(i + 1)) return;
        int32_t name = 0;
        int32_t value = 0;
        const int token =
            cfg_next_token(g_cfg.text + start, &position, length, &name, &value, g_cfg.text);
        if (token == CFG_END) break;
        if (token == CFG_DIRECTIVE) {
            if (value && path_same_name(g_cfg.text + name, "include")) {
                const bool opened = read_include(g_cfg.text + value);
                if (report && report->include) report->include(report->context, g_cfg.text + value, opened);
            }
            continue;
        }
        if (token == CFG_KEY && i == 0) {
            g_cfg.entries[0] = CfgEntry{};
            g_cfg.entry_count = i = 1;
            current = 0;
            if (!reserve_entries(i + 1)) return;
        }
        CfgEntry &entry = g_cfg.entries[i];
        entry = CfgEntry{};
        entry.name = name;
        if (token == CFG_SECTION) {
            if (i > 0) g_cfg.entries[current].next_section = i;
            current = i;
        } else {
            g_cfg.entries[i - 1].next_key = i;
            entry.value = value;
        }
        g_cfg.entry_count = ++i;
    }
    g_cfg.last_section = current;
}

// Every key line and #define of an included text defines a macro, whatever
// section it stands in; sections and directives (includes too) are ignored.
void parse_macros(int32_t start, int32_t length)
{
    int32_t i = g_cfg.macro_count;
    int32_t previous = i > 0 ? g_cfg.last_macro : 0;
    int32_t position = 0;
    for (;;) {
        if (!reserve_macros(i + 1)) return;
        int32_t name = 0;
        int32_t value = 0;
        const int token =
            cfg_next_token(g_cfg.include + start, &position, length, &name, &value, g_cfg.include);
        if (token == CFG_END) break;
        if (token != CFG_KEY) continue;
        if (i > 0) g_cfg.macros[previous].next = i;
        g_cfg.macros[i] = CfgMacro{name, value, 0};
        previous = i;
        g_cfg.macro_count = ++i;
    }
    g_cfg.last_macro = previous;
}

}  // namespace


// The configuration folder computed into a field of its own, so that a tool
// can ask where a load will look without loading.
void cfg_folder_of(const char *path, char *folder)
{
    const size_t cap = sizeof g_cfg.config_folder;
    folder[0] = 0;
    const size_t part = dir_length(path);
    if (part >= cap) return;
    if ((part >= 2 && path[1] == ':') || (part >= 1 && path[0] == '\\')) {
        std::memcpy(folder, path, part);
        folder[part] = 0;
        return;
    }
    if (disk_current_dir(folder, static_cast<int>(cap)) != 0) {
        folder[0] = 0;
        return;
    }
    const size_t cwd_len = std::strlen(folder);
    if (cwd_len + 1 + part >= cap) {
        folder[0] = 0;
        return;
    }
    path_add_slash(folder);
    const size_t len = std::strlen(folder);
    std::memcpy(folder + len, path, part);
    folder[len + part] = 0;
}

bool cfg_search_place(const char *folder, const char *name, int n, char *out, int size)
{
    const char *base = n == 1 ? folder : n == 2 ? g_cfg.include_folder : "";
    if (n < 0 || n > 2 || (n > 0 && !base[0])) return false;
    const size_t name_len = std::strlen(name), base_len = std::strlen(base);
    // As join_path builds it, in the same room.
    if (n > 0 && base_len + 1 + name_len >= sizeof g_cfg.scratch) return false;
    if (base_len + 2 + name_len > static_cast<size_t>(size)) return false;
    std::memcpy(out, base, base_len + 1);
    path_add_slash(out);
    std::strcat(out, name);
    return true;
}

// ---- Loading -------------------------------------------------------------------------

int32_t cfg_load(const char *path, CfgLoadReport *report)
{
    set_config_folder(path);
    const int file = open_config(path);
    if (file == -1) return 0;
    ScopeGuard close_file([&] { vfs_close(file); });

    // A size the store cannot hold is refused like a file that is not there.
    const int32_t n = vfs_size(file);
    if (n < 0) return passed(0);
    if (!store_fits(g_cfg.text_size, n)) return fail(ERR_TOO_LARGE, 0, "the store holds less than 2 GiB of text");
    const int32_t start = store_grow(&g_cfg.text, g_cfg.text_size, n);
    if (start < 0) {
        release_text();
        return 0;
    }
    const int32_t length = store_read(file, g_cfg.text + start, n);
    // Closed before parsing: includes take handles of their own.
    close_file.dismiss();
    vfs_close(file);
    g_cfg.text_size = start + length;

    if (report && report->text) report->text(report->context, g_cfg.text + start, length);
    parse_entries(start, length, report);
    // Macros come from the included text this load added. An include store
    // released and grown again during the load starts over after its NUL.
    const int32_t from = g_cfg.include_parsed > 0 ? g_cfg.include_parsed : 1;
    if (g_cfg.include_size > from) parse_macros(from, g_cfg.include_size - from);
    g_cfg.include_parsed = g_cfg.include_size;
    return 1;
}

void cfg_free()
{
    release_text();
    release_include();
}

// As given, beside the configuration file, then in the include folder.
int cfg_open_include(const char *name)
{
    int handle = vfs_open(name, 0);
    if (handle == -1 && g_cfg.config_folder[0] && join_path(g_cfg.config_folder, name))
        handle = vfs_open(g_cfg.scratch, 0);
    if (handle == -1 && g_cfg.include_folder[0] && join_path(g_cfg.include_folder, name))
        handle = vfs_open(g_cfg.scratch, 0);
    return handle;
}

// A folder too long for the field is not cut (that would name another
// folder); the include folder is emptied instead.
void cfg_set_include_folder(const char *folder)
{
    const size_t n = std::strlen(folder);
    if (n >= sizeof g_cfg.include_folder) {
        g_cfg.include_folder[0] = 0;
        return;
    }
    std::memcpy(g_cfg.include_folder, folder, n + 1);
}

void cfg_reset()
{
    cfg_free();
    g_cfg.config_folder[0] = 0;
    g_cfg.include_folder[0] = 0;
    g_cfg.scratch[0] = 0;
}
