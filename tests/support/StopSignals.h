#pragma once

// How the mirror programs of the tests end: on SIGTERM or SIGINT, or by themselves once their
// lifetime is over, so that a forgotten mirror does not stay.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>

namespace testsupport {

// Blocks SIGTERM and SIGINT in the calling thread; call it before any thread is started, so
// that the threads inherit the mask and the signals reach only WaitForStopSignal.
inline sigset_t BlockStopSignals() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    return stop;
}

// Waits for one of the blocked stop signals, at most `lifetime`.
inline void WaitForStopSignal(const sigset_t &stop, std::chrono::seconds lifetime) {
    const auto end = std::chrono::steady_clock::now() + lifetime;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        timespec wait{static_cast<time_t>(left.count() / 1000),
                      static_cast<long>(left.count() % 1000) * 1000000L};
        if (sigtimedwait(&stop, nullptr, &wait) >= 0 || errno != EINTR)
            return; // a stop signal, the end of the lifetime or a failure of the wait itself
    }
}

} // namespace testsupport
