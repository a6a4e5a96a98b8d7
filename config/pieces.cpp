// A text read piece by piece by the tokenizer itself, on a copy, so that a tool
// can say what the program reads without a store being touched.
#include <cstdint>
#include <cstring>

#include "config/config.h"
#include "platform/platform.h"

namespace {

bool is_gap(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The end of what the tokenizer scanned from `from`: the NUL it wrote there.
// A NUL that the file itself holds is no end, since the copy and the text
// then agree there. Past the text stands the CR LF that a load appends.
int32_t scanned_end(const char *copy, const char *text, int32_t length, int32_t from)
{
    int32_t i = from;
    while (copy[i] != 0 || (i < length && text[i] == 0)) ++i;
    return i;
}

// What lies between two tokens: blanks, line ends, and lines the tokenizer
// passed over whole (comments, a #define without a name), each through its LF.
void visit_gap(const char *copy, int32_t from, int32_t to, void (*visit)(void *, const CfgPiece &), void *context)
{
    while (from < to) {
        if (is_gap(copy[from])) {
            ++from;
            continue;
        }
        const void *lf = std::memchr(copy + from, '\n', static_cast<size_t>(to - from));
        const int32_t end = lf ? static_cast<int32_t>(static_cast<const char *>(lf) - copy) + 1 : to;
        visit(context, CfgPiece{CFG_SKIPPED, from, end, from, from, -1, -1});
        from = end;
    }
}

}  // namespace

int cfg_walk_pieces(const char *text, int32_t length, void (*visit)(void *context, const CfgPiece &piece), void *context)
{
    if (length < 0 || length > INT32_MAX - 3) return -1;
    // The copy ends in CR LF as a stored text does, so offsets mean the
    // same in the copy and the text.
    char *copy = static_cast<char *>(mem_alloc(static_cast<size_t>(length) + 3));
    if (!copy) return -1;
    std::memcpy(copy, text, static_cast<size_t>(length));
    std::memcpy(copy + length, "\r\n", 3);
    const int32_t total = length + 2;
    int32_t position = 0;
    for (;;) {
        const int32_t from = position;
        int32_t name = 0, value = 0;
        const int token = cfg_next_token(copy, &position, total, &name, &value, copy);
        if (token == CFG_END) {
            visit_gap(copy, from, total, visit, context);
            break;
        }
        // The token begins at the first byte after the gap that starts no
        // skipped line: the name itself, the '[' or '#' right before it, or
        // the '#' of a #define on the name's line.
        int32_t start = name;
        for (int32_t i = from; i < name; ++i) {
            if (is_gap(copy[i])) continue;
            const bool comment = copy[i] == ';' || (copy[i] == '/' && copy[i + 1] == '/');
            const void *lf = std::memchr(copy + i, '\n', static_cast<size_t>(name - i));
            if (!comment && (i == name - 1 || !lf)) {
                start = i;
                break;
            }
            i = static_cast<int32_t>(static_cast<const char *>(lf) - copy);
        }
        visit_gap(copy, from, start, visit, context);
        CfgPiece piece{token, start, position, name, scanned_end(copy, text, length, name), -1, -1};
        if (value) {
            piece.value = value;
            piece.value_end = scanned_end(copy, text, length, value);
        }
        visit(context, piece);
    }
    mem_free(copy);
    return 0;
}
