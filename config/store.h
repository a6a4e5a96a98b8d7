// Module state of the configuration reader, shared by its files. Not for
// callers outside config/ (tests excepted).
//
// Every reference into a store or table is an offset or a position, never an
// address: the stores and tables are reallocated, and may move, whenever a
// later file or include is loaded.
#pragma once

#include <cstdint>

// One section header or key. A link is a record's position in the entry
// table; no link ever points to record 0, so 0 means none.
struct CfgEntry {
    int32_t name;          // offset of the name in the text store
    int32_t value;         // offset of the value; 0 for no value and for sections
    int32_t next_section;  // section: link to the next section; key: always 0
    int32_t next_key;      // section: its first key; key: the next key of
                           // the same section; 0 for none
};

// One macro of an included text; offsets into the include store.
struct CfgMacro {
    int32_t name;
    int32_t value;  // 0 when the definition has no value
    int32_t next;   // link to the next macro in definition order; 0 for the last
};

// Both text stores start with one NUL byte that belongs to no text, so that
// offset 0 always reads as the empty string and no name ever starts there.
// Each loaded text follows, with CR LF appended.
struct CfgStore {
    char *text;                // configuration texts; null exactly when text_size is 0
    int32_t text_size;         // bytes in use (leading NUL included); the buffer may be larger
    CfgEntry *entries;         // null exactly when entry_capacity is 0
    int32_t entry_capacity;    // records allocated, a multiple of 60
    int32_t entry_count;       // records in use, <= entry_capacity. Record 0, when
                               // present, is a section: the section chain starts there.
    int32_t last_section;      // the section current at the end of the previous load;
                               // < entry_count, or 0 when the table is empty
    char *include;             // included texts; null exactly when include_size is 0
    int32_t include_size;      // bytes in use, leading NUL included
    int32_t include_parsed;    // include bytes already turned into macros; <= include_size,
                               // back to 0 when the include store is released
    CfgMacro *macros;          // null exactly when macro_capacity is 0
    int32_t macro_capacity;    // records allocated, a multiple of 60
    int32_t macro_count;       // records in use; the macro chain starts at record 0
    int32_t last_macro;        // the most recently added macro; < macro_count, or 0
    char config_folder[128];   // folder of the latest cfg_load, ending in a separator
                               // or empty; survives cfg_free
    char include_folder[64];   // extra folder for includes, or empty; survives cfg_free
    char scratch[128];         // where search paths are built
};

extern CfgStore g_cfg;

constexpr int32_t CFG_GROWTH = 60;  // records added to a table at a time

