// The pipeline behind "pak add -j N": N threads prepare items (read a file and
// pack it) while the calling thread takes the finished items strictly in
// their order, so the archive comes out the same whatever N is.
#pragma once

#include <cstdint>

// Prepares item `index` on a worker thread. Must not touch the archive file
// system (its state belongs to the calling thread).
typedef void (*PipelineWork)(int index, void *context);
// Takes item `index` on the calling thread, in index order; -1 stops the run.
typedef int (*PipelineConsume)(int index, void *context);

// Runs work for every index 0..count-1 and consume for each in order. With
// threads = 1 everything runs on the calling thread and no thread is started.
// At most `window` items are prepared ahead of the one being consumed. When
// cost is given (cost[i]: the most memory item i holds from the start of its
// work to the end of its consume), an item starts only while the items
// started and not yet consumed, it included, cost at most `budget`, or when
// it would be the only one. After a consume returns -1 no further item is
// started or consumed; items already started finish their work.
// Result: 0 when every item was consumed, else -1.
int pipeline_run(int count, int threads, int window, const long long *cost, long long budget,
                 PipelineWork work, PipelineConsume consume, void *context);
// Workers take runs of consecutive items in one turn (up to 32, while the
// window leaves each thread room for two such runs), and wake only when a
// run fits: tiny items then cost no more on N threads than on one.
// What callers give per thread: a window of items, and at least this much
// budget, so that many tiny items may be in flight at once.
constexpr int PIPELINE_WINDOW = 64;
constexpr long long PIPELINE_BUDGET_FLOOR = 1LL << 20;
// Items averaging less than this (bytes read and written) cost less to do
// than to hand to another thread: -j N then runs on the calling thread.
constexpr long long PIPELINE_TINY_ITEM = 16 << 10;

enum PackError {
    PACK_OK,
    PACK_ERR_OPEN,    // cannot open the file
    PACK_ERR_READ,    // read fell short
    PACK_ERR_MEMORY,  // no memory for the file or its packed form
    PACK_ERR_PACK,    // the packer failed
    PACK_ERR_SIZE,    // the file changed size since it was checked
};

// One host file made ready to store.
struct PackItem {
    const char *path;  // host file
    bool store;        // keep it raw instead of a packed block
    long long size;    // its size, checked before the run
    char *preloaded;   // its bytes when read already (standard input); pack_item takes them
    int level;         // packing level (BLOCK_LEVEL_DEFAULT: 0)
    // Filled by pack_item:
    char *data;        // what the entry will hold (mem_alloc'd), or null
    int length;        // bytes in data
    PackError error;
};

// Reads item->path and forms what its entry stores: the raw bytes, or a
// packed block (unpacked size, packed size, then the masked stream).
void pack_item(PackItem *item);

// One piece of a file packed in pieces (block_piece_count > 1): only its
// bytes and the prime before them are read, never the whole file.
struct PackPiece {
    const PackItem *item;
    int index;          // which piece
    // Filled by pack_piece:
    char *data;         // its deflate data (mem_alloc'd), or null
    int length;
    uint32_t check;     // Adler-32 of its bytes
    int source_length;  // file bytes it packs
    PackError error;
};
// The most memory pack_piece holds for a piece of a file of size bytes.
long long pack_piece_cost(long long size);
void pack_piece(PackPiece *piece);
const char *pack_error_text(PackError error);
