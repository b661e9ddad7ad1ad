#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

using namespace std::chrono;
using namespace std::chrono_literals;
using namespace platform;

namespace {

template <typename P> bool PumpUntil(P pred, milliseconds limit = 3000ms) {
    auto end = steady_clock::now() + limit;
    while (!pred() && steady_clock::now() < end)
        SleepAndProcess(2);
    return pred();
}

// A worker whose body is a test-supplied function with access to the protected calls.
class Worker : public TThread {
  public:
    explicit Worker(std::function<void(Worker &)> body) : body_(std::move(body)) {}
    ~Worker() override { WaitFor(); }
    using TThread::Suspend;
    using TThread::Synchronize;
    std::atomic<int> steps{0};

  protected:
    void Execute() override { body_(*this); }

  private:
    std::function<void(Worker &)> body_;
};

struct MainThreadFixture : ::testing::Test {
    void SetUp() override { SetMainThread(); }
};

} // namespace

using ThreadTest = MainThreadFixture;

TEST_F(ThreadTest, ACreatedThreadRunsOnlyOnceResumed) {
    Worker w([](Worker &self) { ++self.steps; });
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(w.steps, 0);
    w.Resume();
    w.WaitFor();
    EXPECT_EQ(w.steps, 1);
    EXPECT_TRUE(w.Ended());
}

TEST_F(ThreadTest, SuspendWaitsForResumeAndAnEarlyResumeIsKept) {
    Worker w([](Worker &self) {
        self.Suspend();
        ++self.steps;
        self.Suspend();
        ++self.steps;
    });
    w.Resume();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(w.steps, 0) << "suspended until resumed";
    w.Resume();
    ASSERT_TRUE(PumpUntil([&] { return w.steps == 1; }));
    w.Resume(); // may come before the second Suspend: it must not be lost
    w.WaitFor();
    EXPECT_EQ(w.steps, 2);
}

TEST_F(ThreadTest, SynchronizeRunsOnTheMainThreadAndWaitsForIt) {
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::string caught;
    Worker w([&](Worker &self) {
        self.Synchronize([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
        try {
            self.Synchronize([] { throw std::runtime_error("from main"); });
        } catch (const std::exception &e) {
            caught = e.what();
        }
    });
    w.Resume();
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(returned) << "the worker waits until the main thread has run the call";
    ASSERT_TRUE(PumpUntil([&] { return w.Ended(); }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(caught, "from main");
}

TEST_F(ThreadTest, SynchronizeCompletesWhileTheMainThreadIsInANestedLoop) {
    std::atomic<int> delivered{0};
    Worker second([&](Worker &self) { self.Synchronize([&] { ++delivered; }); });
    Worker first([&](Worker &self) {
        // The main thread's handler of this call runs a nested loop, as a message box does.
        self.Synchronize([&] {
            second.Resume();
            PumpUntil([&] { return delivered == 1; });
        });
    });
    first.Resume();
    ASSERT_TRUE(PumpUntil([&] { return first.Ended() && second.Ended(); }));
    EXPECT_EQ(delivered, 1);
}

TEST_F(ThreadTest, OnTerminateRunsOnTheMainThreadAfterExecute) {
    std::thread::id ranOn;
    TThread *sender = nullptr;
    Worker w([](Worker &self) { ++self.steps; });
    w.OnTerminate = [&](TThread *s) {
        sender = s;
        ranOn = std::this_thread::get_id();
    };
    w.Resume();
    ASSERT_TRUE(PumpUntil([&] { return sender != nullptr; }));
    EXPECT_EQ(sender, &w);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(w.steps, 1);
}

TEST_F(ThreadTest, ATerminationCallbackOfAGoneThreadIsDropped) {
    bool ran = false;
    {
        Worker w([](Worker &) {});
        w.OnTerminate = [&](TThread *) { ran = true; };
        w.Resume();
        w.WaitFor();
    } // destroyed before the main thread processed its queue
    PumpUntil([] { return false; }, 30ms);
    EXPECT_FALSE(ran);
}

TEST_F(ThreadTest, TerminateEndsASuspendedThreadOrOneWaitingForTheMainThread) {
    Worker suspended([](Worker &self) {
        self.Suspend();
        ++self.steps;
    });
    suspended.Resume();
    bool ran = false;
    Worker handing([&](Worker &self) {
        self.Synchronize([&] { ran = true; });
        ++self.steps; // not reached: the call was abandoned
    });
    handing.Resume();
    std::this_thread::sleep_for(30ms); // both are blocked now; the main queue is not pumped
    auto start = steady_clock::now();
    suspended.Terminate();
    handing.Terminate();
    suspended.WaitFor();
    handing.WaitFor();
    EXPECT_LT(steady_clock::now() - start, 1s);
    EXPECT_EQ(handing.steps, 0);
    PumpUntil([] { return false; }, 30ms);
    EXPECT_FALSE(ran) << "an abandoned call does not run later";
}
