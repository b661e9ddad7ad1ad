// Runs one program and writes what it cost: its exit, the wall-clock instants around it, the
// CPU time of the process and every child it waited for, and its peak resident set. The
// launcher is small, so the peak resident set that a fork carries over before exec stays near
// 1 MB and does not hide the measured program's own.
//
//   run_measured RESULT_FILE [--netns PATH] -- PROGRAM [ARGS...]
//
// --netns PATH (e.g. /run/netns/NAME) runs the program in that network namespace. The result
// file gets one line: "exit CODE" or "signal NUMBER", then the start and end as seconds since
// the epoch, user and system CPU seconds, and the peak resident set in KiB. The launcher
// exits with the program's exit code (128 + the signal number when it was killed).

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Seconds(const timeval &tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

int Usage() {
    std::fprintf(stderr, "usage: run_measured RESULT_FILE [--netns PATH] -- PROGRAM [ARGS...]\n");
    return 125;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4)
        return Usage();
    const char *resultPath = argv[1];
    const char *netns = nullptr;
    int i = 2;
    if (std::strcmp(argv[i], "--netns") == 0) {
        if (i + 1 >= argc)
            return Usage();
        netns = argv[i + 1];
        i += 2;
    }
    if (i >= argc || std::strcmp(argv[i], "--") != 0 || i + 1 >= argc)
        return Usage();
    char **program = argv + i + 1;

    int nsFd = -1;
    if (netns) {
        nsFd = open(netns, O_RDONLY | O_CLOEXEC);
        if (nsFd < 0) {
            std::fprintf(stderr, "run_measured: %s: %s\n", netns, std::strerror(errno));
            return 125;
        }
    }
    FILE *result = std::fopen(resultPath, "w");
    if (!result) {
        std::fprintf(stderr, "run_measured: %s: %s\n", resultPath, std::strerror(errno));
        return 125;
    }

    double start = Now();
    pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "run_measured: fork: %s\n", std::strerror(errno));
        return 125;
    }
    if (pid == 0) {
        if (nsFd >= 0 && setns(nsFd, CLONE_NEWNET) != 0) {
            std::fprintf(stderr, "run_measured: setns %s: %s\n", netns, std::strerror(errno));
            _exit(126);
        }
        execvp(program[0], program);
        std::fprintf(stderr, "run_measured: %s: %s\n", program[0], std::strerror(errno));
        _exit(127);
    }

    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "run_measured: wait4: %s\n", std::strerror(errno));
            return 125;
        }
    }
    double end = Now();

    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::string how = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                        : "signal " + std::to_string(WTERMSIG(status));
    std::fprintf(result, "%s %.6f %.6f %.6f %.6f %ld\n", how.c_str(), start, end,
                 Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss);
    if (std::fclose(result) != 0) {
        std::fprintf(stderr, "run_measured: %s: %s\n", resultPath, std::strerror(errno));
        return 125;
    }
    return code;
}
