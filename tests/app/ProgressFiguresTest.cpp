#include "app/ProgressFigures.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = ProgressFigures::Clock;

constexpr int64_t MB = 1024 * 1024;

// Readings every 100 ms at `rate` bytes a second for `duration`, from `from` bytes at `start`.
Clock::time_point Feed(ProgressFigures &f, Clock::time_point start, int64_t from, double rate,
                       std::chrono::milliseconds duration, int64_t total) {
    for (auto t = 0ms; t <= duration; t += 100ms)
        f.Note(start + t,
               from + static_cast<int64_t>(rate * std::chrono::duration<double>(t).count()), total);
    return start + duration;
}

TEST(ProgressFigures, TheTextsPeopleRead) {
    EXPECT_EQ(BytesOfTotalText(17 * MB - MB / 5, 40 * MB), "16.8 of 40.0 MB");
    EXPECT_EQ(BytesOfTotalText(350 * 1024, 800 * 1024), "350 of 800 KB");
    EXPECT_EQ(BytesOfTotalText(0, 0), "0 of 0 KB");
    EXPECT_EQ(BytesOfTotalText(1280 * MB, 4096 * MB), "1.25 of 4.00 GB");
    EXPECT_EQ(SpeedText(1.04 * MB), "1.0 MB/s");
    EXPECT_EQ(SpeedText(850 * 1024), "850 KB/s");
    EXPECT_EQ(SpeedText(100), "0.1 KB/s");
    EXPECT_EQ(TimeLeftText(7s), "7 s left");
    EXPECT_EQ(TimeLeftText(23s), "25 s left");
    EXPECT_EQ(TimeLeftText(89s), "90 s left");
    EXPECT_EQ(TimeLeftText(200s), "3 min left");
    EXPECT_EQ(TimeLeftText(3900s), "1 h 5 min left");
}

TEST(ProgressFigures, ASteadyTransferShowsItsSpeedAndTimeLeftOnceTheyMeanSomething) {
    ProgressFigures f;
    const Clock::time_point t0{};
    EXPECT_EQ(f.Text(t0), "") << "nothing before the first reading";
    auto now = Feed(f, t0, 0, MB, 500ms, 40 * MB);
    EXPECT_EQ(f.Text(now), "0.5 of 40.0 MB") << "unknown yet: the bytes only";
    now = Feed(f, now, MB / 2, MB, 1000ms, 40 * MB);
    EXPECT_EQ(f.Text(now), "1.5 of 40.0 MB, 1.0 MB/s") << "a speed, no time left yet";
    now = Feed(f, now, 3 * MB / 2, MB, 8500ms, 40 * MB);
    EXPECT_EQ(f.Text(now), "10.0 of 40.0 MB, 1.0 MB/s, 30 s left");
    f.Note(now + 100ms, 40 * MB, 40 * MB);
    EXPECT_EQ(f.Text(now + 100ms), "40.0 of 40.0 MB") << "done: nothing left to estimate";
}

TEST(ProgressFigures, TheSpeedIsSmoothedAndWithdrawnBytesAreNoNegativeSpeed) {
    ProgressFigures f;
    auto now = Feed(f, Clock::time_point{}, 0, MB, 10s, 40 * MB);
    // A burst of 5 MB in a quarter of a second (bytes held back by a proxy) moves the speed,
    // but not to 20 MB/s.
    now += 250ms;
    f.Note(now, 15 * MB, 40 * MB);
    ASSERT_TRUE(f.Speed());
    EXPECT_GT(*f.Speed(), 1.0 * MB);
    EXPECT_LT(*f.Speed(), 3.0 * MB);
    // A failed attempt's bytes withdrawn: no speed below zero, and it recovers.
    now += 250ms;
    f.Note(now, 12 * MB, 40 * MB);
    EXPECT_GE(*f.Speed(), 0.0);
    now = Feed(f, now + 100ms, 12 * MB, MB, 15s, 40 * MB);
    EXPECT_NEAR(*f.Speed(), 1.0 * MB, 0.05 * MB);
}

TEST(ProgressFigures, VerySlowAndStalledTransfers) {
    ProgressFigures slow;
    auto now = Feed(slow, Clock::time_point{}, 0, 100, 10s, 40 * MB);
    EXPECT_EQ(slow.Text(now), "0.0 of 40.0 MB, 0.1 KB/s") << "more than a day: no time left";

    ProgressFigures waiting; // the wait before the first attempts is no stall
    now = Feed(waiting, Clock::time_point{}, 0, 0, 6s, 40 * MB);
    EXPECT_EQ(waiting.Text(now), "0.0 of 40.0 MB");

    ProgressFigures stalled;
    now = Feed(stalled, Clock::time_point{}, 0, MB, 5s, 40 * MB);
    for (auto t = 100ms; t <= 7s; t += 100ms)
        stalled.Note(now + t, 5 * MB, 40 * MB);
    EXPECT_EQ(stalled.Text(now + 7s), "5.0 of 40.0 MB, no data for 7 s");
    EXPECT_FALSE(stalled.TimeLeft(now + 7s));
    // When bytes come again, the quiet seconds do not drag the speed down.
    const auto again = Feed(stalled, now + 7s, 5 * MB, 2 * MB, 2s, 40 * MB);
    EXPECT_EQ(stalled.Text(again), "9.0 of 40.0 MB, 2.0 MB/s");
    // After a pause the speed is measured anew.
    stalled.Restart();
    stalled.Note(now + 8s, 5 * MB, 40 * MB);
    EXPECT_EQ(stalled.Text(now + 8s), "5.0 of 40.0 MB");
}

} // namespace
