#include "platform/StopRequests.h"

#include "platform/NotifyQueue.h"
#include "platform/posix/PollSource.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace platform {
namespace {

std::atomic<unsigned> requests{0};
std::atomic<int> wakeFd{-1};
pthread_t catcher;

extern "C" void OnStopSignal(int signal) {
    // A signal meant for the process may land on any thread; the catching thread is the one
    // whose waits must wake (and whose blocking calls are interrupted).
    if (!pthread_equal(pthread_self(), catcher)) {
        pthread_kill(catcher, signal);
        return;
    }
    const int saved = errno;
    if (signal != SIGINT)
        NoteSystemEnding();
    requests.fetch_add(1);
    if (int fd = wakeFd.load(); fd >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t r = write(fd, &one, sizeof one);
    }
    errno = saved;
}

} // namespace

namespace posix {
unsigned StopRequestCount() {
    return requests.load();
}
} // namespace posix

void CatchStopRequests(std::function<void()> onStop) {
    catcher = pthread_self();
    NotifyQueue &queue = *NotifyQueue::Current();
    wakeFd = posix::SignalWakeDescriptor(queue);
    posix::SetStopHook(queue, std::move(onStop));
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART; // reads and writes go on; the waits see the wake-up
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool StandardInputWaiting() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) > 0;
}

} // namespace platform
