#include "tools/pak/pack_pool.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "archive/archive.h"
#include "platform/platform.h"
#include "platform/scope_guard.h"

namespace {

// Items a worker takes in one turn at most, and the cost after which it
// takes no more: a turn of the lock and a wake-up for each tiny item would
// cost more than the item (extracting a few bytes to a file).
constexpr int BATCH_ITEMS = 32;
constexpr long long BATCH_COST = 256 << 10;

// Shared between the workers and the consumer; guarded by `lock`.
struct Pipeline {
    int count;
    int window;
    int batch;        // items a worker waits to find room for before it wakes
    PipelineWork work;
    void *context;
    std::mutex lock;
    std::condition_variable room;   // workers wait here for room to start items
    std::condition_variable ready;  // the consumer waits here for a finished item
    const long long *cost;  // per index, or null: no budget
    long long budget;
    int next;         // next index to hand to a worker
    int consumed;     // indexes below it are consumed; workers stay below consumed + window
    long long held;   // cost of the items in [consumed, next); within budget unless one item alone
    bool stop;        // a consume failed: start nothing more
    bool *done;       // done[i]: work(i) has finished
};

// Each thread reads its files and pieces into one buffer that it keeps from
// task to task: a block of this size is a mapping of its own, and a fresh
// one per task costs the kernel more than packing costs libdeflate. Freed
// when the thread's part of a run ends.
thread_local char *t_read_buffer = nullptr;
thread_local size_t t_read_size = 0;

char *read_buffer(size_t size)
{
    if (size > t_read_size) {
        mem_free(t_read_buffer);
        t_read_buffer = static_cast<char *>(mem_alloc(size));
        t_read_size = t_read_buffer ? size : 0;
    }
    return t_read_buffer;
}

void read_buffer_release()
{
    mem_free(t_read_buffer);
    t_read_buffer = nullptr;
    t_read_size = 0;
}

bool may_start(const Pipeline *p)
{
    if (p->next >= p->consumed + p->window) return false;
    return !p->cost || p->next == p->consumed || p->held + p->cost[p->next] <= p->budget;
}

// Whether a worker should wake: there is an item to start, and room in the
// window for a whole batch (or for what is left), so that workers do not
// wake for each item the consumer frees.
bool worth_waking(const Pipeline *p)
{
    if (p->stop || p->next >= p->count) return true;
    const int want = p->count - p->next < p->batch ? p->count - p->next : p->batch;
    return may_start(p) && p->consumed + p->window - p->next >= want;
}

void worker(Pipeline *p)
{
    std::unique_lock<std::mutex> guard(p->lock);
    for (;;) {
        p->room.wait(guard, [p] { return worth_waking(p); });
        if (p->stop || p->next >= p->count) {
            read_buffer_release();
            return;
        }
        // A run of consecutive items, while they fit.
        const int first = p->next;
        long long batch_cost = 0;
        do {
            if (p->cost) {
                p->held += p->cost[p->next];
                batch_cost += p->cost[p->next];
            }
            ++p->next;
        } while (p->next < p->count && p->next - first < p->batch && batch_cost < BATCH_COST && may_start(p));
        const int end = p->next;
        guard.unlock();
        for (int index = first; index < end; ++index) p->work(index, p->context);
        guard.lock();
        for (int index = first; index < end; ++index) p->done[index] = true;
        p->ready.notify_one();
    }
}

}  // namespace

int pipeline_run(int count, int threads, int window, const long long *cost, long long budget,
                 PipelineWork work, PipelineConsume consume, void *context)
{
    if (threads <= 1 || count <= 1) {
        ScopeGuard release([] { read_buffer_release(); });
        for (int i = 0; i < count; ++i) {
            work(i, context);
            if (consume(i, context) != 0) return -1;
        }
        return 0;
    }
    if (window < threads) window = threads;
    if (threads > count) threads = count;
    // Batches only where the window leaves each thread room for two.
    int batch = window / (2 * threads);
    batch = batch < 1 ? 1 : batch > BATCH_ITEMS ? BATCH_ITEMS : batch;

    Pipeline p{count, window, batch, work, context, {}, {}, {}, cost, budget, 0, 0, 0, false, nullptr};
    p.done = static_cast<bool *>(mem_alloc(static_cast<size_t>(count)));
    if (!p.done) return -1;
    std::memset(p.done, 0, static_cast<size_t>(count));

    // The thread objects live in platform-heap memory, built there with
    // placement new and destroyed by hand below: product code takes every
    // block from mem_alloc (so fault injection and the block count see it)
    // and a failed new would throw, which this code cannot catch.
    std::thread *pool = static_cast<std::thread *>(mem_alloc(sizeof(std::thread) * static_cast<size_t>(threads)));
    if (!pool) {
        mem_free(p.done);
        return -1;
    }
    for (int t = 0; t < threads; ++t) new (&pool[t]) std::thread(worker, &p);

    int result = 0;
    for (int i = 0; i < count; ++i) {
        {
            std::unique_lock<std::mutex> guard(p.lock);
            p.ready.wait(guard, [&p, i] { return p.done[i]; });
        }
        const int r = consume(i, context);
        std::lock_guard<std::mutex> guard(p.lock);
        if (r != 0) {
            p.stop = true;
            result = -1;
        } else {
            p.consumed = i + 1;
            if (cost) p.held -= cost[i];
        }
        if (worth_waking(&p)) p.room.notify_all();
        if (r != 0) break;
    }
    {
        // Workers waiting for room once the last item was handed out.
        std::lock_guard<std::mutex> guard(p.lock);
        p.room.notify_all();
    }
    for (int t = 0; t < threads; ++t) {
        pool[t].join();
        pool[t].~thread();
    }
    mem_free(pool);
    mem_free(p.done);
    return result;
}

namespace {

// Reads n bytes at offset of the host file, checking that it still has the
// size it had (and, for the last part, no more).
PackError read_part(const PackItem *item, int64_t offset, char *into, int n, bool last)
{
    if (item->preloaded) {
        std::memcpy(into, item->preloaded + offset, static_cast<size_t>(n));
        return PACK_OK;
    }
    const int fd = disk_open(item->path, DISK_READ);
    if (fd == -1) return PACK_ERR_OPEN;
    ScopeGuard close([&] { disk_close(fd); });
    const uint32_t size = disk_size(fd);
    if (size == DISK_FAILED || static_cast<long long>(size) != item->size) return PACK_ERR_SIZE;
    if (disk_read_at(fd, offset, into, n) != 0) return PACK_ERR_READ;
    // One byte more must not come: the file grew since it was checked.
    char extra;
    return last && disk_read(fd, &extra, 1) > 0 ? PACK_ERR_SIZE : PACK_OK;
}

}  // namespace

void pack_item(PackItem *item)
{
    item->data = nullptr;
    item->length = 0;
    const int n = static_cast<int>(item->size);
    char *raw = item->preloaded;
    item->error = PACK_OK;
    // A file stored raw keeps its buffer; one packed is read into the thread's.
    const bool own = raw || item->store;
    if (!raw) {
        raw = item->store ? static_cast<char *>(mem_alloc(static_cast<size_t>(n) + 1)) : read_buffer(static_cast<size_t>(n) + 1);
        item->error = !raw ? PACK_ERR_MEMORY : read_part(item, 0, raw, n, true);
        if (item->error != PACK_OK) {
            if (own) mem_free(raw);
            return;
        }
    }
    item->preloaded = nullptr;
    if (item->store) {
        item->data = raw;
        item->length = n;
        return;
    }

    const int64_t bound = block_stored_bound(n);
    char *block = static_cast<char *>(mem_alloc(static_cast<size_t>(bound)));
    if (!block) {
        if (own) mem_free(raw);
        item->error = PACK_ERR_MEMORY;
        return;
    }
    const int stored = block_pack_stored_at(block, raw, n, static_cast<int>(bound), item->level);
    if (own) mem_free(raw);
    if (stored <= 0) {
        mem_free(block);
        item->error = PACK_ERR_PACK;
        return;
    }
    item->data = block;
    item->length = stored;
}

long long pack_piece_cost(long long size)
{
    const long long n = size < BLOCK_PIECE_SIZE ? size : BLOCK_PIECE_SIZE;
    return BLOCK_PIECE_PRIME + n + 1 + block_piece_bound(static_cast<int>(n));
}

void pack_piece(PackPiece *piece)
{
    piece->data = nullptr;
    piece->length = 0;
    const PackItem *item = piece->item;
    const int64_t start = static_cast<int64_t>(piece->index) * BLOCK_PIECE_SIZE;
    const int64_t left = item->size - start;
    const bool last = left <= BLOCK_PIECE_SIZE;
    const int n = static_cast<int>(last ? left : BLOCK_PIECE_SIZE);
    const int prime = static_cast<int>(start < BLOCK_PIECE_PRIME ? start : BLOCK_PIECE_PRIME);
    piece->source_length = n;
    // The prime and the piece, read in one go.
    char *raw = read_buffer(static_cast<size_t>(prime) + n + 1);
    if (!raw) {
        piece->error = PACK_ERR_MEMORY;
        return;
    }
    piece->error = read_part(item, start - prime, raw, prime + n, last);
    if (piece->error != PACK_OK) return;
    const int bound = block_piece_bound(n);
    piece->data = static_cast<char *>(mem_alloc(static_cast<size_t>(bound)));
    if (!piece->data) {
        piece->error = PACK_ERR_MEMORY;
        return;
    }
    piece->length = block_pack_piece(piece->data, bound, raw, prime, raw + prime, n, last, &piece->check, item->level);
    if (piece->length <= 0) {
        mem_free(piece->data);
        piece->data = nullptr;
        piece->error = PACK_ERR_PACK;
    }
}

const char *pack_error_text(PackError error)
{
    switch (error) {
    case PACK_OK: return "ok";
    case PACK_ERR_OPEN: return "cannot open the file";
    case PACK_ERR_READ: return "cannot read the file";
    case PACK_ERR_MEMORY: return "not enough memory";
    case PACK_ERR_PACK: return "packing failed";
    case PACK_ERR_SIZE: return "the file changed while it was read";
    }
    return "failed";
}
