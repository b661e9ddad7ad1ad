// A pause or a stop at every moment of an attempt, and a server that sends only whole files.
#include "engine/Thread.h"

#include "WorkerFixture.h"
#include "platform/HostLookup.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestSockets.h"

#include <thread>

using namespace workertest;
using testsupport::PatternBytes;

namespace {

// Names resolve to loopback after a delay, so that a lookup is under way for a while.
struct SlowLoopbackNames {
    explicit SlowLoopbackNames(milliseconds delay) {
        platform::SetResolver(
            [delay](const std::string &, std::vector<platform::IpAddress> &addresses) {
                std::this_thread::sleep_for(delay);
                addresses.push_back(platform::Ipv4Address(htonl(INADDR_LOOPBACK)));
                return 0;
            });
    }
    ~SlowLoopbackNames() { platform::SetResolver(nullptr); }
};

bool StartsWith(const std::string &text, const std::string &start) {
    return text.rfind(start, 0) == 0;
}

} // namespace

// The moments a request can be caught at, from the worker's own reports: before the request
// ("Attempting to connect"), before the connection ("Trying to connect...", after the request
// is composed), after the lookup ("Host Resolved"), and during the lookup itself. A pause
// there ends the attempt without a request or an error; Resume then fetches the range.
TEST_F(Workers, APauseAtEveryMomentOfAnAttemptIsKept) {
    SlowLoopbackNames names(150ms);
    clientTimeOut = 60000;
    for (const char *moment : {"Attempting to connect to ", "Trying to connect...",
                               "Host Resolved: ", "during the lookup"}) {
        SCOPED_TRACE(moment);
        reports.clear();
        const std::string content = PatternBytes(0, 5000);
        RangeServer server(content);
        HttpThread *worker = nullptr;
        bool paused = false;
        const bool duringLookup = std::string(moment) == "during the lookup";
        onReport = [&](const Report &r) {
            if (!paused && StartsWith(r.text, duringLookup ? "Trying to connect..." : moment)) {
                paused = true;
                if (duringLookup) // the lookup starts once this report returns
                    platform::NotifyQueue::Current()->PostClosure([&] {
                        std::this_thread::sleep_for(50ms);
                        worker->PauseTransfer();
                    });
                else
                    worker->PauseTransfer();
            }
        };
        workers.clear();
        failures.clear();
        Plan(5000, {At(server, "mirror.test")}, {{0, 4999}});
        worker = &Start(1);
        ASSERT_TRUE(PumpUntil([&] { return paused; }));
        PumpUntil([] { return false; }, 400ms);
        EXPECT_TRUE(server.Requests().empty()) << "no request after the pause";
        EXPECT_TRUE(failures.empty()) << "a pause is no error";
        EXPECT_FALSE(worker->Finished);
        onReport = nullptr;
        worker->ResumeTransfer();
        ASSERT_TRUE(PumpUntil([&] { return worker->Finished.load(); }));
        EXPECT_EQ(server.Requests().size(), 1u);
        EXPECT_EQ(Written(), content);
    }
}

// A stop at those moments ends the worker within a second, with no request.
TEST_F(Workers, AStopAtEveryMomentOfAnAttemptEndsTheWorkerAtOnce) {
    SlowLoopbackNames names(2000ms);
    clientTimeOut = 60000;
    for (const char *moment :
         {"Attempting to connect to ", "Trying to connect...", "during the lookup"}) {
        SCOPED_TRACE(moment);
        reports.clear();
        RangeServer server(PatternBytes(0, 5000));
        HttpThread *worker = nullptr;
        bool asked = false;
        const bool duringLookup = std::string(moment) == "during the lookup";
        onReport = [&](const Report &r) {
            if (!asked && StartsWith(r.text, duringLookup ? "Trying to connect..." : moment)) {
                asked = true;
                if (!duringLookup)
                    worker->RequestStop();
            }
        };
        workers.clear();
        Plan(5000, {At(server, "mirror.test")}, {{0, 4999}});
        worker = &Start(1);
        ASSERT_TRUE(PumpUntil([&] { return asked; }));
        if (duringLookup)
            PumpUntil([] { return false; }, 100ms);
        const auto start = steady_clock::now();
        worker->Stop();
        EXPECT_LT(steady_clock::now() - start, 1s);
        EXPECT_TRUE(server.Requests().empty());
        EXPECT_EQ(plan->Received(), 0);
        onReport = nullptr;
        workers.clear();
    }
}

// Three workers on a server that answers every range with the whole file: the first to get
// such an answer takes it as the whole file from its first byte, the others end quietly,
// nothing is counted twice.
TEST_F(Workers, AServerThatSendsOnlyWholeFilesGivesTheFileInOneStream) {
    const std::string content = PatternBytes(0, 300000);
    RangeServer server(content);
    server.SetFaults([](size_t, const SeenRequest &) {
        return RangeFault{RangeFault::Kind::WholeFile, 0, 0, {}};
    });
    StartAll(300000, {At(server)}, 3);
    ASSERT_TRUE(PumpUntil([&] { return ended == 3; }));
    ASSERT_NE(oneStream, 0);
    EXPECT_TRUE(workers[static_cast<size_t>(oneStream - 1)]->Finished);
    EXPECT_TRUE(Written() == content);
    EXPECT_EQ(plan->Received(), 300000) << "each byte counted once";
    EXPECT_TRUE(failures.empty());
    for (auto &w : workers)
        EXPECT_TRUE(w->WorkerIndex == oneStream || !w->Finished)
            << "only the stream finishes its segment";
}
