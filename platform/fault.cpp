// Fault injection for tests: counts the fault points of the armed kinds and
// makes the chosen one (and with sticky every later one) fail.
#include "platform/fault.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

struct FaultState {
    unsigned kinds = 0;   // kinds being counted; 0 when disarmed
    long nth = 0;         // 1-based point that fails; 0 only counts
    bool sticky = false;  // points after nth fail too
    bool stop = false;    // reaching nth ends the process
    long points = 0;      // points of the armed kinds since fault_arm
    long injected = 0;    // failures injected since fault_arm
};

FaultState fault;
unsigned hook_kinds = 0;
FaultHook hook = nullptr;
bool in_hook = false;
long blocks_held = 0;  // mem_alloc/mem_realloc blocks not yet freed

}  // namespace

void fault_arm(unsigned kinds, long nth, bool sticky)
{
    fault = FaultState{kinds, nth < 0 ? 0 : nth, sticky, 0, 0};
}

void fault_arm_stop(unsigned kinds, long nth)
{
    fault = FaultState{kinds, nth < 1 ? 1 : nth, false, 0, 0};
    fault.stop = true;
}

void fault_disarm() { fault.kinds = 0; }

void fault_set_hook(unsigned kinds, FaultHook h)
{
    hook_kinds = h ? kinds : 0;
    hook = h;
}

long fault_points() { return fault.points; }

long fault_injected() { return fault.injected; }

bool fault_hit(unsigned kind)
{
    if ((kind & hook_kinds) && !in_hook) {
        in_hook = true;
        hook(kind);
        in_hook = false;
    }
    if (!(kind & fault.kinds)) return false;
    ++fault.points;
    const bool fail =
        fault.nth > 0 && (fault.points == fault.nth || (fault.sticky && fault.points > fault.nth));
    if (fail && fault.stop) {
#ifdef _WIN32
        TerminateProcess(GetCurrentProcess(), FAULT_STOP_STATUS);
#endif
        _exit(FAULT_STOP_STATUS);
    }
    if (fail) ++fault.injected;
    return fail;
}

long fault_blocks_held() { return blocks_held; }

void fault_count_block(long delta) { blocks_held += delta; }
