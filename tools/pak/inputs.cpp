#include "tools/pak/inputs.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "archive/archive.h"
#include "platform/error.h"
#include "platform/scope_guard.h"
#include "platform/platform.h"
#include "tools/pak/names.h"
#include "tools/common/output.h"
#include "tools/pak/pak.h"

namespace {

int char_len(const char *p, bool utf8);

// a, the separator unless a already ends in it (its last character, not its
// last byte: a trail byte 0x5C is no separator), then b.
char *joined(const char *a, char separator, const char *b, bool utf8 = false)
{
    const size_t n = std::strlen(a), m = std::strlen(b);
    char *out = static_cast<char *>(mem_alloc(n + m + 2));
    if (!out) return nullptr;
    std::memcpy(out, a, n);
    size_t at = n;
    const char *last = a;
    for (const char *p = a; *p; p += char_len(p, utf8)) last = p;
    if (n && separator && !(*last == separator && char_len(last, utf8) == 1)) out[at++] = separator;
    std::memcpy(out + at, b, m + 1);
    return out;
}

char *copied(const char *text) { return joined("", 0, text); }

// A block from joined or copied, freed at the end of its scope unless taken.
struct Owned {
    char *p;
    explicit Owned(char *text) : p(text) {}
    Owned(const Owned &) = delete;
    ~Owned() { mem_free(p); }
    char *take() { return std::exchange(p, nullptr); }
};

// Bytes of one character: with a code page names are UTF-8, whose bytes
// past the first are never ASCII; else the double-byte walk.
int char_len(const char *p, bool utf8)
{
    if (!utf8) return path_char_len(p);
    const unsigned char c = static_cast<unsigned char>(*p);
    if (!c) return 0;
    const int n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    for (int i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) return 1;  // not UTF-8: a byte at a time
    return n;
}

// The last part of a stored-form name.
const char *last_part(const char *name, bool utf8)
{
    const char *last = name;
    for (const char *p = name; *p; p += char_len(p, utf8))
        if (*p == '\\') last = p + 1;
    return last;
}

int utf8_char_len(const char *p) { return char_len(p, true); }

// Whether n bytes, read by the double-byte rule, end in a lead byte that
// would take the '\\' after them as its trail byte.
bool ends_in_lone_lead(const char *part, size_t n)
{
    if (!path_dbcs || n == 0) return false;
    size_t i = 0;
    while (i + 1 < n) i += path_char_len(part + i) == 2 ? 2 : 1;
    const unsigned char last = static_cast<unsigned char>(part[n - 1]);
    return i == n - 1 && last >= 0x81 && last <= 0xFE;
}

// Whether a host name would run into the name beneath it in the archive: a
// UTF-8 folder name ("深" is E6 B7 B1) stored as bytes. POSIX only: names on
// a Windows disk are in its code page and pair up.
bool straddles(const PakArgs &args, const char *part, size_t n)
{
    return HOST_NAMES_ARE_BYTES && !args.present[OPT_CODEPAGE] && ends_in_lone_lead(part, n);
}

int refuse_straddle(const char *host)
{
    out_error(host, "as bytes, this UTF-8 name would run into the name beneath it in the archive's double-byte "
                    "code page; give --codepage 936 or 950");
    return -1;
}

bool holds_backslash(const char *name, bool utf8)
{
    for (const char *p = name; *p; p += char_len(p, utf8))
        if (*p == '\\' && char_len(p, utf8) == 1) return true;
    return false;
}

bool excluded(const PakArgs &args, const char *name)
{
    const bool utf8 = args.present[OPT_CODEPAGE];
    for (int i = 0; i < args.exclude_count; ++i) {
        char pattern[PATH_BUFFER_SIZE];
        if (std::strlen(args.excludes[i]) >= sizeof pattern) continue;
        inputs_normal_name(args.excludes[i], pattern, utf8);
        const char *subject = std::strchr(pattern, '\\') ? name : last_part(name, utf8);
        // Exclusions take the usual rules rather than the archive's (where
        // "*.tmp" would match every name without a dot, folders included).
        if (parts_match(pattern, subject, utf8 ? utf8_char_len : path_char_len)) return true;
    }
    return false;
}

int add(InputList *list, char *path, char *name, const char *refusal = nullptr)
{
    if (!path || !name || (list->count == list->capacity && [&] {
            const int capacity = list->capacity ? list->capacity * 2 : 64;
            void *grown = mem_realloc(list->items, sizeof(AddInput) * static_cast<size_t>(capacity));
            if (!grown) return true;
            list->items = static_cast<AddInput *>(grown);
            list->capacity = capacity;
            return false;
        }())) {
        mem_free(path);
        mem_free(name);
        out_error("add", "not enough memory");
        return -1;
    }
    list->items[list->count++] = AddInput{path, name, refusal};
    return 0;
}

int by_bytes(const void *a, const void *b)
{
    return std::strcmp(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}

// The folders from an operand down to the one being walked: a folder met
// again below itself was reached through a link, round in a loop.
struct FolderChain {
    DiskIdentity id;
    const FolderChain *up;
};

bool on_chain(const FolderChain *chain, const DiskIdentity &id)
{
    for (; chain; chain = chain->up)
        if (chain->id.volume == id.volume && chain->id.file == id.file) return true;
    return false;
}

// A member of a folder that is no file to store: named, and passed over.
void skipped(const char *host, const char *what) { out_printf(CONSOLE_ERR, "pak: %s: skipped: %s\n", host, what); }

// Adds the files beneath the folder host, named prefix + name + '\' + their
// own names (name "" for none); exclusions see the names without prefix.
// Pipes, sockets and devices are passed over with a warning, never opened;
// so are links that lead nowhere and links back to a folder above.
int walk(const PakArgs &args, InputList *list, const char *host, const char *name, const char *prefix,
         const FolderChain *chain)
{
    // The folder's names first: there is one disk search at a time, and the
    // folders beneath need their own.
    char **names = nullptr;
    int count = 0, capacity = 0;
    ScopeGuard release([&] {
        for (int i = 0; i < count; ++i) mem_free(names[i]);
        mem_free(names);
    });
    const bool utf8 = args.present[OPT_CODEPAGE];
    char *pattern = joined(host, HOST_SEPARATOR, "*", utf8);
    if (!pattern) return out_error("add", "not enough memory"), -1;
    char found[PATH_BUFFER_SIZE];
    constexpr uint32_t ANY = FILE_ATTR_READONLY | FILE_ATTR_HIDDEN | FILE_ATTR_SYSTEM | FILE_ATTR_DIRECTORY |
                             FILE_ATTR_ARCHIVE | FILE_ATTR_NORMAL;
    int r = disk_find_first(pattern, ANY, found);
    mem_free(pattern);
    if (r != 0 && err_last() != ERR_NOT_FOUND) return out_failure(host, "cannot list the folder"), -1;
    for (; r == 0; r = disk_find_next(found)) {
        if (!std::strcmp(found, ".") || !std::strcmp(found, "..")) continue;
        if (count == capacity) {
            capacity = capacity ? capacity * 2 : 32;
            void *grown = mem_realloc(names, sizeof(char *) * static_cast<size_t>(capacity));
            if (!grown) return out_error("add", "not enough memory"), -1;
            names = static_cast<char **>(grown);
        }
        if (!(names[count] = copied(found))) return out_error("add", "not enough memory"), -1;
        ++count;
    }
    if (count > 1) std::qsort(names, static_cast<size_t>(count), sizeof(char *), by_bytes);
    for (int i = 0; i < count; ++i) {
        Owned child_name(joined(name, '\\', names[i], utf8));
        Owned child_host(joined(host, HOST_SEPARATOR, names[i], utf8));
        if (!child_name.p || !child_host.p) return out_error("add", "not enough memory"), -1;
        if (excluded(args, child_name.p)) continue;
        // A POSIX name may hold a '\\' of its own, which the archive (and
        // the disk layer) would read as a separator: reported with the others.
        if (holds_backslash(names[i], args.present[OPT_CODEPAGE])) {
            if (add(list, child_host.take(), child_name.take(),
                    "its name holds a '\\', which an archive takes for a folder separator; rename it") != 0)
                return -1;
            continue;
        }
        DiskIdentity id{};
        const int kind = disk_path_kind(child_host.p, &id);
        if (kind == DISK_KIND_SPECIAL || (kind == -1 && err_last() == ERR_LINK) ||
            (kind == DISK_KIND_FOLDER && on_chain(chain, id))) {
            skipped(child_host.p, kind == DISK_KIND_SPECIAL ? "a pipe, socket or device, not a file"
                                  : kind == -1                ? err_detail()
                                                              : "a link loop (a link to a folder above it)");
            continue;
        }
        if (kind == DISK_KIND_FOLDER) {
            if (straddles(args, names[i], std::strlen(names[i]))) return refuse_straddle(child_host.p);
            const FolderChain here{id, chain};
            if (walk(args, list, child_host.p, child_name.p, prefix, &here) != 0) return -1;
            continue;
        }
        if (add(list, child_host.take(), joined(prefix, 0, child_name.p)) != 0) return -1;
    }
    return 0;
}

}  // namespace

void inputs_normal_name(const char *typed, char *out, bool utf8)
{
    char *o = out;
    char *after_separator = nullptr;  // a trail byte 0x5C is no separator
    const char *p = typed;
    for (;;) {
        // "./" and ".\" at the start of the name, or of what is left.
        while (o == out && p[0] == '.' && (p[1] == '/' || p[1] == '\\')) p += 2;
        if (!*p) break;
        // No trail byte of either code page is a '/'.
        const int n = *p == '/' ? 1 : char_len(p, utf8);
        if (n >= 2) {
            for (int i = 0; i < n; ++i) *o++ = *p++;
            continue;
        }
        const char c = *p == '/' ? '\\' : *p;
        ++p;
        if (c == '\\' && o > out && o == after_separator) continue;  // doubled
        *o++ = c;
        if (c == '\\') after_separator = o;
    }
    // A folder typed with its separator: "data/".
    if (o > out + 1 && o == after_separator) --o;
    *o = 0;
}

int inputs_collect(const PakArgs &args, InputList *list)
{
    *list = InputList{nullptr, 0, 0};
    // A refusal part way leaves nothing for the caller to free.
    ScopeGuard drop_list([&] { inputs_free(list); });
    for (int i = 1; i < args.positional_count; ++i)
        if (!std::strcmp(args.positional[i], "-") && !args.present[OPT_AS])
            return usage_error(CMD_ADD, "standard input ('-') needs --as NAME");
    const char *dir = args.present[OPT_DIR] ? args.value[OPT_DIR] : nullptr;
    char prefix[PATH_BUFFER_SIZE] = "";
    if (args.present[OPT_PREFIX]) {
        // Room for the separator that may be added below, and the terminator.
        if (std::strlen(args.value[OPT_PREFIX]) + 2 > sizeof prefix)
            return out_fail(args.value[OPT_PREFIX], "the prefix is too long");
        // Typed, not read off a disk: on any system its lead byte would take
        // the separator added below as its trail.
        if (!args.present[OPT_CODEPAGE] && ends_in_lone_lead(args.value[OPT_PREFIX], std::strlen(args.value[OPT_PREFIX])))
            return out_error(args.value[OPT_PREFIX], "the prefix ends in the first byte of a double-byte character, "
                                                     "which would take the '\\' after it"),
                   PAK_EXIT_FAILED;
        // Its own separators are kept: "#:\" ends in one, "data" gets one.
        char *o = prefix;
        for (const char *p = args.value[OPT_PREFIX]; *p; ++p) *o++ = *p == '/' ? '\\' : *p;
        *o = 0;
        // Its last character, not its last byte: a trail byte 0x5C is no separator.
        const char *last = prefix;
        for (const char *p = prefix; *p; p += char_len(p, args.present[OPT_CODEPAGE])) last = p;
        if (o > prefix && (char_len(last, args.present[OPT_CODEPAGE]) >= 2 || (*last != '\\' && *last != ':')))
            *o++ = '\\', *o = 0;
    }
    for (int i = 1; i < args.positional_count; ++i) {
        const char *typed = args.positional[i];
        if (!std::strcmp(typed, "-")) {
            if (add(list, copied("-"), copied(args.value[OPT_AS])) != 0) return PAK_EXIT_FAILED;
            continue;
        }
        Owned host(dir && !host_path_absolute(typed) ? joined(dir, HOST_SEPARATOR, typed, args.present[OPT_CODEPAGE])
                                                      : copied(typed));
        Owned normal(static_cast<char *>(mem_alloc(std::strlen(typed) + 1)));
        if (!host.p || !normal.p) return out_fail("add", "not enough memory");
        // A path that leaves the folder it is given in (absolute, or up with
        // "..") is named from its last part, as tar and zip would cut it.
        const char *named = typed;
        if (host_path_absolute(typed) || !std::strncmp(typed, "..", 2)) named = host_base_name(typed);
        if (!named[0] || !std::strcmp(named, "..")) named = typed;  // "/", "..": refused by the name check
        inputs_normal_name(named, normal.p, args.present[OPT_CODEPAGE]);
        for (const char *part = named, *slash; (slash = std::strchr(part, '/')); part = slash + 1)
            if (straddles(args, part, static_cast<size_t>(slash - part)))
                return refuse_straddle(typed), PAK_EXIT_FAILED;
        if (!std::strcmp(normal.p, ".")) normal.p[0] = 0;  // the folder itself: its files by their own names
        Owned root(joined(prefix, 0, normal.p));
        void *roots = root.p ? mem_realloc(list->roots, sizeof(char *) * (list->root_count + 1u)) : nullptr;
        if (!roots) return out_fail("add", "not enough memory");
        list->roots = static_cast<char **>(roots);
        list->roots[list->root_count++] = root.take();
        DiskIdentity id{};
        if (disk_path_kind(host.p, &id) == DISK_KIND_SPECIAL)
            return out_error(typed, "a pipe, socket or device, not a file; give its content on standard input ('-') "
                                    "with --as NAME"),
                   PAK_EXIT_FAILED;
        const bool folder = !disk_opens(host.p) && err_last() == ERR_IS_FOLDER;
        if (folder && args.present[OPT_AS]) return usage_error(CMD_ADD, "--as names one file, not a folder");
        if (normal.p[0] && excluded(args, normal.p)) continue;
        if (!folder) {
            char *stored = args.present[OPT_AS] ? copied(args.value[OPT_AS]) : joined(prefix, 0, normal.p);
            if (add(list, host.take(), stored) != 0)
                return PAK_EXIT_FAILED;
            continue;
        }
        const FolderChain top{id, nullptr};
        if (walk(args, list, host.p, normal.p, prefix, &top) != 0) return PAK_EXIT_FAILED;
    }
    drop_list.dismiss();
    return PAK_EXIT_OK;
}

void inputs_free(InputList *list)
{
    for (int i = 0; i < list->count; ++i) {
        mem_free(list->items[i].path);
        mem_free(list->items[i].name);
    }
    mem_free(list->items);
    for (int i = 0; i < list->root_count; ++i) mem_free(list->roots[i]);
    mem_free(list->roots);
    *list = InputList{nullptr, 0, 0};
}
