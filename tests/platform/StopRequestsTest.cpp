#include "platform/StopRequests.h"

#include "platform/NotifyQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <pthread.h>
#include <unistd.h>

using namespace std::chrono;

namespace {

template <typename P> bool PumpUntil(P pred, milliseconds limit = 2000ms) {
    auto end = steady_clock::now() + limit;
    while (!pred() && steady_clock::now() < end)
        platform::SleepAndProcess(2);
    return pred();
}

} // namespace

// Ctrl+C and termination requests, whichever thread the system hands them to, run the hook on
// the thread that caught them, once each, and wake its wait at once.
TEST(StopRequests, EachRequestRunsTheHookOnceOnTheCatchingThreadAndWakesItsWait) {
    int stops = 0;
    std::thread::id ranOn;
    platform::CatchStopRequests([&] {
        ++stops;
        ranOn = std::this_thread::get_id();
    });

    ::kill(::getpid(), SIGTERM);
    ASSERT_TRUE(PumpUntil([&] { return stops == 1; }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    std::thread([] { ::pthread_kill(::pthread_self(), SIGINT); }).join();
    ASSERT_TRUE(PumpUntil([&] { return stops == 2; }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    // A wait of five seconds ends as soon as the request comes.
    std::thread later([] {
        std::this_thread::sleep_for(50ms);
        ::kill(::getpid(), SIGHUP);
    });
    const auto start = steady_clock::now();
    platform::SleepAndProcess(5000);
    later.join();
    EXPECT_LT(steady_clock::now() - start, 2s);
    PumpUntil([&] { return stops == 3; }, 500ms);
    EXPECT_EQ(stops, 3);
}
