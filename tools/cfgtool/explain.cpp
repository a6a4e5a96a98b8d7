// Warnings about configuration files. Each file is read once more, apart
// from the load, and walked by the reader's own tokenizer (cfg_walk_pieces), so
// that what is said is what the program does; the cost stays linear in the
// file's size and every quoted name is cut to one line of 200 bytes.
#include "tools/cfgtool/explain.h"
#include "tools/common/output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "config/config.h"
#include "platform/error.h"
#include "platform/platform.h"

int g_code_page = 0;

namespace {

constexpr size_t kQuoteMost = 200;  // bytes of a quoted name or value
constexpr int kMostWarnings = 1000; // a file's warnings shown; the rest are counted

// ---- Growable arrays -------------------------------------------------------------

// Room for one more record; false (a warning less, never a wrong one) when
// memory runs out.
template <typename T>
bool room(T **items, int32_t *capacity, int32_t count)
{
    if (count < *capacity) return true;
    const int32_t grown = *capacity ? *capacity * 2 : 64;
    void *block = mem_realloc(*items, static_cast<size_t>(grown) * sizeof(T));
    if (!block) return false;
    *items = static_cast<T *>(block);
    *capacity = grown;
    return true;
}

// ---- Shown text -------------------------------------------------------------------

void escape(const char *p, size_t n, TextSink sink, void *context)
{
    size_t run = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c >= 0x20 && c != 0x7F) continue;
        if (i > run) sink(context, p + run, i - run);
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        sink(context, escaped, 4);
        run = i + 1;
    }
    if (n > run) sink(context, p + run, n - run);
}

// ---- Messages ---------------------------------------------------------------------

// One warning line, built in place; a quote within it holds at most
// kQuoteMost bytes and ends in "..." when cut.
struct Message {
    char text[1024];
    size_t used = 0;
    size_t quote_left = 0;
    bool quote_cut = false;

    void add(const char *bytes, size_t n)
    {
        if (n > sizeof text - 1 - used) n = sizeof text - 1 - used;
        std::memcpy(text + used, bytes, n);
        used += n;
        text[used] = 0;
    }
    void add(const char *s) { add(s, std::strlen(s)); }
    void add_number(int32_t n)
    {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%d", n);
        add(digits);
    }
};

void quote_sink(void *context, const char *bytes, size_t n)
{
    Message &m = *static_cast<Message *>(context);
    if (m.quote_cut) return;
    if (n > m.quote_left) {
        // An escape goes whole or not at all; UTF-8 is cut between characters.
        n = bytes[0] == '\\' && n == 4 ? 0 : m.quote_left;
        while (n > 0 && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80) --n;
        m.quote_cut = true;
    }
    m.add(bytes, n);
    m.quote_left -= n;
}

// The bytes shown between quotes, cut to kQuoteMost bytes.
void quote(Message &m, const char *bytes, size_t n)
{
    m.add("'");
    m.quote_left = kQuoteMost;
    m.quote_cut = false;
    size_t take = 0;  // whole characters of the source, enough to fill the quote
    while (take < n && take < kQuoteMost) {
        const unsigned char c = static_cast<unsigned char>(bytes[take]);
        take += g_code_page && c >= 0x81 && take + 1 < n ? 2 : 1;
    }
    if (take > n) take = n;
    shown_text(bytes, take, quote_sink, &m);
    if (m.quote_cut || take < n) m.add("...");
    m.add("'");
}

void quote(Message &m, const char *text) { quote(m, text, std::strlen(text)); }

struct Warning {
    int32_t line;  // where it sorts: its line, or the line of the include it came through
    int32_t sub;   // then: its line in that included file (0 for the file's own)
    int32_t order; // the order it was found in, for warnings of one line
    char *text;
};
Warning *warnings = nullptr;
int32_t warning_count = 0, warning_capacity = 0, warnings_dropped = 0;

void keep(int32_t line, const Message &m, int32_t sub = 0)
{
    if (warning_count >= kMostWarnings || !room(&warnings, &warning_capacity, warning_count)) {
        ++warnings_dropped;
        return;
    }
    char *text = static_cast<char *>(mem_alloc(m.used + 2));
    if (!text) return;
    std::memcpy(text, m.text, m.used);
    std::memcpy(text + m.used, "\n", 2);
    warnings[warning_count] = {line, sub, warning_count, text};
    ++warning_count;
}

int by_line(const void *a, const void *b)
{
    const Warning &x = *static_cast<const Warning *>(a), &y = *static_cast<const Warning *>(b);
    if (x.line != y.line) return x.line < y.line ? -1 : 1;
    if (x.sub != y.sub) return x.sub < y.sub ? -1 : 1;
    return x.order < y.order ? -1 : x.order > y.order;
}

void put_err(const char *text) { out_write(CONSOLE_ERR, text, static_cast<int>(std::strlen(text))); }

// ---- Lines -----------------------------------------------------------------------

// Line numbers as an editor counts them: a line ends in CR LF, LF or CR.
// Asked for offsets mostly in increasing order, so each costs what lies
// between it and the one before.
struct Lines {
    const char *text = nullptr;
    int32_t length = 0;
    int32_t at = 0;
    int32_t line = 1;

    bool ends_line(int32_t i) const
    {
        return text[i] == '\n' || (text[i] == '\r' && (i + 1 >= length || text[i + 1] != '\n'));
    }
    int32_t of(int32_t offset)
    {
        if (offset > length) offset = length;
        for (; at < offset; ++at) line += ends_line(at);
        while (at > offset) line -= ends_line(--at);
        return line;
    }
};

// ---- Files and where records come from ----------------------------------------------

struct Origin {
    int32_t file;    // index in files, -1 for none
    int32_t line;
    int32_t anchor;  // a macro's: the line of the include it came through
};
char **files = nullptr;  // every file named in a warning, as shown
int32_t file_count = 0, file_capacity = 0;
// By entry handle and by macro handle (index 0 unused).
Origin *entry_origin = nullptr;
int32_t entry_origin_capacity = 0;
Origin *macro_origin = nullptr;
int32_t macro_origin_capacity = 0;

int32_t file_index(const char *shown)
{
    if (file_count && !std::strcmp(files[file_count - 1], shown)) return file_count - 1;
    if (!room(&files, &file_capacity, file_count)) return -1;
    const size_t n = std::strlen(shown) + 1;
    char *copy = static_cast<char *>(mem_alloc(n));
    if (!copy) return -1;
    std::memcpy(copy, shown, n);
    files[file_count] = copy;
    return file_count++;
}

bool set_origin(Origin **table, int32_t *capacity, int32_t handle, Origin origin)
{
    while (handle >= *capacity) {
        const int32_t old = *capacity;
        if (!room(table, capacity, *capacity)) return false;
        for (int32_t i = old; i < *capacity; ++i) (*table)[i] = Origin{-1, 0, 0};
    }
    (*table)[handle] = origin;
    return true;
}

// "cfgtool: FILE:LINE: warning: "
Message warning_at(int32_t file, int32_t line)
{
    Message m;
    m.add("cfgtool: ");
    m.add(file >= 0 ? files[file] : "?");
    m.add(":");
    m.add_number(line);
    m.add(": warning: ");
    return m;
}

// ---- Where a load opens a file -------------------------------------------------------

// The first place, of the first `places` that a load tries, that holds a file:
// 1 with its path, 0 when none does, -1 when it is no plain file (a FIFO or a
// device) that the load would open and wait on.
int find_place(const char *folder, const char *name, int places, char *place, int size)
{
    for (int n = 0; n < places; ++n) {
        if (!cfg_search_place(folder, name, n, place, size)) continue;
        if (disk_file_size(place) >= 0) return 1;
        const ErrReason reason = err_last();
        if (reason != ERR_NOT_FOUND && reason != ERR_IS_FOLDER && reason != ERR_ACCESS_DENIED &&
            reason != ERR_NAME_TOO_LONG && reason != ERR_BAD_NAME)
            return -1;
    }
    err_clear();
    return 0;
}

// The path made whole against the current directory, for telling whether
// two names reach one file.
void full_path(const char *path, char *out, int size)
{
    out[0] = 0;
    const bool absolute = path[0] == '\\' || path[0] == '/' || (path[0] && path[1] == ':');
    if (!absolute && disk_current_dir(out, size) == 0) path_add_slash(out);
    if (std::strlen(out) + std::strlen(path) + 1 > static_cast<size_t>(size)) return;
    std::strcat(out, path);
    for (char *p = out; *p; ++p)
        if (*p == '/') *p = '\\';
}

// A whole file read into memory, then CR LF; null when it cannot be.
char *read_file(const char *path, int32_t *length)
{
    const int64_t size = disk_file_size(path);
    if (size < 0 || size > DISK_POSITION_LIMIT - 3) return nullptr;
    const int handle = disk_open(path, 0);
    if (handle == -1) return nullptr;
    // Followed, as a stored text is, by CR LF: pieces may end there.
    char *text = static_cast<char *>(mem_alloc(static_cast<size_t>(size) + 3));
    int32_t got = 0;
    if (text) {
        got = size ? disk_read(handle, text, static_cast<int>(size)) : 0;
        if (got < 0) got = 0;
        std::memcpy(text + got, "\r\n", 3);
    }
    disk_close(handle);
    *length = got;
    return text;
}

// ---- One text ------------------------------------------------------------------------

struct Include {
    int32_t line;
    int32_t value, value_length;  // the name in the text
    char name[PATH_BUFFER_SIZE];  // empty when too long for any place
    char place[PATH_BUFFER_SIZE]; // where the load opens it; empty when nowhere
    bool quoted;
};

// A text walked piece by piece: the configuration file itself, or a file it
// includes (whose keys are macros, and whose includes the program ignores).
struct Walk {
    int32_t file;
    const char *text;
    int32_t length;
    Lines lines;
    bool included;
    int32_t anchor;      // for an included text: the include's line, where its warnings sort
    const char *folder;  // the configuration folder of the load
    bool refused;        // an include names no plain file
    bool quiet;          // the file itself, included: its warnings are said already
};

// What one configuration file's walk leaves for after its load.
struct Pending {
    char shown[PATH_BUFFER_SIZE * 2];
    char full[PATH_BUFFER_SIZE * 2];  // the file as a whole path
    char folder[128];
    int32_t file;
    char *text;
    int32_t length;
    Include *includes;
    int32_t include_count, include_capacity;
    int32_t opened_count;
    bool *opened;
    int32_t opened_capacity;
    Origin *entries;  // the sections and keys in text order, with kind in the sign of line
    int32_t entry_count, entry_capacity;
    Origin *macros;   // the included keys in text order
    int32_t macro_count, macro_capacity;
    bool refused;     // an include names no plain file
};
Pending pending;

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_gap(char c) { return is_blank(c) || c == '\r' || c == '\n'; }

bool same_word(const char *bytes, int32_t n, const char *word)
{
    if (static_cast<size_t>(n) != std::strlen(word)) return false;
    for (int32_t i = 0; i < n; ++i) {
        char c = bytes[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

void note(Walk &w, int32_t line, const Message &m)
{
    if (!w.quiet) keep(w.included ? w.anchor : line, m, w.included ? line : 0);
}

// The bytes a name or value holds up to a NUL, as the program reads it.
int32_t read_length(const char *text, int32_t from, int32_t to)
{
    const void *nul = std::memchr(text + from, 0, static_cast<size_t>(to - from));
    return nul ? static_cast<int32_t>(static_cast<const char *>(nul) - (text + from)) : to - from;
}

void name_words(Message &m, const Walk &w, const CfgPiece &p)
{
    if (p.kind == CFG_SECTION) m.add("the section name ");
    else if (p.kind == CFG_DIRECTIVE) m.add("the directive ");
    else m.add(w.included ? "the macro " : "the key ");
    quote(m, w.text + p.name, static_cast<size_t>(read_length(w.text, p.name, p.name_end)));
}

// A name or value that runs on over line ends, a NUL that ends it early.
void check_extent(Walk &w, const CfgPiece &p, int32_t from, int32_t to, bool value, int32_t line)
{
    const char *text = w.text;
    const int32_t own = to < w.length ? to : w.length;
    if (from < own && std::memchr(text + from, '\n', static_cast<size_t>(own - from))) {
        Message m = warning_at(w.file, line);
        if (value) {
            m.add("the value of ");
            name_words(m, w, p);
        } else {
            name_words(m, w, p);
        }
        m.add(" runs on to line ");
        m.add_number(w.lines.of(own - 1));
        m.add(": a line ending in LF alone ends no name or value (the program ends them at a CR); it reads ");
        quote(m, text + from, static_cast<size_t>(read_length(text, from, own)));
        note(w, line, m);
    }
    if (from < own && std::memchr(text + from, 0, static_cast<size_t>(own - from))) {
        Message m = warning_at(w.file, line);
        m.add("a NUL byte ends ");
        if (value) m.add("the value of ");
        name_words(m, w, p);
        if (value) {
            m.add(": the program reads ");
            quote(m, text + from, static_cast<size_t>(read_length(text, from, own)));
        }
        note(w, line, m);
    }
}

// Where a load opens an include of this name (Include.place), or refuses.
void find_include(Walk &w, Include &inc, const char *bytes, int32_t n, bool refuse)
{
    inc.place[0] = 0;
    inc.name[0] = 0;
    inc.quoted = n > 0 && bytes[0] == '"';
    if (n >= PATH_BUFFER_SIZE || std::memchr(bytes, 0, static_cast<size_t>(n))) return;  // no place takes it
    std::memcpy(inc.name, bytes, static_cast<size_t>(n));
    inc.name[n] = 0;
    const int found = find_place(w.folder, inc.name, 3, inc.place, sizeof inc.place);
    if (found < 0 && refuse) {
        char shown[PATH_BUFFER_SIZE * 2];
        shown_path(inc.place, shown, sizeof shown);
        Message m;
        m.add("cfgtool: ");
        m.add(pending.shown);
        m.add(":");
        m.add_number(inc.line);
        m.add(": the include ");
        quote(m, bytes, static_cast<size_t>(n));
        m.add(" (found as ");
        m.add(shown);
        m.add(") is no plain file (a FIFO or a device), which the program would wait on; not read\n");
        put_err(m.text);
        w.refused = true;
    }
    if (found <= 0) inc.place[0] = 0;
}

void check_include(Walk &w, const CfgPiece &p, int32_t line)
{
    const int32_t n = p.value < 0 ? 0 : read_length(w.text, p.value, p.value_end);
    if (p.value < 0) {
        Message m = warning_at(w.file, line);
        m.add("the include names no file; the program includes nothing");
        note(w, line, m);
        return;
    }
    if (!w.included) {
        if (room(&pending.includes, &pending.include_capacity, pending.include_count)) {
            Include &inc = pending.includes[pending.include_count++];
            inc.line = line;
            inc.value = p.value;
            inc.value_length = n;
            find_include(w, inc, w.text + p.value, n, true);
        }
        return;
    }
    // Includes nest one level: the program does not follow this one.
    Include inner{line, p.value, n, "", "", false};
    find_include(w, inner, w.text + p.value, n, false);
    Message m = warning_at(w.file, line);
    m.add("the include ");
    quote(m, w.text + p.value, static_cast<size_t>(n));
    m.add(" is in an included file, where the program ignores includes");
    char full[PATH_BUFFER_SIZE * 2];
    full_path(inner.place, full, sizeof full);
    if (inner.place[0] && path_same_name(full, pending.full)) {
        m.add(" (it names ");
        m.add(pending.shown);
        m.add(", which includes this file)");
    }
    note(w, line, m);
}

// A name or value cut at a comment mark that stands glued between its bytes,
// as in http://host or a;b: almost always meant as part of it.
void check_cut(Walk &w, const CfgPiece &p, int32_t line)
{
    const bool has_value = p.value >= 0;
    const int32_t begin = has_value ? p.value : p.name, end = has_value ? p.value_end : p.name_end;
    const char *t = w.text;
    if (end >= w.length) return;
    const int mark = t[end] == ';' ? 1 : t[end] == '/' && t[end + 1] == '/' ? 2 : 0;
    if (!mark || end == begin || is_blank(t[end - 1]) || end + mark >= w.length || is_gap(t[end + mark])) return;
    Message m = warning_at(w.file, line);
    if (p.kind == CFG_SECTION) {
        m.add("the section name stops at '");
        m.add(t + end, static_cast<size_t>(mark));
        m.add("', which begins a comment: the program reads ");
        quote(m, t + begin, static_cast<size_t>(read_length(t, begin, end)));
    } else {
        if (has_value) m.add("the value of ");
        name_words(m, w, p);
        m.add(" stops at '");
        m.add(t + end, static_cast<size_t>(mark));
        m.add("', which begins a comment (a name or value holds no ';' and no '//')");
        if (has_value) {
            m.add(": the program reads ");
            quote(m, t + begin, static_cast<size_t>(read_length(t, begin, end)));
        } else {
            m.add(", and has no value");
        }
    }
    note(w, line, m);
}

void check_piece(Walk &w, const CfgPiece &p)
{
    const char *t = w.text;
    const int32_t line = w.lines.of(p.start);
    if (p.kind != CFG_SKIPPED) {
        check_extent(w, p, p.name, p.name_end, false, line);
        if (p.value >= 0) check_extent(w, p, p.value, p.value_end, true, line);
    }
    if (p.kind == CFG_SECTION && !w.included) {
        if (p.name_end > p.name && (is_blank(t[p.name]) || is_blank(t[p.name_end - 1]))) {
            Message m = warning_at(w.file, line);
            name_words(m, w, p);
            m.add(" keeps the blanks inside its brackets: a lookup without them does not find it");
            note(w, line, m);
        }
        if (t[p.name_end] == '=' ) {
            Message m = warning_at(w.file, line);
            m.add("the section name stops at '=': the program reads ");
            quote(m, t + p.name, static_cast<size_t>(read_length(t, p.name, p.name_end)));
            note(w, line, m);
        }
    }
    if (p.kind == CFG_SECTION || p.kind == CFG_KEY || p.kind == CFG_DIRECTIVE) check_cut(w, p, line);
    if (p.kind == CFG_KEY && p.value >= 0 && t[p.start] != '#' && is_blank(t[p.name_end])) {
        // "my key = a value": the name ends at the blank, the rest is the value.
        bool separator_has_equals = false;
        for (int32_t i = p.name_end; i < p.value; ++i) separator_has_equals |= t[i] == '=';
        if (!separator_has_equals && std::memchr(t + p.value, '=', static_cast<size_t>(p.value_end - p.value))) {
            Message m = warning_at(w.file, line);
            name_words(m, w, p);
            m.add(" ends at its first blank: the program reads the value ");
            quote(m, t + p.value, static_cast<size_t>(read_length(t, p.value, p.value_end)));
            note(w, line, m);
        }
    }
    if (p.kind == CFG_DIRECTIVE && same_word(t + p.name, p.name_end - p.name, "include")) check_include(w, p, line);

    // A line ending in CR alone: the tokenizer reads on to the next LF, and
    // what stands between is lost.
    int32_t read_end = p.kind == CFG_SKIPPED ? p.start : p.value >= 0 ? p.value_end : p.name_end;
    while (read_end < p.end && t[read_end] != '\r' && t[read_end] != '\n') ++read_end;
    if (read_end + 1 < w.length && t[read_end] == '\r' && t[read_end + 1] != '\n') {
        int32_t i = read_end + 1;
        const int32_t last = p.end - 1 < w.length ? p.end - 1 : w.length;
        while (i < last && is_gap(t[i])) ++i;
        if (i < last) {
            const int32_t from = w.lines.of(read_end) + 1, to = w.lines.of(last);
            Message m = warning_at(w.file, w.lines.of(read_end));
            m.add("the line ends in CR alone: the program reads on to the next LF, so ");
            m.add(from == to ? "line " : "lines ");
            m.add_number(from);
            if (from != to) {
                m.add(" to ");
                m.add_number(to);
            }
            m.add(from == to ? " is skipped" : " are skipped");
            note(w, line, m);
        }
    }

    if (p.kind == CFG_KEY && !w.included && room(&pending.entries, &pending.entry_capacity, pending.entry_count))
        pending.entries[pending.entry_count++] = {w.file, line, 0};
    if (p.kind == CFG_SECTION && !w.included && room(&pending.entries, &pending.entry_capacity, pending.entry_count))
        pending.entries[pending.entry_count++] = {w.file, -line, 0};
    if (p.kind == CFG_KEY && w.included && room(&pending.macros, &pending.macro_capacity, pending.macro_count))
        pending.macros[pending.macro_count++] = {w.file, line, w.anchor};
}

void visit(void *context, const CfgPiece &piece) { check_piece(*static_cast<Walk *>(context), piece); }

void walk(Walk &w)
{
    w.lines.text = w.text;
    w.lines.length = w.length;
    if (w.length >= 3 && !std::memcmp(w.text, "\xEF\xBB\xBF", 3)) {
        Message m = warning_at(w.file, 1);
        m.add("the file starts with a UTF-8 byte-order mark, which the program reads as part of the first name");
        note(w, 1, m);
    }
    if (cfg_walk_pieces(w.text, w.length, visit, &w) != 0) {
        Message m = warning_at(w.file, 1);
        m.add("not enough memory to look for mistakes in the file");
        note(w, 1, m);
    }
}

// ---- Repeated names --------------------------------------------------------------------

// Names seen so far, by scope: 0 for sections, a section's handle for its
// keys, -1 for macros. Open addressing; the names stay in the store and are
// read through their handles.
struct Seen {
    uint32_t hash;
    int32_t scope;
    int32_t handle;  // 0: a free slot
};
Seen *seen = nullptr;
uint32_t seen_capacity = 0, seen_count = 0;
int32_t current_section = 0;  // the section that new keys join, across files

const char *macro_name(int32_t handle)
{
    const char *name = nullptr, *value = nullptr;
    return cfg_next_macro(handle - 1, &name, &value) == handle ? name : "";
}

uint32_t hash_name(const char *name, int32_t scope)
{
    uint32_t h = 2166136261u ^ static_cast<uint32_t>(scope);
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p)
        h = (h ^ (*p >= 'A' && *p <= 'Z' ? *p + 32u : *p)) * 16777619u;
    return h;
}

// The handle of the first name like this one in its scope, or 0 after
// noting this one as the first.
int32_t first_of(const char *name, int32_t scope, int32_t handle)
{
    if (2 * (seen_count + 1) > seen_capacity) {
        const uint32_t capacity = seen_capacity ? 2 * seen_capacity : 1024;
        Seen *grown = static_cast<Seen *>(mem_alloc(capacity * sizeof(Seen)));
        if (!grown) return 0;
        std::memset(grown, 0, capacity * sizeof(Seen));
        for (uint32_t i = 0; i < seen_capacity; ++i) {
            if (!seen[i].handle) continue;
            uint32_t at = seen[i].hash & (capacity - 1);
            while (grown[at].handle) at = (at + 1) & (capacity - 1);
            grown[at] = seen[i];
        }
        mem_free(seen);
        seen = grown;
        seen_capacity = capacity;
    }
    const uint32_t h = hash_name(name, scope);
    uint32_t at = h & (seen_capacity - 1);
    for (; seen[at].handle; at = (at + 1) & (seen_capacity - 1)) {
        const Seen &s = seen[at];
        if (s.hash != h || s.scope != scope) continue;
        const char *other = scope < 0 ? macro_name(s.handle) : cfg_entry_name(s.handle);
        if (path_same_name(other, name)) return s.handle;
    }
    seen[at] = {h, scope, handle};
    ++seen_count;
    return 0;
}

void warn_repeat(const char *what, const char *name, const char *where, const Origin &here, const Origin &first,
                 int32_t sort_line, int32_t sub, const char *rest)
{
    Message m = warning_at(here.file, here.line);
    m.add(what);
    quote(m, name);
    m.add(" repeats");
    m.add(where);
    m.add(" (first at ");
    m.add(first.file >= 0 ? files[first.file] : "?");
    m.add(":");
    m.add_number(first.line);
    m.add(")");
    m.add(rest);
    keep(sort_line, m, sub);
}

int32_t entry_total = 0, macro_total = 0;

// The new records of this load, matched with the pieces the walk saw.
void check_repeats()
{
    int32_t count = entry_total;
    while (cfg_entry_name(count + 1)) ++count;
    const int32_t added = count - entry_total;
    int32_t handle = entry_total + 1;
    if (added == pending.entry_count + 1 && entry_total == 0) {
        current_section = 1;  // keys before any header gathered under a nameless section
        set_origin(&entry_origin, &entry_origin_capacity, 1, {pending.file, 1, 0});
        ++handle;
    } else if (added != pending.entry_count) {
        handle = count + 1;  // the table was lost to a failed growth: nothing to match
    }
    for (int32_t i = 0; handle <= count; ++i, ++handle) {
        const bool section = pending.entries[i].line < 0;
        const Origin here{pending.entries[i].file, section ? -pending.entries[i].line : pending.entries[i].line, 0};
        set_origin(&entry_origin, &entry_origin_capacity, handle, here);
        const char *name = cfg_entry_name(handle);
        const int32_t scope = section ? 0 : current_section;
        if (section) current_section = handle;
        const int32_t first = first_of(name, scope, handle);
        if (!first) continue;
        if (section)
            warn_repeat("the section ", name, "", here, entry_origin[first], here.line, 0,
                        ": the program's lookup finds the first, and --get reads that one's keys alone");
        else
            warn_repeat("the key ", name, " in its section", here, entry_origin[first], here.line, 0,
                        ": a lookup without an occurrence number finds the first");
    }
    entry_total = count;

    const char *name = nullptr, *value = nullptr;
    int32_t macros = 0;
    for (int32_t m = cfg_next_macro(0, &name, &value); m; m = cfg_next_macro(m, &name, &value)) macros = m;
    if (macros - macro_total == pending.macro_count) {
        for (int32_t i = 0; i < pending.macro_count; ++i) {
            const int32_t h = macro_total + 1 + i;
            set_origin(&macro_origin, &macro_origin_capacity, h, pending.macros[i]);
            const int32_t first = first_of(macro_name(h), -1, h);
            if (first)
                warn_repeat("the macro ", macro_name(h), "", pending.macros[i], macro_origin[first],
                            pending.macros[i].anchor, pending.macros[i].line, ": the program uses the first");
        }
    }
    macro_total = macros;
}

// Whether the text reads as a number whose value does not fit 32 bits:
// decimal beyond -2147483648 to 2147483647, hexadecimal beyond 8 digits'
// worth (0xFFFFFFFF is the bit pattern of -1 and fits). The program wraps.
bool outside_32_bits(const char *text)
{
    int32_t ignored;
    if (!parse_int(text, &ignored)) return false;
    const char *p = text;
    while (*p == ' ') ++p;
    const bool negate = *p == '-', complement = *p == '~';
    if (negate || complement) ++p;
    while (*p == ' ') ++p;
    const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    if (hex) p += 2;
    uint64_t value = 0;
    for (; *p; ++p) {
        const int digit = *p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return true;
    }
    if (hex) return false;
    if (negate) return value > 0x80000000ull;
    if (complement) return value > 0x7FFFFFFFull;  // ~v is -v-1
    return value > 0x7FFFFFFFull;
}

}  // namespace

// ---- Interface ---------------------------------------------------------------------------

void shown_text(const char *text, size_t count, TextSink sink, void *context)
{
    if (g_code_page && count) {
        // A character of 2 bytes takes at most 4 in UTF-8, one of 1 byte 1.
        char *terminated = static_cast<char *>(mem_alloc(count + 1));
        char *utf8 = static_cast<char *>(mem_alloc(2 * count + 4));
        bool shown = false;
        if (terminated && utf8) {
            std::memcpy(terminated, text, count);
            terminated[count] = 0;
            // A NUL inside ends the conversion: only text without one converts.
            if (!std::memchr(text, 0, count) &&
                text_to_utf8(g_code_page, terminated, utf8, static_cast<int>(2 * count + 4)) >= 0) {
                escape(utf8, std::strlen(utf8), sink, context);
                shown = true;
            }
        }
        mem_free(terminated);
        mem_free(utf8);
        if (shown) return;
        err_clear();
    }
    escape(text, count, sink, context);
}

void shown_path(const char *path, char *out, int size)
{
    int i = 0;
    for (; path[i] && i < size - 1; ++i) out[i] = path[i] == '\\' ? HOST_SEPARATOR : path[i];
    out[i] = 0;
}

int explain_before_load(const char *shown, const char *path)
{
    mem_free(pending.text);
    mem_free(pending.includes);
    mem_free(pending.opened);
    mem_free(pending.entries);
    mem_free(pending.macros);
    pending = Pending{};
    std::snprintf(pending.shown, sizeof pending.shown, "%s", shown);
    pending.file = file_index(shown);
    cfg_folder_of(path, pending.folder);
    char place[PATH_BUFFER_SIZE * 2];
    const int found = find_place(pending.folder, path, 2, place, PATH_BUFFER_SIZE);
    if (found < 0) {
        for (const char *text : {"cfgtool: ", shown, ": cannot read: no plain file (a FIFO or a device), which the program would wait on\n"})
            put_err(text);
        return -1;
    }
    if (found > 0) full_path(place, pending.full, sizeof pending.full);
    return 0;
}

void explain_text(void *, const char *text, int32_t length)
{
    // A copy: the load changes its text in place as it parses.
    pending.text = static_cast<char *>(mem_alloc(static_cast<size_t>(length) + 3));
    if (!pending.text) return;
    std::memcpy(pending.text, text, static_cast<size_t>(length));
    std::memcpy(pending.text + length, "\r\n", 3);
    pending.length = length;
    Walk w{pending.file, pending.text, pending.length, {}, false, 0, pending.folder, false, false};
    walk(w);
    pending.refused = w.refused;
}

void explain_include(void *, const char *, bool opened)
{
    if (room(&pending.opened, &pending.opened_capacity, pending.opened_count)) pending.opened[pending.opened_count++] = opened;
}

int explain_after_load()
{
    if (pending.refused) return -1;
    for (int32_t i = 0; i < pending.include_count; ++i) {
        Include &inc = pending.includes[i];
        const bool opened = i < pending.opened_count ? pending.opened[i] : inc.place[0] != 0;
        if (inc.quoted) {
            Message m = warning_at(pending.file, inc.line);
            m.add("the include name ");
            quote(m, pending.text + inc.value, static_cast<size_t>(inc.value_length));
            m.add(" is quoted; the quotes are part of the name the program looks for");
            keep(inc.line, m);
        }
        if (!opened || !inc.place[0]) {
            if (!opened) {
                Message m = warning_at(pending.file, inc.line);
                m.add("the include ");
                quote(m, pending.text + inc.value, static_cast<size_t>(inc.value_length));
                m.add(" finds no file; the program skips it");
                keep(inc.line, m);
            }
            continue;
        }
        char full[PATH_BUFFER_SIZE * 2];
        full_path(inc.place, full, sizeof full);
        const bool itself = path_same_name(full, pending.full);
        if (itself) {
            Message m = warning_at(pending.file, inc.line);
            m.add("the include ");
            quote(m, pending.text + inc.value, static_cast<size_t>(inc.value_length));
            m.add(" is this file itself: the program reads its keys once more, as macros");
            keep(inc.line, m);
        }
        char shown[PATH_BUFFER_SIZE * 2];
        shown_path(inc.place, shown, sizeof shown);
        int32_t length = 0;
        char *text = read_file(inc.place, &length);
        if (!text) continue;
        Walk w{file_index(shown), text, length, {}, true, inc.line, pending.folder, false, itself};
        walk(w);
        mem_free(text);
    }
    check_repeats();

    if (warning_count) std::qsort(warnings, static_cast<size_t>(warning_count), sizeof *warnings, by_line);
    for (int32_t i = 0; i < warning_count; ++i) {
        put_err(warnings[i].text);
        mem_free(warnings[i].text);
    }
    if (warnings_dropped) {
        Message m;
        m.add("cfgtool: ");
        m.add(pending.shown);
        m.add(": warning: ");
        m.add_number(warnings_dropped);
        m.add(" more warnings not shown\n");
        put_err(m.text);
    }
    warning_count = warnings_dropped = 0;
    mem_free(pending.text);
    pending.text = nullptr;
    return 0;
}

void explain_number(int32_t key, const char *value)
{
    if (!cfg_entry_name(key)) return;
    int32_t number = 0;
    const char *text = value;
    if (!parse_int(value, &number)) {
        text = nullptr;
        const char *name = nullptr, *macro = nullptr;
        for (int32_t m = cfg_next_macro(0, &name, &macro); m && !text; m = cfg_next_macro(m, &name, &macro))
            if (path_same_name(name, value)) text = macro;
        if (!text || !parse_int(text, &number)) return;
    }
    if (!outside_32_bits(text)) return;
    const Origin origin = key < entry_origin_capacity && key > 0 ? entry_origin[key] : Origin{-1, 0, 0};
    Message m = warning_at(origin.file, origin.line);
    m.add(cfg_entry_name(key));
    m.add(" = ");
    quote(m, text);
    m.add(" does not fit 32 bits; the program reads it as ");
    m.add_number(number);
    m.add("\n");
    put_err(m.text);
}

void explain_end()
{
    for (int32_t i = 0; i < file_count; ++i) mem_free(files[i]);
    for (int32_t i = 0; i < warning_count; ++i) mem_free(warnings[i].text);  // of a file that did not load
    for (void *block : {static_cast<void *>(files), static_cast<void *>(entry_origin), static_cast<void *>(macro_origin),
                        static_cast<void *>(seen), static_cast<void *>(warnings), static_cast<void *>(pending.text),
                        static_cast<void *>(pending.includes), static_cast<void *>(pending.opened),
                        static_cast<void *>(pending.entries), static_cast<void *>(pending.macros)})
        mem_free(block);
}
