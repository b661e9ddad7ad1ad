#include "engine/Thread.h"

#include "WorkerFixture.h"

#include <algorithm>
#include <random>

using namespace workertest;
using testsupport::PatternBytes;

TEST_F(Workers, OneRequestForTheWholeSegmentAndOnePiece) {
    const std::string content = PatternBytes(0, 200000);
    RangeServer server(content);
    HttpThread &w = Start(server, 50000, 149999);
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_TRUE(w.Finished);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].rangeLine, "Range: bytes=50000-149999");
    EXPECT_NE(server.Requests()[0].request.find("GET /dir/setup.exe HTTP/1.0\r\n"),
              std::string::npos);
    ASSERT_EQ(w.PieceFiles.size(), 1u);
    EXPECT_EQ(Join(w.PieceFiles), content.substr(50000, 100000));
    EXPECT_EQ(BytesReported(), 100000);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0].text, "Attempting to connect to 127.0.0.1:" +
                                   std::to_string(server.Port()) + "...");
    EXPECT_EQ(reports[0].level, 2);
}

TEST_F(Workers, CappedRequestsMakePiecesInOrder) {
    const std::string content = PatternBytes(0, 1200000);
    RangeServer server(content);
    HttpThread &w = Start(server, 0, 1199999, 500000);
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].rangeLine, "Range: bytes=0-499999");
    EXPECT_EQ(requests[1].rangeLine, "Range: bytes=500000-999999");
    EXPECT_EQ(requests[2].rangeLine, "Range: bytes=1000000-1199999");
    ASSERT_EQ(w.PieceFiles.size(), 3u);
    EXPECT_TRUE(Join(w.PieceFiles) == content);
}

TEST_F(Workers, AnEmptySegmentMakesNoRequestAndNoPiece) {
    RangeServer server(PatternBytes(0, 10));
    HttpThread &w = Start(server, 10, 9);
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_TRUE(w.Finished);
    EXPECT_TRUE(w.PieceFiles.empty());
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(Workers, EachKindOfFailedAttemptIsReportedWithdrawnAndRetried) {
    const std::string content = PatternBytes(0, 300000);
    RangeServer server(content);
    const std::vector<RangeFault> faults = {
        {RangeFault::Kind::ResetAfter, 50000, 0, {}},
        {RangeFault::Kind::ShortBody, 70000, 0, {}},
        {RangeFault::Kind::WholeFile, 0, 0, {}},
        {RangeFault::Kind::WrongContentRange, 0, 0, {}},
        {RangeFault::Kind::Status, 0, 503, {}},
        {RangeFault::Kind::StallAfter, 1000, 0, 5000ms}, // longer than the client's time-out
    };
    server.SetFaults([&](size_t i, const SeenRequest &) {
        return i < faults.size() ? faults[i] : RangeFault{};
    });
    clientTimeOut = 300;
    HttpThread &w = Start(server, 100000, 299999);
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_EQ(Count(kRetrying), static_cast<int>(faults.size()));
    EXPECT_EQ(server.Requests().size(), faults.size() + 1);
    for (auto &r : server.Requests())
        EXPECT_EQ(r.rangeLine, "Range: bytes=100000-299999") << "every attempt asks again";
    ASSERT_EQ(w.PieceFiles.size(), 1u);
    EXPECT_TRUE(Join(w.PieceFiles) == content.substr(100000));
    EXPECT_EQ(BytesReported(), 200000) << "failed attempts' bytes are withdrawn";
}

TEST_F(Workers, FiveWorkersWithInjectedFaultsJoinToTheSource) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const int64_t size = 8LL << 20; // the same paths, at a size sanitizers get through quickly
#else
    const int64_t size = 64LL << 20;
#endif
    const std::string content = PatternBytes(0, static_cast<size_t>(size));
    RangeServer server(content);
    std::mt19937 random(20261208);
    const int64_t part = size / 5;
    // Every fault strikes inside a range: a reset or a stall after the last byte would not be
    // a failed attempt, however it was counted.
    const auto within = static_cast<uint32_t>(std::min<int64_t>(4000000, part - 1));
    server.SetFaults([&](size_t i, const SeenRequest &) {
        // The first attempts of all workers meet a fault; later ones, now and then.
        switch (i < 5 ? i % 3 : random() % 8) {
        case 0: return RangeFault{RangeFault::Kind::ResetAfter, random() % within, 0, {}};
        case 1: return RangeFault{RangeFault::Kind::ShortBody, random() % within, 0, {}};
        case 2: return RangeFault{RangeFault::Kind::StallAfter, random() % 100000, 0, 5000ms};
        default: return RangeFault{};
        }
    });
    clientTimeOut = 1500; // well above a loaded machine's pauses, below the stalls
    for (int i = 0; i < 5; ++i)
        Start(server, i * part, i == 4 ? size - 1 : (i + 1) * part - 1);
    ASSERT_TRUE(PumpUntil([&] { return ended == 5; }, 100s));
    std::vector<std::string> all;
    for (auto &w : workers) {
        EXPECT_TRUE(w->Finished);
        all.insert(all.end(), w->PieceFiles.begin(), w->PieceFiles.end());
    }
    EXPECT_TRUE(Join(all) == content) << "pieces joined in worker order are the file";
    EXPECT_EQ(BytesReported(), size);
    EXPECT_GT(server.FaultsInjected(), 0u);
    EXPECT_EQ(Count(kRetrying), static_cast<int>(server.FaultsInjected()));
}

TEST_F(Workers, PauseAbortsWithoutAnErrorAndResumeAsksForTheSameBytes) {
    const std::string content = PatternBytes(0, 100000);
    RangeServer server(content);
    server.SetFaults([](size_t i, const SeenRequest &) {
        return i == 0 ? RangeFault{RangeFault::Kind::StallAfter, 1000, 0, 10000ms} : RangeFault{};
    });
    HttpThread &w = Start(server, 0, 99999);
    ASSERT_TRUE(PumpUntil([&] { return BytesReported() > 0; }));
    w.PauseTransfer();
    ASSERT_TRUE(PumpUntil([&] { return BytesReported() == 0; })) << "the bytes are withdrawn";
    PumpUntil([] { return false; }, 200ms);
    EXPECT_EQ(server.Requests().size(), 1u) << "paused: no new attempt";
    EXPECT_EQ(Count(kRetrying), 0) << "a pause is no error";
    w.ResumeTransfer();
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[1].rangeLine, "Range: bytes=0-99999");
    EXPECT_TRUE(Join(w.PieceFiles) == content);
}

TEST_F(Workers, PauseBeforeTheRequestAndDuringTheWaitTakesEffect) {
    RangeServer server(PatternBytes(0, 1000));
    attemptWait = 5000ms;
    HttpThread &w = Start(server, 0, 999);
    PumpUntil([] { return false; }, 20ms);
    w.PauseTransfer(); // during the first wait
    PumpUntil([] { return false; }, 100ms);
    EXPECT_TRUE(server.Requests().empty());
    w.AttemptWait = 20ms;
    w.ResumeTransfer();
    ASSERT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(Workers, AServerThatIgnoresRangesIsReportedNotSilentlyRetried) {
    RangeServer server(PatternBytes(0, 20000));
    server.SetFaults([](size_t, const SeenRequest &) {
        return RangeFault{RangeFault::Kind::WholeFile, 0, 0, {}};
    });
    attemptWait = 300ms; // a quiet time between attempts, to look at the totals
    HttpThread &w = Start(server, 5000, 9999);
    ASSERT_TRUE(PumpUntil([&] { return Count(kRetrying) >= 3 && BytesReported() == 0; }));
    EXPECT_FALSE(w.Finished);
    // Destroying a worker that would go on for ever ends it at once.
    auto start = steady_clock::now();
    workers.clear();
    EXPECT_LT(steady_clock::now() - start, 2s);
}

TEST_F(Workers, APausedWorkerCanBeDestroyed) {
    RangeServer server(PatternBytes(0, 1000));
    attemptWait = 5000ms;
    HttpThread &w = Start(server, 0, 999);
    w.PauseTransfer();
    PumpUntil([] { return false; }, 50ms);
    auto start = steady_clock::now();
    workers.clear();
    EXPECT_LT(steady_clock::now() - start, 2s);
}
