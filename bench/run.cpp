// bench_run: runs one command once and reports, as '@' lines on its standard
// output, the command's own '@' lines, its wall time and its peak resident
// memory.
//
//   bench_run [-o FILE] [-C DIR] -- COMMAND [ARG...]
//     -o FILE  the command's standard output goes to FILE (as a shell's
//              "> FILE" would); its '@' lines are then not collected
//     -C DIR   the command runs in DIR
//
// Exit status: the command's (1 when it could not run or was killed).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench.h"

int main(int argc, char **argv)
{
    const char *out_file = nullptr;
    const char *dir = nullptr;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) out_file = argv[++i];
        else if (std::strcmp(argv[i], "-C") == 0 && i + 1 < argc) dir = argv[++i];
        else bench::fail("usage", "bench_run [-o FILE] [-C DIR] -- COMMAND [ARG...]");
    }
    if (i + 1 >= argc) bench::fail("usage", "bench_run [-o FILE] [-C DIR] -- COMMAND [ARG...]");
    char **command = argv + i + 1;

    int pipe_fd[2] = {-1, -1};
    if (!out_file && pipe(pipe_fd) != 0) bench::fail("cannot make a pipe");
    std::fflush(stdout);

    const double start = bench::now();
    const pid_t child = fork();
    if (child < 0) bench::fail("cannot fork");
    if (child == 0) {
        if (dir && chdir(dir) != 0) {
            std::perror(dir);
            _exit(127);
        }
        int out = pipe_fd[1];
        if (out_file) out = open(out_file, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0) {
            std::perror(out_file);
            _exit(127);
        }
        dup2(out, 1);
        if (pipe_fd[0] >= 0) close(pipe_fd[0]);
        if (out != 1) close(out);
        execvp(command[0], command);
        std::perror(command[0]);
        _exit(127);
    }

    std::string collected;
    if (!out_file) {
        close(pipe_fd[1]);
        FILE *in = fdopen(pipe_fd[0], "r");
        char line[4096];
        while (std::fgets(line, sizeof line, in))
            if (line[0] == '@') collected += line;
        std::fclose(in);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) != child) bench::fail("cannot wait for the command");
    const double wall = bench::now() - start;

    std::fputs(collected.c_str(), stdout);
    bench::report("wall", wall);
    bench::count("peak_kb", usage.ru_maxrss);
    bench::report("cpu", static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    std::fprintf(stderr, "bench_run: %s ended by signal %d\n", command[0], WTERMSIG(status));
    return 1;
}
