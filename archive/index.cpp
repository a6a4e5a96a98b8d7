// The sorted name index, built without comparing names: a most-significant-
// first radix sort over the folded names, 8 bytes at a time. Each 8-byte
// chunk becomes a big-endian integer key; a range is sorted by that key
// (least significant byte first, skipping bytes that are the same throughout),
// and every run of equal keys whose names go on is sorted by the next chunk.
// Names are at most 40 bytes, so the work is linear in the entries. Every
// step is stable, so equal names keep their directory order: the index is
// exactly what a stable sort with name_order gives.
#include <cstring>

#include "archive/internal.h"
#include "platform/platform.h"

namespace {

constexpr int CHUNKS = PAK_NAME_SIZE / 8;
// Ranges this short are sorted by inserting, which beats counting digits.
constexpr int SHORT_RANGE = 48;

// 12 bytes, not 16: the records of a million names are fresh memory, and
// faulting them in costs more than sorting them.
#pragma pack(push, 4)
struct Record {
    uint64_t key;  // the current chunk of the folded name, big-endian
    uint32_t position;
};
#pragma pack(pop)
static_assert(sizeof(Record) == 12);

constexpr uint64_t ONES = 0x0101010101010101ull;
constexpr uint64_t HIGHS = 0x8080808080808080ull;

uint64_t load_le(const char *p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// 'A'-'Z' to 'a'-'z' in every byte of v (bytes taken as little-endian lanes).
uint64_t fold_ascii(uint64_t v)
{
    const uint64_t low7 = v & ~HIGHS;
    const uint64_t at_least_a = low7 + (0x80 - 'A') * ONES;
    const uint64_t past_z = low7 + (0x80 - 'Z' - 1) * ONES;
    const uint64_t upper = at_least_a & ~past_z & ~v & HIGHS;
    return v | (upper >> 2);
}

// Bytes from the name's terminating zero on become zero: what lies behind
// the terminator is not part of the name.
uint64_t cut_at_end(uint64_t v)
{
    const uint64_t zero = (v - ONES) & ~v & HIGHS;
    if (!zero) return v;
    const uint64_t first = zero & (~zero + 1);  // the lowest zero byte is exact
    return v & ((first >> 7) - 1);
}

// Chunk c of the name as it compares: a-z folded except for the trail bytes
// of double-byte characters, cut at the terminator, bytes in reading order.
uint64_t chunk_key(const char *name, int c)
{
    uint64_t v = cut_at_end(load_le(name + 8 * c));
    if (path_dbcs) {
        // A trail byte may look like a letter; whether a byte is one depends
        // on everything before it. Names without high bytes need no walk.
        uint64_t high = 0;
        for (int i = 0; i <= c; ++i) high |= load_le(name + 8 * i);
        if (high & HIGHS) {
            uint8_t out[8] = {};
            bool trail = false;
            for (int i = 0; i < 8 * (c + 1) && name[i]; ++i) {
                const auto b = static_cast<uint8_t>(name[i]);
                const bool fold = !trail && b >= 'A' && b <= 'Z';
                if (i >= 8 * c) out[i - 8 * c] = fold ? b + 32 : b;
                trail = !trail && path_char_len(name + i) == 2;
            }
            uint64_t k = 0;
            for (uint8_t b : out) k = k << 8 | b;
            return k;
        }
    }
    return __builtin_bswap64(fold_ascii(v));
}

// Names that end inside a chunk have a zero as its last byte.
bool ends_in(uint64_t key) { return (key & 0xFF) == 0; }

void insertion_sort(Record *r, int n)
{
    for (int i = 1; i < n; ++i) {
        const Record x = r[i];
        int j = i;
        for (; j > 0 && r[j - 1].key > x.key; --j) r[j] = r[j - 1];
        r[j] = x;
    }
}

// Sorts r by key, least significant byte first. `varying` has a bit set
// wherever some key differs from another: bytes that are the same throughout
// are neither counted nor passed over.
void radix_sort(Record *r, Record *scratch, int n, uint64_t varying)
{
    int shifts[8];
    int passes = 0;
    for (int b = 0; b < 8; ++b)
        if ((varying >> (8 * b)) & 0xFF) shifts[passes++] = 8 * b;
    uint32_t counts[8][256];
    std::memset(counts, 0, static_cast<size_t>(passes) * sizeof counts[0]);
    for (int i = 0; i < n; ++i) {
        const uint64_t k = r[i].key;
        for (int p = 0; p < passes; ++p) ++counts[p][(k >> shifts[p]) & 0xFF];
    }
    Record *from = r, *to = scratch;
    for (int p = 0; p < passes; ++p) {
        uint32_t *count = counts[p];
        const int shift = shifts[p];
        uint32_t sum = 0;
        for (int d = 0; d < 256; ++d) {
            const uint32_t c = count[d];
            count[d] = sum;
            sum += c;
        }
        for (int i = 0; i < n; ++i) to[count[(from[i].key >> shift) & 0xFF]++] = from[i];
        Record *t = from;
        from = to;
        to = t;
    }
    if (from != r) std::memcpy(r, from, static_cast<size_t>(n) * sizeof *r);
}

// Sorts r by chunk c onwards; r[].key already holds chunk c, and `varying`
// marks the bytes in which those keys differ.
void sort_range(const PakEntry *dir, Record *r, Record *scratch, int n, int c, uint64_t varying)
{
    if (!varying) {
        // All keys are equal: the order stands.
    } else if (n < SHORT_RANGE) {
        insertion_sort(r, n);
    } else {
        radix_sort(r, scratch, n, varying);
    }
    if (c + 1 == CHUNKS) return;
    for (int i = 0; i < n;) {
        int j = i + 1;
        while (j < n && r[j].key == r[i].key) ++j;
        if (j - i > 1 && !ends_in(r[i].key)) {
            uint64_t next_varying = 0;
            for (int k = i; k < j; ++k) {
                // The records point all over a directory far larger than any
                // cache; ask for the names well ahead.
                if (k + 32 < n) __builtin_prefetch(dir[r[k + 32].position].name);
                r[k].key = chunk_key(dir[r[k].position].name, c + 1);
                next_varying |= r[k].key ^ r[i].key;
            }
            sort_range(dir, r + i, scratch + i, j - i, c + 1, next_varying);
        }
        i = j;
    }
}

}  // namespace

int32_t *build_index(const PakEntry *dir, int count)
{
    auto *index = static_cast<int32_t *>(mem_alloc(static_cast<size_t>(count) * sizeof(int32_t)));
    if (!index) return nullptr;
    if (count < 2) {
        for (int i = 0; i < count; ++i) index[i] = i;
        return index;
    }
    // Two record arrays for the radix passes; no room for them means no index.
    auto *records = static_cast<Record *>(mem_alloc(2 * static_cast<size_t>(count) * sizeof(Record)));
    if (!records) {
        mem_free(index);
        return nullptr;
    }
    uint64_t varying = 0;
    for (int i = 0; i < count; ++i) {
        records[i] = {chunk_key(dir[i].name, 0), static_cast<uint32_t>(i)};
        varying |= records[i].key ^ records[0].key;
    }
    sort_range(dir, records, records + count, count, 0, varying);
    for (int i = 0; i < count; ++i) index[i] = static_cast<int32_t>(records[i].position);
    mem_free(records);
    return index;
}
