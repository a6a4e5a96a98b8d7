// The running executable's path, the current directory, the clock and the
// running processes (read from /proc).
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/error.h"
#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix/native.h"

void process_module_path(char *dest)
{
    // A path that does not fit would name another file: leave it empty.
    const ssize_t len = readlink("/proc/self/exe", dest, MODULE_PATH_MAX);
    dest[len > 0 && len < MODULE_PATH_MAX ? len : 0] = 0;
}

int disk_current_dir(char *dest, int size)
{
    if (size > 0 && getcwd(dest, static_cast<size_t>(size))) return 0;
    if (size <= 0) return fail(ERR_NAME_TOO_LONG, -1);
    err_from_system();
    dest[0] = 0;
    return -1;
}

uint32_t process_clock_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint32_t>(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

void process_sleep_ms(int ms)
{
    if (ms <= 0) return;
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

int process_image_running(const char *name)
{
    if (PLATFORM_FAULT(FAULT_IMAGE_RUNNING)) return 1;
    const NativeName path(name);
    char wanted[PATH_MAX];
    if (!path.ok || !realpath(path.path, wanted)) return 0;
    DIR *proc = opendir("/proc");
    if (!proc) return 0;
    ScopeGuard close_proc([&] { closedir(proc); });
    while (const dirent *e = readdir(proc)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        char link[sizeof e->d_name + 16], image[PATH_MAX];
        std::snprintf(link, sizeof link, "/proc/%s/exe", e->d_name);
        // Other users' processes do not say: they cannot be this game's.
        const ssize_t n = readlink(link, image, sizeof image - 1);
        if (n <= 0) continue;
        image[n] = 0;
        if (std::strcmp(image, wanted) == 0) return 1;
    }
    return 0;
}
