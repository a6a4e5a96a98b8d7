// The update's file steps, each tried again while another program holds the
// file for a moment: a virus scanner or an indexer opens a freshly written
// file, a backup program reads the old one. A step that fails because the
// file is held (a sharing or lock violation) or access is denied (what
// Windows says while a scanner keeps a file it is deleting) is repeated every
// RETRY_PAUSE_MS for up to RETRY_BUDGET_MS from its first try; any other
// failure, and a hold that lasts, fails at once or after that bound as
// before. Only the waiting lives here; what each step does stays the
// platform's.
#pragma once

#include <cstdint>

constexpr int RETRY_BUDGET_MS = 2000;  // per step, from its first try
constexpr int RETRY_PAUSE_MS = 50;     // between tries: short, so a window keeps answering

// Runs step (returning -1 on failure, anything else on success) until it
// succeeds, fails for a reason other than a hold, or the budget is spent.
// The last try's result.
int retry_step(int (*step)(void *), void *context);
template <class Step>
int retry_held(Step step)
{
    return retry_step([](void *s) { return (*static_cast<Step *>(s))(); }, &step);
}

// What passes the time between tries: null sleeps. The dialog keeps its
// messages flowing meanwhile.
typedef void (*RetryWait)(int ms);
void retry_set_wait(RetryWait wait);

// ---- Tests ----------------------------------------------------------------------

// A clock for the budget instead of the system's; null for the system's.
// With it, a test's wait advances the clock and nothing really waits.
typedef uint32_t (*RetryClock)();
void retry_set_clock(RetryClock clock);
// Back to sleeping on the system's clock.
void retry_reset();
