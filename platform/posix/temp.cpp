// The temporary files an interruption removes. The signal handler reads the
// table while the program may be changing it, so each slot is written whole
// before it is marked in use, and the handler makes only async-signal-safe
// calls (unlink, sigaction, raise). Then the program dies by the signal
// itself, so that whoever started it sees how it ended: a shell stops a
// script at Ctrl+C only for a child that Ctrl+C killed. Threads that make
// working copies at once (pak extract -j) take turns at the table; the
// handler takes no turn, it only reads, once no thread is making a file.
#include <signal.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <time.h>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix/native.h"

namespace {

struct TempSlot {
    volatile sig_atomic_t used;
    char path[PATH_MAX];
};
TempSlot temps[TEMP_FILES_HELD];
std::mutex table;

// SIGPIPE: a reader gone (pak list | head). SIGXFSZ: past ulimit -f.
const int HANDLED[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};
// Signal masks are each thread's own, and a signal goes to any thread that
// does not block it: the handler waits for the other threads' holds to end,
// and once it has begun no hold begins (its thread waits for the end).
thread_local int hold_depth = 0;
thread_local sigset_t held_before;
std::atomic<int> holding{0};
std::atomic<bool> ending{false};

void on_interrupt(int signal_number)
{
    ending = true;
    while (holding > 0) {
        const timespec moment{0, 100000};
        nanosleep(&moment, nullptr);
    }
    for (TempSlot &slot : temps)
        if (slot.used) unlink(slot.path);
    // The signal is blocked while its handler runs: raised again with the
    // default action, it ends the program as the handler returns.
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
    raise(signal_number);
}

}  // namespace

void temp_hold()
{
    if (hold_depth++ > 0) return;
    sigset_t set;
    sigemptyset(&set);
    for (const int s : HANDLED) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &held_before);
    ++holding;
    if (!ending) return;
    --holding;
    for (;;) pause();  // the handler is ending the program
}

void temp_release()
{
    if (--hold_depth > 0) return;
    --holding;
    pthread_sigmask(SIG_SETMASK, &held_before, nullptr);
}

namespace {

// A turn at the table, held as every turn is: a handler that ran on a thread
// in its turn would wait for the others forever.
struct TableTurn {
    TableTurn()
    {
        temp_hold();
        table.lock();
    }
    ~TableTurn()
    {
        table.unlock();
        temp_release();
    }
    TableTurn(const TableTurn &) = delete;
    TableTurn &operator=(const TableTurn &) = delete;
};

}  // namespace

int temp_remember(const char *name)
{
    const NativeName native(name);
    if (!native.ok) return passed(-1);
    const TableTurn turn;
    for (TempSlot &slot : temps) {
        if (slot.used) continue;
        std::memcpy(slot.path, native.path, sizeof slot.path);
        slot.used = 1;
        return 0;
    }
    return fail(ERR_TOO_MANY, -1, "too many temporary files");
}

void disk_temp_forget(const char *name)
{
    const NativeName native(name);
    if (!native.ok) return;
    const TableTurn turn;
    for (TempSlot &slot : temps)
        if (slot.used && std::strcmp(slot.path, native.path) == 0) slot.used = 0;
}

bool temp_remembered(const char *name)
{
    const NativeName native(name);
    if (!native.ok) return false;
    const TableTurn turn;
    for (const TempSlot &slot : temps)
        if (slot.used && std::strcmp(slot.path, native.path) == 0) return true;
    return false;
}

void temp_forget_all()
{
    const TableTurn turn;
    for (TempSlot &slot : temps) slot.used = 0;
}

namespace {
constexpr char WORKING_MARK[] = "user.korin.working";
}

void temp_mark(int handle, bool on)
{
    if (on) fsetxattr(handle, WORKING_MARK, "1", 1, 0);
    else fremovexattr(handle, WORKING_MARK);
}

bool temp_marked(int handle)
{
    char value;
    return fgetxattr(handle, WORKING_MARK, &value, 1) == 1;
}

void disk_temp_interrupts()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // One handler at a time: a second signal waits for the first to finish.
    for (const int s : HANDLED) sigaddset(&action.sa_mask, s);
    for (const int s : HANDLED) {
        // A signal ignored from the start (nohup) stays ignored.
        struct sigaction before;
        if (sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(s, &action, nullptr);
    }
}
