#include "engine/Thread.h"

#include "WorkerFixture.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <random>

using namespace workertest;
using testsupport::PatternBytes;

namespace {

std::vector<std::string> RangeLines(const RangeServer &server) {
    std::vector<std::string> lines;
    for (auto &r : server.Requests())
        if (r.method == "GET")
            lines.push_back(r.rangeLine);
    return lines;
}

} // namespace

TEST_F(Workers, OneRequestForTheWholeSegmentWrittenAtItsOffset) {
    const std::string content = PatternBytes(0, 200000);
    RangeServer server(content);
    HttpThread &w = StartOne(server, 200000, 50000, 149999);
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_TRUE(w.Finished);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].rangeLine, "Range: bytes=50000-149999");
    EXPECT_NE(server.Requests()[0].request.find("GET /dir/setup.exe HTTP/1.0\r\n"),
              std::string::npos);
    EXPECT_EQ(Written().substr(50000, 100000), content.substr(50000, 100000));
    EXPECT_EQ(Written().size(), 200000u) << "the file has its whole length from the start";
    EXPECT_EQ(plan->Received(), 100000);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0].text,
              "Attempting to connect to 127.0.0.1:" + std::to_string(server.Port()) + "...");
    EXPECT_EQ(reports[0].level, 2);
    EXPECT_TRUE(failures.empty());
}

TEST_F(Workers, CappedRequestsGoOnInOrder) {
    const std::string content = PatternBytes(0, 1200000);
    RangeServer server(content);
    maximum = 500000;
    StartOne(server, 1200000, 0, 1199999);
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_EQ(RangeLines(server),
              (std::vector<std::string>{"Range: bytes=0-499999", "Range: bytes=500000-999999",
                                        "Range: bytes=1000000-1199999"}));
    EXPECT_TRUE(Written() == content);
}

TEST_F(Workers, AnEmptySegmentMakesNoRequest) {
    RangeServer server(PatternBytes(0, 10));
    HttpThread &w = StartOne(server, 10, 10, 9);
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_TRUE(w.Finished);
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(reports.empty());
}

// Each failed attempt is reported with its kind, and the next one asks for what is still
// missing: the bytes a broken connection delivered are the file's own and stay.
TEST_F(Workers, EachKindOfFailedAttemptIsReportedAndTheNextGoesOnFromWhereItBroke) {
    const std::string content = PatternBytes(0, 300000);
    RangeServer server(content);
    const std::vector<RangeFault> faults = {
        {RangeFault::Kind::ResetAfter, 50000, 0, {}},
        {RangeFault::Kind::ShortBody, 70000, 0, {}},
        {RangeFault::Kind::WrongContentRange, 0, 0, {}},
        {RangeFault::Kind::Status, 0, 503, {}},
        {RangeFault::Kind::OtherVersion, 10, 0, {}},
        {RangeFault::Kind::StallAfter, 1000, 0, 5000ms}, // longer than the client's time-out
    };
    server.SetFaults([&](size_t i, const SeenRequest &) {
        return i < faults.size() ? faults[i] : RangeFault{};
    });
    clientTimeOut = 300;
    HttpThread &w = StartOne(server, 300000, 100000, 299999);
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_TRUE(w.Finished);
    EXPECT_EQ(RangeLines(server),
              (std::vector<std::string>{"Range: bytes=100000-299999", "Range: bytes=150000-299999",
                                        "Range: bytes=220000-299999", "Range: bytes=220000-299999",
                                        "Range: bytes=220000-299999", "Range: bytes=220000-299999",
                                        "Range: bytes=221000-299999"}));
    ASSERT_EQ(failures.size(), faults.size());
    const FailureKind kinds[] = {FailureKind::ShortBody, FailureKind::ShortBody,
                                 FailureKind::WrongBody, FailureKind::HttpStatus,
                                 FailureKind::WrongBody, FailureKind::Stalled};
    for (size_t i = 0; i < failures.size(); ++i)
        EXPECT_EQ(failures[i].failure.kind, kinds[i]) << i << ": " << failures[i].failure.text;
    EXPECT_EQ(failures[3].failure.status, 503);
    EXPECT_EQ(failures[3].failure.text, "HTTP 503 Service Unavailable");
    EXPECT_TRUE(failures[0].outcome.counted) << "the only location: every failure counts";
    EXPECT_TRUE(Written().substr(100000) == content.substr(100000));
    EXPECT_EQ(plan->Received(), 200000) << "each byte counted once";
}

TEST_F(Workers, FiveWorkersWithInjectedFaultsWriteTheExactFile) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const int64_t size = 8LL << 20; // the same paths, at a size sanitizers get through quickly
#else
    const int64_t size = 64LL << 20;
#endif
    const std::string content = PatternBytes(0, static_cast<size_t>(size));
    RangeServer server(content);
    std::mt19937 random(20261208);
    const int64_t part = size / 5;
    const auto within = static_cast<uint32_t>(std::min<int64_t>(4000000, part - 1));
    server.SetFaults([&](size_t i, const SeenRequest &) {
        // The first attempts of all workers meet a fault; later ones, now and then.
        switch (i < 5 ? i % 3 : random() % 8) {
        case 0:
            return RangeFault{RangeFault::Kind::ResetAfter, random() % within, 0, {}};
        case 1:
            return RangeFault{RangeFault::Kind::ShortBody, random() % within, 0, {}};
        case 2:
            return RangeFault{RangeFault::Kind::StallAfter, random() % 100000, 0, 5000ms};
        default:
            return RangeFault{};
        }
    });
    clientTimeOut = 1500; // well above a loaded machine's pauses, below the stalls
    StartAll(size, {At(server)}, 5);
    ASSERT_TRUE(PumpUntil([&] { return ended == 5; }, 100s));
    for (auto &w : workers)
        EXPECT_TRUE(w->Finished);
    EXPECT_TRUE(Written() == content);
    EXPECT_EQ(plan->Received(), size);
    EXPECT_GT(server.FaultsInjected(), 0u);
}

TEST_F(Workers, PauseEndsTheAttemptWithoutAnErrorAndResumeGoesOnFromThere) {
    const std::string content = PatternBytes(0, 100000);
    RangeServer server(content);
    server.SetFaults([](size_t i, const SeenRequest &) {
        return i == 0 ? RangeFault{RangeFault::Kind::StallAfter, 1000, 0, 10000ms} : RangeFault{};
    });
    HttpThread &w = StartOne(server, 100000, 0, 99999);
    ASSERT_TRUE(PumpUntil([&] { return plan->Received() == 1000; }));
    w.PauseTransfer();
    PumpUntil([] { return false; }, 300ms);
    EXPECT_EQ(server.Requests().size(), 1u) << "paused: no new attempt";
    EXPECT_TRUE(failures.empty()) << "a pause is no error";
    EXPECT_EQ(plan->Received(), 1000) << "the bytes that came stay";
    w.ResumeTransfer();
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_EQ(RangeLines(server),
              (std::vector<std::string>{"Range: bytes=0-99999", "Range: bytes=1000-99999"}));
    EXPECT_TRUE(Written() == content);
}

TEST_F(Workers, PauseBeforeTheRequestAndDuringTheWaitTakesEffect) {
    RangeServer server(PatternBytes(0, 1000));
    attemptWait = 600ms;
    HttpThread &w = StartOne(server, 1000, 0, 999);
    PumpUntil([] { return false; }, 20ms);
    w.PauseTransfer(); // during the first wait
    PumpUntil([] { return false; }, 800ms);
    EXPECT_TRUE(server.Requests().empty());
    w.ResumeTransfer();
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(Workers, APausedWorkerCanBeDestroyed) {
    RangeServer server(PatternBytes(0, 1000));
    attemptWait = 5000ms;
    HttpThread &w = StartOne(server, 1000, 0, 999);
    w.PauseTransfer();
    PumpUntil([] { return false; }, 50ms);
    auto start = steady_clock::now();
    workers.clear();
    EXPECT_LT(steady_clock::now() - start, 2s);
}

// One connection of five runs far below the others: the idle workers take its remainder, and
// the slow connection ends without a failure. The file does not wait for the slow path.
TEST_F(Workers, ASlowLaneIsTakenOverByTheIdleWorkers) {
    const int64_t size = 20 << 20;
    const std::string content = PatternBytes(0, static_cast<size_t>(size));
    RangeServer server(content);
    server.SetFaults([](size_t i, const SeenRequest &r) {
        // The second range request trickles: 32 KiB every 100 ms, 40 s for its 4 MiB.
        return r.method == "GET" && i == 1
                   ? RangeFault{RangeFault::Kind::Trickle, 32 << 10, 0, 100ms}
                   : RangeFault{};
    });
    const auto start = steady_clock::now();
    StartAll(size, {At(server)}, 5);
    ASSERT_TRUE(PumpUntil([&] { return ended == 5; }, 30s));
    const auto took = steady_clock::now() - start;
    EXPECT_TRUE(Written() == content);
    EXPECT_EQ(plan->Received(), size);
    EXPECT_GE(plan->Takeovers(), 1);
    EXPECT_GT(RangeLines(server).size(), 5u);
    EXPECT_TRUE(failures.empty()) << failures.front().failure.text;
    EXPECT_LT(took, 15s) << "the slow lane alone takes 40 s";
}

// A server that sends a byte now and then (the header too) never lets the time-out of silence
// pass: the attempt stalls once the time-out has brought too few bytes, a failure counted as
// any other, and the next attempt gets the range.
TEST_F(Workers, AnAttemptThatTricklesStallsAfterTheTimeOutAndCounts) {
    const std::string content = PatternBytes(0, 100000);
    RangeServer server(content);
    server.SetFaults([](size_t i, const SeenRequest &) {
        // Its header alone takes 20 s.
        return i == 0 ? RangeFault{RangeFault::Kind::Trickle, 1, 0, 200ms} : RangeFault{};
    });
    clientTimeOut = 1000;
    const auto start = steady_clock::now();
    StartOne(server, 100000, 0, 99999);
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_LT(steady_clock::now() - start, 10s);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].failure.kind, FailureKind::Stalled);
    EXPECT_EQ(failures[0].failure.text, "Only 0 bytes came in 1 s");
    EXPECT_TRUE(failures[0].outcome.counted) << "the only location: it counts";
    EXPECT_TRUE(Written() == content);
}

// One range trickles while the others come fast: the idle workers take it over, and its
// connection ends at once, without a failure, instead of holding its worker (and so the end of
// the download) until the trickle is done.
TEST_F(Workers, AConnectionWhoseRemainderWasTakenEndsAtOnce) {
    const int64_t size = 20 << 20;
    const std::string content = PatternBytes(0, static_cast<size_t>(size));
    RangeServer server(content);
    server.SetFaults([](size_t i, const SeenRequest &r) {
        // A byte every 2 s: its header alone takes minutes.
        return r.method == "GET" && i == 2 ? RangeFault{RangeFault::Kind::Trickle, 1, 0, 2000ms}
                                           : RangeFault{};
    });
    clientTimeOut = 60000;
    const auto start = steady_clock::now();
    StartAll(size, {At(server)}, 5);
    ASSERT_TRUE(PumpUntil([&] { return ended == 5; }, 30s));
    EXPECT_LT(steady_clock::now() - start, 15s);
    EXPECT_TRUE(failures.empty()) << failures.front().failure.text;
    EXPECT_TRUE(Written() == content);
}

// One connection runs far below the others (above the rate of a trickle) while they all still
// run, so that no idle worker can take its remainder: it stalls all the same, after the 10 s
// (here the client's shorter time-out), a failure counted as any other.
TEST_F(Workers, AConnectionFarBelowTheOthersStalls) {
    const int64_t size = 1 << 20;
    const std::string content = PatternBytes(0, static_cast<size_t>(size));
    RangeServer server(content);
    server.SetBodyPace(4 << 10, 125ms); // 32 kB/s: each range takes more than 6 s
    server.SetFaults([](size_t i, const SeenRequest &r) {
        return r.method == "GET" && i == 1 ? RangeFault{RangeFault::Kind::Trickle, 100, 0, 100ms}
                                           : RangeFault{}; // 1 kB/s
    });
    clientTimeOut = 2000;
    StartAll(size, {At(server)}, 5);
    ASSERT_TRUE(PumpUntil([&] { return ended == 5; }, 30s));
    EXPECT_TRUE(Written() == content);
    ASSERT_GE(failures.size(), 1u);
    EXPECT_EQ(failures[0].failure.kind, FailureKind::Stalled);
    EXPECT_EQ(failures[0].failure.text, "Far slower than the other connections for 2 s");
    EXPECT_TRUE(failures[0].outcome.counted) << "the only location: it counts";
}

// Every connection that asks for bytes of one range gets them as a trickle: the takeovers
// pass them from worker to worker, they stall all the same (as the location's failures, not
// counted while another location can serve), and the workers leave the location for the next,
// where the file comes whole.
TEST_F(Workers, ARangeThatTricklesOnEveryConnectionMovesToTheNextLocation) {
    const int64_t size = 10 << 20;
    const std::string content = PatternBytes(0, static_cast<size_t>(size));
    const auto range = TransferPlan::Ranges(size, 5)[3];
    RangeServer slow(content), other(content);
    slow.SetFaults([range](size_t, const SeenRequest &r) {
        int64_t first = -1;
        if (r.method != "GET" ||
            std::sscanf(r.rangeLine.c_str(), "Range: bytes=%" SCNd64, &first) != 1 ||
            first < range.first || first > range.second)
            return RangeFault{};
        return RangeFault{RangeFault::Kind::Trickle, 10, 0, 100ms}; // 100 bytes a second
    });
    clientTimeOut = 2000;
    StartAll(size, {At(slow), At(other)}, 5);
    ASSERT_TRUE(PumpUntil([&] { return ended == 5; }, 60s));
    EXPECT_TRUE(Written() == content);
    ASSERT_GE(failures.size(), 2u) << "two stalls in a row give a location up";
    for (const FailureReport &f : failures) {
        EXPECT_EQ(f.failure.kind, FailureKind::Stalled) << f.failure.text;
        EXPECT_FALSE(f.outcome.counted) << "another location can serve";
    }
    EXPECT_FALSE(other.Requests().empty());
}

// The location that serves the transfer dies in the middle: the workers move to the next
// location that agreed on the size, say so, and the file arrives whole.
TEST_F(Workers, WorkersMoveToTheNextLocationWhenTheirsFails) {
    const int64_t size = 4 << 20;
    const std::string content = PatternBytes(0, static_cast<size_t>(size));
    struct Case {
        const char *name;
        RangeFault fault; // of every attempt on the first location after its first five
    } cases[] = {
        {"refused", {RangeFault::Kind::Refuse, 0, 0, 60000ms}},
        {"forbidden", {RangeFault::Kind::Status, 0, 403, {}}},
        {"unavailable", {RangeFault::Kind::Status, 0, 503, {}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer dying(content), other(content);
        dying.SetFaults([&c](size_t i, const SeenRequest &) {
            // The first five answers break off after 100000 bytes.
            return i < 5 ? RangeFault{RangeFault::Kind::ResetAfter, 100000, 0, {}} : c.fault;
        });
        workers.clear();
        reports.clear();
        failures.clear();
        ended = 0;
        StartAll(size, {At(dying), At(other)}, 5);
        ASSERT_TRUE(PumpUntil([&] { return ended == 5; }, 30s));
        EXPECT_TRUE(Written() == content);
        // Each worker that goes on names the server it moves to (one whose segment an idle
        // worker took over meanwhile has nothing more to ask).
        EXPECT_GE(Count("Using server 127.0.0.1:" + std::to_string(other.Port()) + "."), 1);
        EXPECT_LE(dying.Requests().size(), 10u) << "each worker fails there once at the most";
        for (const FailureReport &f : failures)
            EXPECT_FALSE(f.outcome.counted) << "another location could serve: " << f.failure.text;
        EXPECT_FALSE(other.Requests().empty());
    }
}
