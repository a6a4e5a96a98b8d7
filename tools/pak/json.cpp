#include "tools/pak/json.h"

#include <cstdio>
#include <cstring>

bool utf8_valid(const char *bytes, int n)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes);
    int i = 0;
    while (i < n) {
        const unsigned c = p[i];
        int more;
        unsigned min, code;
        if (c < 0x80) { ++i; continue; }
        if (c >= 0xC2 && c <= 0xDF) { more = 1; min = 0x80; code = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { more = 2; min = 0x800; code = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { more = 3; min = 0x10000; code = c & 0x07; }
        else return false;
        if (i + more >= n) return false;
        for (int k = 1; k <= more; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            code = code << 6 | (p[i + k] & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += more + 1;
    }
    return true;
}

int json_escape(const char *bytes, int n, char *out, int out_size)
{
    int k = 0;
    const auto put = [&](const char *s, int len) {
        if (k < 0 || k + len >= out_size) { k = -1; return; }
        std::memcpy(out + k, s, static_cast<size_t>(len));
        k += len;
    };
    put("\"", 1);
    for (int i = 0; i < n && k >= 0; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        char esc[8];
        switch (c) {
        case '"': put("\\\"", 2); break;
        case '\\': put("\\\\", 2); break;
        case '\n': put("\\n", 2); break;
        case '\r': put("\\r", 2); break;
        case '\t': put("\\t", 2); break;
        default:
            if (c < 0x20) {
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                put(esc, 6);
            } else {
                put(reinterpret_cast<const char *>(&c), 1);
            }
        }
    }
    put("\"", 1);
    if (k < 0) return -1;
    out[k] = 0;
    return k;
}

void json_init(JsonWriter *w, JsonPut put, void *context)
{
    std::memset(w, 0, sizeof *w);
    w->put = put;
    w->context = context;
    w->first[0] = true;
}

static void put_text(JsonWriter *w, const char *s) { w->put(s, static_cast<int>(std::strlen(s)), w->context); }

// The separator before a member, and its key.
static void begin_member(JsonWriter *w, const char *key)
{
    if (!w->first[w->depth]) put_text(w, ",");
    w->first[w->depth] = false;
    if (!key) return;
    char quoted[80];
    if (json_escape(key, static_cast<int>(std::strlen(key)), quoted, sizeof quoted) < 0) return;
    put_text(w, quoted);
    put_text(w, ":");
}

void json_open(JsonWriter *w, const char *key, char bracket)
{
    begin_member(w, key);
    const char s[2] = {bracket, 0};
    put_text(w, s);
    if (w->depth + 1 < static_cast<int>(sizeof w->first)) ++w->depth;
    w->first[w->depth] = true;
}

void json_close(JsonWriter *w, char bracket)
{
    if (w->depth > 0) --w->depth;
    const char s[2] = {bracket, 0};
    put_text(w, s);
}

void json_number(JsonWriter *w, const char *key, uint64_t value)
{
    begin_member(w, key);
    char digits[24];
    std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(value));
    put_text(w, digits);
}

void json_bool(JsonWriter *w, const char *key, bool value)
{
    begin_member(w, key);
    put_text(w, value ? "true" : "false");
}

void json_text(JsonWriter *w, const char *key, const char *utf8)
{
    json_bytes(w, key, utf8, static_cast<int>(std::strlen(utf8)));
}

namespace {

void put_bytes(JsonWriter *w, const char *key, const char *bytes, int n, bool as_hex)
{
    static const char hex_digits[] = "0123456789abcdef";
    char hex_key[80];
    const bool utf8 = !as_hex && utf8_valid(bytes, n);
    if (!utf8 && !as_hex) {
        std::snprintf(hex_key, sizeof hex_key, "%s_hex", key);
        key = hex_key;
    }
    begin_member(w, key);
    put_text(w, "\"");
    if (utf8) {
        // Piecewise, so that a long host path needs no large buffer.
        for (int i = 0; i < n;) {
            int piece = n - i < 64 ? n - i : 64;
            // Keep a multi-byte character whole within a piece.
            while (i + piece < n && (static_cast<unsigned char>(bytes[i + piece]) & 0xC0) == 0x80) --piece;
            char out[64 * 6 + 3];
            const int k = json_escape(bytes + i, piece, out, sizeof out);
            w->put(out + 1, k - 2, w->context);  // without the quotes
            i += piece;
        }
    } else {
        for (int i = 0; i < n; ++i) {
            const unsigned char c = static_cast<unsigned char>(bytes[i]);
            const char pair[2] = {hex_digits[c >> 4], hex_digits[c & 15]};
            w->put(pair, 2, w->context);
        }
    }
    put_text(w, "\"");
}

}  // namespace

void json_bytes(JsonWriter *w, const char *key, const char *bytes, int n) { put_bytes(w, key, bytes, n, false); }

void json_hex(JsonWriter *w, const char *key, const char *bytes, int n) { put_bytes(w, key, bytes, n, true); }
