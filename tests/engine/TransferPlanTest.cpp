// The transfer plan's rules on their own: the ranges, the bytes counted once, the takeover of
// remainders and the failover between locations, with a clock of the test's own.
#include "engine/TransferPlan.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using engine::Clock;
using engine::Failure;
using engine::FailureKind;
using engine::Lane;
using engine::Location;
using engine::TakeoverKind;
using engine::TransferPlan;

Clock::time_point testNow{};
Clock::time_point TestClock() {
    return testNow;
}

std::vector<Location> Locations(int count) {
    std::vector<Location> locations;
    for (int i = 0; i < count; ++i)
        locations.push_back(Location{"host" + std::to_string(i), "", i * 10});
    return locations;
}

// Worker `worker` writes `n` bytes where its segment goes on; returns how many it took.
size_t Write(TransferPlan &plan, int worker, int64_t n) {
    const engine::Work work = plan.NextWork(worker);
    if (!work.segment)
        return 0;
    const size_t taken =
        plan.Claim(worker, work.segment->First + work.segment->Claimed, static_cast<size_t>(n));
    plan.Committed(worker, taken);
    return taken;
}

// Attempts of `workers` begin at a time of their own, and their first bytes come 10 ms later:
// connections of a near path.
void StartAttempts(TransferPlan &plan, std::initializer_list<int> workers) {
    testNow = Clock::time_point{} + std::chrono::hours(1);
    for (int w : workers)
        plan.AttemptStarted(w);
    testNow += 10ms;
    for (int w : workers)
        Write(plan, w, 1);
}

const Failure kRefused{FailureKind::Refused, 0, "Connection refused"};
const Failure kUnavailable{FailureKind::HttpStatus, 503, "HTTP 503 Service Unavailable"};

TEST(TransferPlan, FiveRangesOfTheFileSomeEmptyForSmallFiles) {
    using Ranges = std::vector<std::pair<int64_t, int64_t>>;
    EXPECT_EQ(TransferPlan::Ranges(1000, 5),
              (Ranges{{0, 200}, {201, 401}, {402, 602}, {603, 803}, {804, 999}}));
    EXPECT_EQ(TransferPlan::Ranges(10, 5), (Ranges{{0, 2}, {3, 5}, {6, 8}, {9, 9}, {12, 9}}));
    TransferPlan plan(10, Locations(1), 5);
    EXPECT_TRUE(plan.NextWork(4).segment == nullptr) << "an empty range has nothing to fetch";
    EXPECT_FALSE(plan.Complete());
}

TEST(TransferPlan, AContinuedDownloadFetchesOnlyWhatIsMissingInFiveRanges) {
    using Ranges = std::vector<std::pair<int64_t, int64_t>>;
    constexpr int64_t MiB = 1024 * 1024;
    // Everything there: nothing to fetch. A small gap: one range, not worth halving.
    EXPECT_EQ(TransferPlan::ResumeRanges(100, {{0, 99}}, 5),
              (Ranges{{100, 99}, {100, 99}, {100, 99}, {100, 99}, {100, 99}}));
    EXPECT_EQ(TransferPlan::ResumeRanges(100, {{0, 49}, {60, 99}}, 5),
              (Ranges{{50, 59}, {100, 99}, {100, 99}, {100, 99}, {100, 99}}));
    // Seven gaps: the ones with the fewest bytes between them are joined.
    EXPECT_EQ(TransferPlan::ResumeRanges(
                  1000, {{10, 19}, {30, 99}, {110, 111}, {120, 199}, {210, 212}, {220, 989}}, 5),
              (Ranges{{0, 9}, {20, 29}, {100, 119}, {200, 219}, {990, 999}}));
    // One long gap: halved until every worker has a part.
    const Ranges halves = TransferPlan::ResumeRanges(16 * MiB, {{0, 8 * MiB - 1}}, 5);
    ASSERT_EQ(halves.size(), 5u);
    int64_t next = 8 * MiB;
    for (const auto &[first, last] : halves) {
        EXPECT_EQ(first, next) << "the parts follow each other without a gap";
        EXPECT_GE(last - first + 1, MiB);
        next = last + 1;
    }
    EXPECT_EQ(next, 16 * MiB);

    // The bytes there count from the start; the workers complete the rest.
    const Ranges done{{0, 499}, {700, 799}};
    TransferPlan plan(1000, Locations(1), TransferPlan::ResumeRanges(1000, done, 5), done);
    EXPECT_EQ(plan.Received(), 600);
    EXPECT_EQ(plan.DoneRanges(), done);
    EXPECT_FALSE(plan.Complete());
    for (int w = 0; w < 5; ++w)
        Write(plan, w, 1000);
    EXPECT_TRUE(plan.Complete());
    EXPECT_EQ(plan.Received(), 1000);
    EXPECT_EQ(plan.DoneRanges(), (Ranges{{0, 999}}));
}

TEST(TransferPlan, BytesAreTakenUpToTheSegmentsEndAndCountedOnce) {
    TransferPlan plan(1000, Locations(1), 5);
    const engine::Work work = plan.NextWork(0);
    EXPECT_TRUE(work.wait) << "the first attempt begins with the wait";
    EXPECT_EQ(work.first, 0);
    EXPECT_EQ(work.last, 200);
    EXPECT_EQ(plan.Claim(0, 0, 150), 150u);
    plan.Committed(0, 150);
    EXPECT_EQ(plan.Claim(0, 100, 10), 0u) << "not where the segment goes on";
    EXPECT_EQ(plan.Claim(0, 150, 500), 51u) << "nothing past its end";
    plan.Committed(0, 51);
    EXPECT_EQ(plan.Received(), 201);
    EXPECT_EQ(plan.Claim(0, 201, 1), 0u) << "the next segment is another worker's";
    plan.Withdraw(0, 51);
    EXPECT_EQ(plan.Received(), 150);
    EXPECT_EQ(plan.NextWork(0).first, 150) << "withdrawn bytes are asked again";
    for (int w = 0; w < 5; ++w)
        Write(plan, w, 1000);
    EXPECT_TRUE(plan.Complete());
    EXPECT_EQ(plan.Received(), 1000);
}

TEST(TakeoverRule, TheLaneWithTheMostTimeLeftIsHalvedOrTakenWhenSlow) {
    const double mib = 1024.0 * 1024.0;
    const double fast = 20 * mib;
    struct Row {
        const char *name;
        std::vector<Lane> lanes;
        TakeoverKind kind;
        size_t lane;
    } rows[] = {
        {"the longest of fast lanes is halved",
         {{4 << 20, fast, 3}, {8 << 20, fast, 3}, {6 << 20, fast, 3}},
         TakeoverKind::Half,
         1},
        {"time left, not bytes, decides",
         {{8 << 20, 4 * fast, 3}, {6 << 20, fast, 3}},
         TakeoverKind::Half,
         1},
        {"a lane far below the others is taken whole",
         {{4 << 20, fast, 3}, {3 << 20, fast / 20, 3}},
         TakeoverKind::All,
         1},
        {"a lane waiting to try again is taken whole", {{300 << 10, -1, -1}}, TakeoverKind::All, 0},
        {"a new connection is not judged yet",
         {{3 << 20, -1, 0.2}, {1 << 20, fast, 3}},
         TakeoverKind::Half,
         0},
        {"one that delivers nothing after a while is slow",
         {{3 << 20, -1, 5}, {1 << 20, fast, 3}},
         TakeoverKind::All,
         0},
        {"a small remainder is not worth a connection",
         {{256 << 10, fast, 3}, {128 << 10, fast, 3}},
         TakeoverKind::None,
         0},
        {"a slow lane's last bytes are left to it", {{10 << 10, -1, -1}}, TakeoverKind::None, 0},
        {"nothing to take", {{0, fast, 3}}, TakeoverKind::None, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const engine::Takeover t = engine::ChooseTakeover(row.lanes, fast, 0.001);
        EXPECT_EQ(t.kind, row.kind);
        if (row.kind != TakeoverKind::None) {
            EXPECT_EQ(t.lane, row.lane);
        }
    }
    // Halving pays only when the time it saves is more than a new connection costs.
    EXPECT_EQ(engine::ChooseTakeover({{4 << 20, fast, 3}}, fast, 0.5).kind, TakeoverKind::None);
}

TEST(TakeoverRule, ALaneIsJudgedOnceItsFirstBytesCanHaveCome) {
    const double fast = 20.0 * 1024 * 1024;
    struct Row {
        const char *name;
        engine::Lane lane;
        double reference, connectionCost;
        bool slow;
    } rows[] = {
        {"nothing yet, still starting", {1 << 20, -1, 0.3}, fast, 0.01, false},
        {"nothing after half a second", {1 << 20, -1, 0.6}, fast, 0.01, true},
        {"nothing yet on a far path", {1 << 20, -1, 1.5}, fast, 0.8, false},
        {"nothing after twice the far path's first byte", {1 << 20, -1, 1.7}, fast, 0.8, true},
        {"below a quarter of the others", {1 << 20, fast / 5, 3}, fast, 0.01, true},
        {"at a third of the others", {1 << 20, fast / 3, 3}, fast, 0.01, false},
        {"no others to compare with", {1 << 20, 10, 3}, -1, 0.01, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(engine::IsSlowLane(row.lane, row.reference, row.connectionCost), row.slow);
    }
}

TEST(TransferPlan, AnIdleWorkerTakesTheLaterHalfOrAllOfASlowRemainder) {
    const int64_t size = 50 << 20;
    TransferPlan plan(size, Locations(1), 5);
    plan.SetClockForTesting(&TestClock);
    for (int w = 0; w < 5; ++w)
        plan.AttemptStarted(w);
    testNow += 2s;
    // Worker 0 completes its 10 MiB range; 1 has 256 KiB of it, the others 5 MiB.
    Write(plan, 0, size);
    plan.AttemptSucceeded(0);
    Write(plan, 1, 256 << 10);
    for (int w = 2; w < 5; ++w)
        Write(plan, w, 5 << 20);
    const int64_t before = plan.Received();

    // Worker 1 runs at a twentieth of the others' rate: slow, so worker 0 takes all it has
    // left.
    const engine::Work all = plan.NextWork(0);
    ASSERT_TRUE(all.segment);
    EXPECT_FALSE(all.wait) << "a takeover is new work, not a retry";
    const int64_t second = size / 5 + 1;
    EXPECT_EQ(all.first, second + (256 << 10));
    EXPECT_EQ(all.last, 2 * second - 1);
    EXPECT_EQ(plan.Claim(1, second + (256 << 10), 1), 0u)
        << "the slow worker's own segment ends where it is";
    EXPECT_EQ(plan.Received(), before) << "a takeover moves no byte";

    // Another worker, done with its range, halves the longest remainder of the fast ones.
    Write(plan, 2, size);
    plan.AttemptSucceeded(2);
    const engine::Work half = plan.NextWork(2);
    ASSERT_TRUE(half.segment);
    EXPECT_FALSE(half.wait);
    EXPECT_LE(half.last - half.first + 1, (10 << 20) / 2) << "the later half of a remainder";
    EXPECT_EQ(plan.Takeovers(), 2);
    // Every byte still arrives once: finish all work there is.
    for (int round = 0; round < 20 && !plan.Complete(); ++round)
        for (int w = 0; w < 5; ++w)
            Write(plan, w, 64 << 20);
    EXPECT_TRUE(plan.Complete());
    EXPECT_EQ(plan.Received(), size) << "never past the file's size";
}

TEST(TransferPlan, AFailingLocationIsLeftForTheNextThatAgreed) {
    TransferPlan plan(1000, Locations(3), 5);
    // A refusal gives the location up at once; the worker moves on, and nothing is counted.
    engine::FailureOutcome outcome = plan.AttemptFailed(0, kRefused, 0);
    EXPECT_TRUE(outcome.moved);
    EXPECT_FALSE(outcome.counted);
    EXPECT_EQ(plan.LocationOf(0), 1u);
    // Another worker still on it moves at its next failure of any kind.
    outcome = plan.AttemptFailed(1, kUnavailable, 0);
    EXPECT_TRUE(outcome.moved);
    EXPECT_EQ(plan.LocationOf(1), 1u);
    // "Service unavailable" twice gives a location up.
    EXPECT_FALSE(plan.AttemptFailed(0, kUnavailable, 0).moved);
    EXPECT_TRUE(plan.AttemptFailed(0, kUnavailable, 0).moved);
    EXPECT_EQ(plan.LocationOf(0), 2u);
    // Bytes delivered before a break show the location works: its strikes start again.
    EXPECT_FALSE(plan.AttemptFailed(0, kUnavailable, 500).moved);
    EXPECT_FALSE(plan.AttemptFailed(0, kUnavailable, 500).moved);
    // The last location failing as well: all are tried again in turn, and failures count.
    outcome = plan.AttemptFailed(0, kRefused, 0);
    EXPECT_TRUE(outcome.counted);
    EXPECT_TRUE(outcome.moved);
    EXPECT_TRUE(plan.AttemptFailed(2, kUnavailable, 0).counted);
    // A disk failure or a stop says nothing about the location.
    const size_t here = plan.LocationOf(4);
    EXPECT_FALSE(plan.AttemptFailed(4, Failure{FailureKind::DiskFull, 0, "full"}, 0).moved);
    EXPECT_FALSE(plan.AttemptFailed(4, Failure{FailureKind::Stopped, 0, ""}, 0).counted);
    EXPECT_EQ(plan.LocationOf(4), here);
}

TEST(TransferPlan, WithOneLocationEveryFailureCounts) {
    TransferPlan plan(1000, Locations(1), 5);
    const engine::FailureOutcome outcome = plan.AttemptFailed(0, kUnavailable, 0);
    EXPECT_TRUE(outcome.counted);
    EXPECT_FALSE(outcome.moved);
}

// A trickle (bytes now and then, so that the time-out of silence never passes) stalls the
// attempt once the time-out has passed with too few bytes: a failure, counted as any other.
TEST(TransferPlan, AnAttemptThatTricklesStallsAtTheTimeOut) {
    using engine::AttemptVerdict;
    TransferPlan plan(10 << 20, Locations(1), 5);
    plan.SetClockForTesting(&TestClock);
    StartAttempts(plan, {0});
    testNow += 59s;
    Write(plan, 0, 99);
    EXPECT_EQ(plan.CheckAttempt(0, 60s).verdict, AttemptVerdict::Go);
    testNow += 1s;
    const engine::AttemptCheck check = plan.CheckAttempt(0, 60s);
    ASSERT_EQ(check.verdict, AttemptVerdict::Stalled);
    EXPECT_EQ(check.failure.kind, FailureKind::Stalled);
    EXPECT_EQ(check.failure.text, "Only 100 bytes came in 60 s");
    EXPECT_TRUE(plan.AttemptFailed(0, check.failure, 100).counted);
    // The next attempt is watched afresh: enough bytes in each time-out, then too few.
    plan.AttemptStarted(0);
    testNow += 30s;
    Write(plan, 0, 1 << 20);
    testNow += 30s;
    EXPECT_EQ(plan.CheckAttempt(0, 60s).verdict, AttemptVerdict::Go);
    testNow += 60s;
    Write(plan, 0, 7679);
    EXPECT_EQ(plan.CheckAttempt(0, 60s).verdict, AttemptVerdict::Stalled)
        << "less than 128 bytes a second";
}

// A range whose bytes come far below the others' rate stalls after 10 s, also when the
// takeovers that move it to other workers' connections never let one connection run that long:
// the watch goes with the bytes.
TEST(TransferPlan, ARangeFarBelowTheOthersStallsAcrossTheTakeoversThatMoveIt) {
    using engine::AttemptVerdict;
    const int64_t size = 50 << 20;
    TransferPlan plan(size, Locations(1), 5);
    plan.SetClockForTesting(&TestClock);
    StartAttempts(plan, {0, 1, 2, 3, 4});
    const Clock::time_point start = testNow;
    testNow += 2s;
    for (int w : {0, 2, 3, 4})
        Write(plan, w, 5 << 20);
    Write(plan, 1, 1024);
    EXPECT_EQ(plan.CheckAttempt(1, 60s).verdict, AttemptVerdict::Go) << "slow since now";
    testNow += 4s;
    // Worker 0 completes its range and takes all that the slow one has left; the slow one's
    // connection ends at its next look, neither a success nor a failure.
    Write(plan, 0, size);
    plan.AttemptSucceeded(0);
    ASSERT_TRUE(plan.NextWork(0).segment);
    EXPECT_EQ(plan.CheckAttempt(1, 60s).verdict, AttemptVerdict::Cut);
    plan.AttemptCut(1);
    plan.AttemptStarted(0);
    testNow += 10ms;
    Write(plan, 0, 1);
    testNow += 1s;
    Write(plan, 0, 100);
    EXPECT_EQ(plan.CheckAttempt(0, 60s).verdict, AttemptVerdict::Go);
    testNow = start + 12s; // 10 s after the range was first seen slow, 6 s into this attempt
    const engine::AttemptCheck check = plan.CheckAttempt(0, 60s);
    EXPECT_EQ(check.verdict, AttemptVerdict::Stalled);
    EXPECT_EQ(check.failure.text, "Far slower than the other connections for 10 s");
    EXPECT_TRUE(plan.AttemptFailed(0, check.failure, 100).counted);
    // The next attempt on those bytes gets its 10 s again; one that keeps up is no longer slow.
    plan.AttemptStarted(0);
    testNow += 1s;
    Write(plan, 0, 100);
    EXPECT_EQ(plan.CheckAttempt(0, 60s).verdict, AttemptVerdict::Go);
    testNow += 5s;
    Write(plan, 0, 12 << 20);
    EXPECT_EQ(plan.CheckAttempt(0, 60s).verdict, AttemptVerdict::Go);
    testNow += 6s;
    EXPECT_EQ(plan.CheckAttempt(0, 60s).verdict, AttemptVerdict::Go);
    // A shorter time-out shortens the 10 s.
    TransferPlan quick(size, Locations(1), 5);
    quick.SetClockForTesting(&TestClock);
    StartAttempts(quick, {0, 1, 2, 3, 4});
    testNow += 1s;
    for (int w : {0, 2, 3, 4})
        Write(quick, w, 5 << 20);
    EXPECT_EQ(quick.CheckAttempt(1, 2s).verdict, AttemptVerdict::Go);
    testNow += 2s;
    EXPECT_EQ(quick.CheckAttempt(1, 2s).verdict, AttemptVerdict::Stalled);
}

TEST(TransferPlan, TheOneStreamIsNotComparedWithTheOthers) {
    TransferPlan plan(50 << 20, Locations(1), 5);
    plan.SetClockForTesting(&TestClock);
    StartAttempts(plan, {0, 1, 2, 3, 4});
    testNow += 1s;
    for (int w = 0; w < 5; ++w)
        Write(plan, w, 5 << 20);
    ASSERT_TRUE(plan.MakeOneStream(3));
    for (int w : {0, 1, 2, 4})
        plan.AttemptFailed(w, Failure{FailureKind::Stopped, 0, ""}, 0);
    plan.RestartOneStream(3);
    for (int second = 0; second < 30; ++second) {
        testNow += 1s;
        Write(plan, 3, 100 << 10);
        EXPECT_EQ(plan.CheckAttempt(3, 60s).verdict, engine::AttemptVerdict::Go) << second;
    }
}

// Stalls strike their location out like resets do, however many bytes they delivered, and the
// workers that did not fail there leave it too. A cut attempt that still ends in a success
// shows nothing of its location.
TEST(TransferPlan, StalledAndCutAttemptsNeverShowThatALocationWorks) {
    const Failure stalled{FailureKind::Stalled, 0, "Only 6 bytes came in 60 s"};
    TransferPlan plan(50 << 20, Locations(2), 5);
    plan.SetClockForTesting(&TestClock);
    EXPECT_FALSE(plan.AttemptFailed(0, stalled, 6).moved);
    // Worker 1 is cut (its slow remainder taken by worker 2, whose range is done) and then
    // ends as a success at its next bytes: location 0's strike stays.
    StartAttempts(plan, {0, 1, 2, 3, 4});
    testNow += 2s;
    Write(plan, 1, 1024);
    for (int w : {0, 3, 4})
        Write(plan, w, 5 << 20);
    Write(plan, 2, 50 << 20);
    ASSERT_TRUE(plan.NextWork(2).segment);
    ASSERT_EQ(plan.CheckAttempt(1, 60s).verdict, engine::AttemptVerdict::Cut);
    plan.AttemptSucceeded(1);
    EXPECT_TRUE(plan.AttemptFailed(0, stalled, 6).moved) << "two stalls in a row";
    EXPECT_EQ(plan.LocationOf(0), 1u);
    EXPECT_EQ(plan.NextWork(3).location, 1u) << "a location given up is left by all";
    EXPECT_EQ(plan.LocationOf(3), 1u);
}

TEST(TransferPlan, TheFirstWorkerWithAWholeFileBecomesTheOneStream) {
    TransferPlan plan(1000, Locations(1), 5);
    Write(plan, 1, 100);
    EXPECT_TRUE(plan.MakeOneStream(3));
    EXPECT_FALSE(plan.MakeOneStream(1)) << "one stream only";
    EXPECT_TRUE(plan.MakeOneStream(3)) << "its own, asked again";
    EXPECT_TRUE(plan.OneStream());
    EXPECT_EQ(plan.Received(), 0) << "the progress starts afresh";
    const engine::Work work = plan.NextWork(3);
    EXPECT_EQ(work.first, 0);
    EXPECT_EQ(work.last, 999);
    EXPECT_TRUE(plan.NextWork(1).segment == nullptr) << "the others have nothing left";
    Write(plan, 3, 400);
    plan.RestartOneStream(3);
    EXPECT_EQ(plan.Received(), 0) << "a whole file again starts from its first byte";
}

} // namespace
