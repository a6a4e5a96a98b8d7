#include "driver/retry.h"

#include "platform/error.h"
#include "platform/platform.h"

namespace {

RetryWait wait_hook = nullptr;
RetryClock clock_hook = nullptr;

uint32_t now() { return clock_hook ? clock_hook() : process_clock_ms(); }

// Reasons a moment later may no longer hold.
bool passing(ErrReason reason) { return reason == ERR_HELD || reason == ERR_ACCESS_DENIED; }

}  // namespace

int retry_step(int (*step)(void *), void *context)
{
    const uint32_t start = now();
    for (;;) {
        const int result = step(context);
        if (result != -1 || !passing(err_last())) return result;
        const uint32_t spent = now() - start;
        if (spent >= static_cast<uint32_t>(RETRY_BUDGET_MS)) return result;
        const int left = RETRY_BUDGET_MS - static_cast<int>(spent);
        const int pause = left < RETRY_PAUSE_MS ? left : RETRY_PAUSE_MS;
        wait_hook ? wait_hook(pause) : process_sleep_ms(pause);
    }
}

void retry_set_wait(RetryWait wait) { wait_hook = wait; }

void retry_set_clock(RetryClock clock) { clock_hook = clock; }

void retry_reset()
{
    wait_hook = nullptr;
    clock_hook = nullptr;
}
