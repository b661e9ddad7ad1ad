// A neighbour with rename rights in a download's output folder: it waits until a name appears
// there, then exchanges it with a file of its own again and again (renameat2 with
// RENAME_EXCHANGE), so that whatever looks the name up gets either file.
//
//   swap_names FOLDER NAME OTHER [STOP_FILE...]
//
// Waits at most 60 s for FOLDER/NAME, then exchanges FOLDER/NAME and FOLDER/OTHER until a
// STOP_FILE exists, 2 s have passed or a million exchanges were tried (one that fails, as
// when the name went away meanwhile, counts as a try). Prints the exchanges made ("swaps 1234") and
// exits 0; 1 when the name never appeared, 2 on bad arguments.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1) // <linux/fs.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kWaitForName = std::chrono::seconds(60);
constexpr auto kSwapTime = std::chrono::seconds(2);
constexpr long kMostSwaps = 1000000;

volatile std::sig_atomic_t stopped = 0;

void Stop(int) {
    stopped = 1;
}

bool Exchange(int folder, const std::string &name, const std::string &other) {
    return ::syscall(SYS_renameat2, folder, name.c_str(), folder, other.c_str(), RENAME_EXCHANGE) ==
           0;
}

bool AnyExists(const std::vector<std::string> &paths) {
    struct stat info {};
    for (const std::string &path : paths)
        if (::stat(path.c_str(), &info) == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: swap_names FOLDER NAME OTHER [STOP_FILE...]\n");
        return 2;
    }
    const std::string name = argv[2], other = argv[3];
    const std::vector<std::string> stops(argv + 4, argv + argc);
    const int folder = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (folder < 0 || watch < 0 ||
        ::inotify_add_watch(watch, argv[1], IN_CREATE | IN_MOVED_TO) < 0) {
        std::perror("swap_names");
        return 2;
    }
    std::signal(SIGTERM, Stop);
    // Each event in the folder is a moment at which the name may have appeared: the first
    // exchange is tried at once, without a look at the name first.
    const auto waitEnd = Clock::now() + kWaitForName;
    while (!Exchange(folder, name, other)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(waitEnd - Clock::now());
        if (left.count() <= 0 || stopped) {
            std::printf("swaps 0\n");
            return 1;
        }
        pollfd ready{watch, POLLIN, 0};
        ::poll(&ready, 1, static_cast<int>(left.count()));
        char events[4096];
        while (::read(watch, events, sizeof events) > 0) {
        }
    }
    long swaps = 1;
    const auto swapEnd = Clock::now() + kSwapTime;
    for (long tries = 1; tries < kMostSwaps && !stopped; ++tries) {
        if (Exchange(folder, name, other))
            ++swaps;
        if (tries % 64 == 0 && (Clock::now() >= swapEnd || AnyExists(stops)))
            break;
    }
    std::printf("swaps %ld\n", swaps);
    return 0;
}
