// A small JSON writer for "pak info --json" and "pak list --json": one
// object, written as it is built. Archive names are byte strings in a legacy
// code page; one that is not valid UTF-8 is written as "<key>_hex" with its
// bytes in lower-case hex instead of "<key>".
#pragma once

#include <cstdint>

// True when the n bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool utf8_valid(const char *bytes, int n);

// Writes the n bytes as a JSON string literal, quotes included, into out.
// Result: the length written, or -1 when out (with its terminator) is too
// small. The bytes must be valid UTF-8; use json_hex otherwise.
int json_escape(const char *bytes, int n, char *out, int out_size);

typedef void (*JsonPut)(const char *text, int length, void *context);

struct JsonWriter {
    JsonPut put;
    void *context;
    int depth;          // open objects and arrays
    bool first[16];     // per depth: nothing written yet at that level
};

void json_init(JsonWriter *w, JsonPut put, void *context);
void json_open(JsonWriter *w, const char *key, char bracket);  // key null inside arrays
void json_close(JsonWriter *w, char bracket);
void json_number(JsonWriter *w, const char *key, uint64_t value);
void json_bool(JsonWriter *w, const char *key, bool value);
void json_text(JsonWriter *w, const char *key, const char *utf8);
// "key": the bytes as a string when they are UTF-8, else "key_hex": hex.
void json_bytes(JsonWriter *w, const char *key, const char *bytes, int n);
// "key": the bytes in hex, whatever they are.
void json_hex(JsonWriter *w, const char *key, const char *bytes, int n);
