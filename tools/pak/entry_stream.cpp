// Stand-in until entries are read as a stream: the whole content at once,
// through view_entry_content. Dropped when the streaming reader is merged.
#include "platform/platform.h"
#include "platform/scope_guard.h"
#include "tools/pak/view.h"

int view_entry_stream(const ArchiveView *view, int position, bool force,
                      int (*sink)(const void *bytes, size_t n, void *context), void *context, const char **reason)
{
    char *data = nullptr;
    int length = 0;
    if (view_entry_content(view, position, &data, &length, reason, force) != 0) return -1;
    ScopeGuard release([&] { mem_free(data); });
    if (length > 0 && sink(data, static_cast<size_t>(length), context) != 0) {
        *reason = "stopped";
        return -1;
    }
    return 0;
}
