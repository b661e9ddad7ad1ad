#include "platform/NotifyQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <poll.h>

using namespace platform;

namespace {

TEST(NotifyQueue, TheWakeDescriptorIsReadableForEveryPostAfterAPass) {
    // A loop that waits on the descriptor (a toolkit's) must be woken by every later post,
    // also after posts raced with the clearing of an earlier wake-up.
    auto queue = NotifyQueue::Current();
    const int fd = queue->WakeDescriptor();
    auto readable = [fd] {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    };
    std::atomic<int> ran{0};
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        for (int i = 0; i < 20000 && !stop; ++i)
            queue->PostClosure([&] { ++ran; });
    });
    for (int i = 0; i < 2000 && ran < 20000; ++i)
        DispatchPendingMessages(); // passes racing with the posts
    poster.join();
    stop = true;
    if (ran < 20000) {
        EXPECT_TRUE(readable()) << "whatever is left is announced";
    }
    for (int i = 0; i < 1000 && ran < 20000; ++i)
        DispatchPendingMessages();
    ASSERT_EQ(ran, 20000);
    DispatchPendingMessages();
    ASSERT_FALSE(readable()) << "nothing left, nothing to wake for";
    std::thread([&] { queue->PostClosure([&] { ++ran; }); }).join();
    EXPECT_TRUE(readable()) << "a post after the passes wakes the waiting loop";
    DispatchPendingMessages();
}

TEST(NotifyQueue, AToolkitLoopWaitingOnTheDescriptorRunsTheThreadsTimers) {
    // A window's loop sleeps on the descriptor alone: a timer of the thread (the download's
    // progress) must wake it when due, each time, or the window never moves.
    struct Ticks : MessageTarget {
        int count = 0;
        void HandleMessage(const Message &m) override { count += m.kind == MessageKind::Timer; }
    } ticks;
    auto queue = NotifyQueue::Current();
    queue->SetTimer(ticks.TargetId(), 1, 20);
    int slept = 0;
    for (int i = 0; i < 20 && ticks.count < 5; ++i) {
        pollfd p{queue->WakeDescriptor(), POLLIN, 0};
        slept += poll(&p, 1, 2000) == 0;
        DispatchPendingMessages();
    }
    queue->KillTimer(ticks.TargetId(), 1);
    EXPECT_GE(ticks.count, 5);
    EXPECT_EQ(slept, 0) << "the loop slept through a due timer";
}

} // namespace
