// Lookups in the loaded store: sections by name and occurrence, keys of a
// section, values as text or as numbers, and macros. Every lookup is a
// linear walk along a chain; nothing is indexed or cached.
//
// A handle is a record's position + 1; 0 means none. Chains only ever link
// forward (records are appended), and every walk checks that, so neither a
// stale nor a made-up handle can read outside the tables or loop.
#include <cstring>

#include "config/config.h"
#include "config/store.h"
#include "platform/platform.h"

namespace {

// The record a handle names, or null.
const CfgEntry *entry_of(int32_t handle)
{
    if (handle < 1 || handle > g_cfg.entry_count) return nullptr;
    return &g_cfg.entries[handle - 1];
}

// The position a link from record `from` leads to, or -1 at the end.
int32_t follow(int32_t from, int32_t link)
{
    return link > from && link < g_cfg.entry_count ? link : -1;
}

const char *name_of(int32_t position) { return g_cfg.text + g_cfg.entries[position].name; }
const char *value_of(int32_t position) { return g_cfg.text + g_cfg.entries[position].value; }

bool matches(const char *wanted, int32_t position)
{
    return !wanted || path_same_name(name_of(position), wanted);
}

void copy_to(char *dest, const char *text)
{
    if (dest) std::strcpy(dest, text);
}

// Occurrence n of the key `key` (any key when null) in the section at
// `section`; -1 when there is none.
int32_t find_key(const char *key, int32_t n, int32_t section)
{
    if (n < 1) n = 1;
    for (int32_t at = follow(section, g_cfg.entries[section].next_key); at >= 0;
         at = follow(at, g_cfg.entries[at].next_key))
        if (matches(key, at) && --n == 0) return at;
    return -1;
}

// Value of the first macro named name, or null.
const char *macro_value(const char *name)
{
    for (int32_t at = 0; at < g_cfg.macro_count;) {
        const CfgMacro &macro = g_cfg.macros[at];
        if (path_same_name(g_cfg.include + macro.name, name)) return g_cfg.include + macro.value;
        if (macro.next <= at) break;
        at = macro.next;
    }
    return nullptr;
}

// The fixed buffers of the numeric lookups hold 127 bytes; a longer value is
// refused rather than cut or overrun.
constexpr size_t kNumberText = 127;

bool fits_number_buffer(const char *text) { return std::strlen(text) <= kNumberText; }

}  // namespace

int32_t cfg_find_section(const char *name, int32_t n)
{
    if (g_cfg.entry_count == 0) return 0;
    if (n < 1) n = 1;
    for (int32_t at = 0; at >= 0; at = follow(at, g_cfg.entries[at].next_section))
        if (matches(name, at) && --n == 0) return at + 1;
    return 0;
}

int32_t cfg_find_next_section(const char *name, int32_t section)
{
    if (g_cfg.entry_count == 0 || section < 0 || section > g_cfg.entry_count) return 0;
    const int32_t from = section ? section - 1 : 0;
    for (int32_t at = follow(from, g_cfg.entries[from].next_section); at >= 0;
         at = follow(at, g_cfg.entries[at].next_section))
        if (matches(name, at)) return at + 1;
    return 0;
}

const char *cfg_get_string(const char *key, int32_t n, int32_t section, char *dest)
{
    if (!entry_of(section)) return nullptr;
    const int32_t at = find_key(key, n, section - 1);
    if (at < 0) return nullptr;
    copy_to(dest, value_of(at));
    return value_of(at);
}

int cfg_get_int(const char *key, int32_t n, int32_t section, int32_t *out)
{
    return cfg_stored_to_int(cfg_get_string(key, n, section, nullptr), out);
}

int cfg_stored_to_int(const char *value, int32_t *out)
{
    return value && fits_number_buffer(value) ? cfg_value_to_int(value, out) : 0;
}

int cfg_value_to_int(const char *text, int32_t *out)
{
    if (parse_int(text, out)) return 1;
    // One level only: a macro's value is not looked up as a macro again.
    const char *value = macro_value(text);
    return value && fits_number_buffer(value) ? parse_int(value, out) : 0;
}

int cfg_find_macro(char *dest, const char *name)
{
    const char *value = macro_value(name);
    if (!value) return 0;
    copy_to(dest, value);
    return 1;
}

int32_t cfg_next_section(int32_t section, char *name_dest)
{
    const CfgEntry *entry = entry_of(section);
    if (!entry) return 0;
    const int32_t at = follow(section - 1, entry->next_section);
    if (at < 0) return 0;
    copy_to(name_dest, name_of(at));
    return at + 1;
}

int32_t cfg_next_key(int32_t handle, char *name_dest, char *value_dest)
{
    const CfgEntry *entry = entry_of(handle);
    if (!entry) return 0;
    const int32_t at = follow(handle - 1, entry->next_key);
    if (at < 0) return 0;
    copy_to(name_dest, name_of(at));
    copy_to(value_dest, value_of(at));
    return at + 1;
}

int32_t cfg_count_sections(const char *name, int32_t section)
{
    if (!entry_of(section)) return 0;
    int32_t count = 0;
    for (int32_t at = section - 1; at >= 0; at = follow(at, g_cfg.entries[at].next_section))
        if (matches(name, at)) ++count;
    return count;
}

int32_t cfg_count_keys(const char *name, int32_t section)
{
    if (!entry_of(section)) return 0;
    int32_t count = 0;
    for (int32_t at = follow(section - 1, g_cfg.entries[section - 1].next_key); at >= 0;
         at = follow(at, g_cfg.entries[at].next_key))
        if (matches(name, at)) ++count;
    return count;
}

const char *cfg_entry_name(int32_t handle)
{
    return entry_of(handle) ? name_of(handle - 1) : nullptr;
}

const char *cfg_entry_value(int32_t handle)
{
    return entry_of(handle) ? value_of(handle - 1) : nullptr;
}

int32_t cfg_next_macro(int32_t handle, const char **name, const char **value)
{
    int32_t at;
    if (handle == 0) at = g_cfg.macro_count > 0 ? 0 : -1;
    else if (handle < 1 || handle > g_cfg.macro_count) at = -1;
    else {
        const int32_t next = g_cfg.macros[handle - 1].next;
        at = next > handle - 1 && next < g_cfg.macro_count ? next : -1;
    }
    if (at < 0) return 0;
    *name = g_cfg.include + g_cfg.macros[at].name;
    *value = g_cfg.include + g_cfg.macros[at].value;
    return at + 1;
}
