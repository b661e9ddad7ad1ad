#include "platform/NotifyQueue.h"

#include "platform/ThreadTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono;
using namespace platform;

namespace {

struct Recorder : MessageTarget {
    std::vector<MessageKind> kinds;
    std::thread::id ranOn;
    void HandleMessage(const Message &m) override {
        kinds.push_back(m.kind);
        ranOn = std::this_thread::get_id();
    }
};

// Pumps the calling thread until pred() holds or the time is up.
template <typename P> bool PumpUntil(P pred, milliseconds limit = 2000ms) {
    auto end = steady_clock::now() + limit;
    while (!pred() && steady_clock::now() < end)
        SleepAndProcess(2);
    return pred();
}

} // namespace

TEST(NotifyQueue, MessagesFromAnotherThreadRunOnTheOwnerInOrder) {
    Recorder r;
    std::thread poster([&r] {
        Message a;
        a.kind = MessageKind::ReadPending;
        r.PostToSelf(a);
        Message b;
        b.kind = MessageKind::WritePending;
        r.PostToSelf(b);
    });
    poster.join();
    EXPECT_TRUE(r.kinds.empty()) << "nothing runs before the owner processes its queue";
    ASSERT_TRUE(PumpUntil([&] { return r.kinds.size() == 2; }));
    EXPECT_EQ(r.kinds[0], MessageKind::ReadPending);
    EXPECT_EQ(r.kinds[1], MessageKind::WritePending);
    EXPECT_EQ(r.ranOn, std::this_thread::get_id());
}

TEST(NotifyQueue, ClosuresRunOnTheOwningThreadAndMessagesToGoneTargetsAreDropped) {
    auto queue = NotifyQueue::Current();
    std::atomic<int> ran{0};
    std::thread::id ranOn;
    auto *gone = new Recorder;
    Message m;
    m.kind = MessageKind::ReadPending;
    gone->PostToSelf(m);
    delete gone;
    std::thread([&] { queue->PostClosure([&] { ranOn = std::this_thread::get_id(), ++ran; }); })
        .join();
    ASSERT_TRUE(PumpUntil([&] { return ran == 1; }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(NotifyQueue, SleepReturnsEarlyWhenAnotherThreadPosts) {
    auto queue = NotifyQueue::Current();
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        std::this_thread::sleep_for(20ms);
        queue->PostClosure([&] { ran = true; });
    });
    auto start = steady_clock::now();
    // A long sleep must end as soon as the closure arrives.
    while (!ran && steady_clock::now() - start < 5s)
        SleepAndProcess(1000);
    poster.join();
    EXPECT_TRUE(ran);
    EXPECT_LT(steady_clock::now() - start, 900ms);
}

TEST(NotifyQueue, PumpHookRunsOnEveryPass) {
    int passes = 0;
    SetThreadPumpHook([&] { ++passes; });
    ProcessPendingMessages();
    SleepAndProcess(1);
    SetThreadPumpHook(nullptr);
    ProcessPendingMessages();
    EXPECT_EQ(passes, 2);
}

TEST(ThreadTimer, FiresAfterItsIntervalUntilDisabled) {
    TThreadTimer timer;
    int fired = 0;
    TObject *sender = nullptr;
    timer.SetInterval(30);
    auto start = steady_clock::now();
    timer.SetOnTimer([&](TObject *s) {
        sender = s;
        ++fired;
    });
    ASSERT_TRUE(PumpUntil([&] { return fired >= 2; }));
    EXPECT_GE(steady_clock::now() - start, 55ms);
    EXPECT_EQ(sender, &timer);
    timer.SetEnabled(false);
    int seen = fired;
    PumpUntil([] { return false; }, 100ms);
    EXPECT_EQ(fired, seen) << "a disabled timer does not fire";
}

TEST(ThreadTimer, ZeroIntervalOrNoHandlerNeverFires) {
    TThreadTimer timer;
    int fired = 0;
    timer.SetInterval(0);
    timer.SetOnTimer([&](TObject *) { ++fired; });
    PumpUntil([] { return false; }, 60ms);
    EXPECT_EQ(fired, 0);
}

TEST(ThreadTimer, HandlerExceptionsGoToTheApplicationHandler) {
    std::string seen;
    SetApplicationExceptionHandler([&](const char *what) { seen = what; });
    {
        TThreadTimer timer;
        timer.SetInterval(5);
        timer.SetOnTimer([&](TObject *) { throw std::runtime_error("boom"); });
        PumpUntil([&] { return !seen.empty(); });
    }
    SetApplicationExceptionHandler(nullptr);
    EXPECT_EQ(seen, "boom");
}

TEST(ThreadTimer, ADueTimerIsDeliveredOnceHoweverLateTheQueueIsProcessed) {
    TThreadTimer timer;
    int fired = 0;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TObject *) { ++fired; });
    std::this_thread::sleep_for(60ms); // many intervals pass without processing
    ProcessPendingMessages();
    EXPECT_EQ(fired, 1);
}

