// The single disk search over a folder listing, with the rules FindFirstFileA
// applies: wildcards only in the last component, letters A-Z matched without
// regard to case, "." and ".." listed first, and the attributes Windows
// would report.
#include <dirent.h>
#include <fcntl.h>

#include <cstring>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix/native.h"

namespace {

constexpr size_t NAME_MAX_BYTES = PATH_BUFFER_SIZE;  // the name buffer callers provide

struct DiskSearch {
    DIR *dir = nullptr;             // open folder listing, or null: no search open
    uint32_t mask = 0;              // a reported entry shares a bit with it
    char wildcard[NAME_MAX_BYTES];  // the pattern's last component
    int dots_offered = 0;           // 0 to 2: "." and ".." go first, as on Windows
};

DiskSearch search;

void close_search()
{
    if (search.dir) closedir(search.dir);
    search.dir = nullptr;
}

char fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// '*' takes any run of characters and '?' one; once the name is used up, the
// pattern's remaining dots and stars match nothing, so "*.*" takes names
// without a dot too. A double-byte character is one character, compared
// exactly.
bool search_matches(const char *pattern, const char *name)
{
    const char *star = nullptr;   // pattern just after the last '*'
    const char *resume = nullptr;  // where that '*' would take one more character
    while (*name) {
        if (*pattern == '*') {
            star = ++pattern;
            resume = name;
            continue;
        }
        const int n = path_char_len(name);
        const int p = path_char_len(pattern);
        const bool same = *pattern == '?' ||
                          (p == n && (n == 1 ? fold(*pattern) == fold(*name)
                                             : std::memcmp(pattern, name, 2) == 0));
        if (*pattern && same) {
            pattern += *pattern == '?' ? 1 : p;
            name += n;
            continue;
        }
        if (!star) return false;
        pattern = star;
        resume += path_char_len(resume);
        name = resume;
    }
    while (*pattern == '*' || *pattern == '.') ++pattern;
    return !*pattern;
}

uint32_t attributes_of(const struct stat &st)
{
    const uint32_t read_only = is_read_only(st) ? FILE_ATTR_READONLY : 0u;
    if (S_ISDIR(st.st_mode)) return FILE_ATTR_DIRECTORY | read_only;
    return read_only ? read_only : FILE_ATTR_ARCHIVE;
}

// The next listed entry whose name fits the wildcard; false at the end.
bool next_entry(const char **name, uint32_t *attributes)
{
    for (;;) {
        const char *candidate = nullptr;
        if (search.dots_offered < 2) {
            candidate = search.dots_offered++ == 0 ? "." : "..";
        } else {
            const dirent *entry = readdir(search.dir);
            if (!entry) return false;
            candidate = entry->d_name;
            if (!std::strcmp(candidate, ".") || !std::strcmp(candidate, "..")) continue;
        }
        struct stat st;
        if (std::strlen(candidate) >= NAME_MAX_BYTES || !search_matches(search.wildcard, candidate)) continue;
        if (fstatat(dirfd(search.dir), candidate, &st, 0) == 0) {
            *attributes = attributes_of(st);
        } else {
            // A link to nowhere (or round in a loop) is listed, as Windows
            // lists one, by its own attributes: its caller finds out more.
            if (fstatat(dirfd(search.dir), candidate, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) continue;
            *attributes = FILE_ATTR_ARCHIVE;
        }
        *name = candidate;
        return true;
    }
}

// Opens the listing of the pattern's folder; false when there is none.
bool open_search(const char *pattern)
{
    const char *last = pattern;  // the last component starts here
    // No trail byte of a double-byte code page is a '/', but a UTF-8 name
    // read by that rule can put one where a trail byte would stand.
    for (const char *p = pattern; *p; p += *p == '/' || p[1] == '/' ? 1 : path_char_len(p))
        if (*p == '\\' || *p == '/') last = p + 1;
    const size_t wildcard_length = std::strlen(last);
    if (wildcard_length == 0) return fail(ERR_BAD_NAME, false);
    if (wildcard_length >= NAME_MAX_BYTES) return fail(ERR_NAME_TOO_LONG, false);
    std::memcpy(search.wildcard, last, wildcard_length + 1);

    char folder[PATH_MAX];
    const size_t folder_length = static_cast<size_t>(last - pattern);
    if (folder_length >= sizeof folder) return fail(ERR_NAME_TOO_LONG, false);
    std::memcpy(folder, pattern, folder_length);
    folder[folder_length] = 0;
    const NativeName path(folder_length ? folder : ".");
    search.dir = path.ok ? opendir(path.path) : nullptr;
    if (path.ok && !search.dir) err_from_system();
    search.dots_offered = 0;
    return search.dir != nullptr;
}

// Copies the next entry that shares a bit with the mask; closes the search at
// the end.
int take_next(char *name_out)
{
    const char *name = nullptr;
    uint32_t attributes = 0;
    while (next_entry(&name, &attributes)) {
        if (attributes & search.mask) {
            std::strcpy(name_out, name);
            return 0;
        }
    }
    close_search();
    return fail(ERR_NOT_FOUND, -1);
}

}  // namespace

int disk_find_first(const char *pattern, uint32_t mask, char *name_out)
{
    name_out[0] = 0;
    close_search();
    search.mask = mask == FILE_ATTR_NORMAL ? (FILE_ATTR_NORMAL | FILE_ATTR_ARCHIVE) : mask;
    if (!open_search(pattern)) {
        if (!search.dir && err_last() == ERR_NONE) err_set(ERR_NOT_FOUND);
        return passed(-1);
    }
    return take_next(name_out);
}

int disk_find_next(char *name_out)
{
    name_out[0] = 0;
    if (!search.dir) return fail(ERR_NOT_FOUND, -1);
    return take_next(name_out);
}

void disk_find_reset()
{
    close_search();
    search.mask = 0;
}
