#include "engine/HTTP.h"

#include "engine/HttpDate.h"
#include "platform/HostLookup.h"
#include "platform/ProcessInfo.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace std::chrono_literals;
using engine::ComposeRange;
using engine::eHTTP;
using engine::NoByteChange;
using testsupport::Action;
using testsupport::PatternBytes;
using testsupport::ReadFile;
using testsupport::RangeFault;
using testsupport::RangeServer;
using testsupport::ScriptedServer;

namespace {

struct Report {
    int64_t bytes;
    std::string text;
    int level;
};

// An eHTTP set up as a worker sets it up, writing into a file of the test's own and recording
// its reports.
struct RangeClient {
    eHTTP http;
    std::vector<Report> reports;
    const std::string dir = ::testing::TempDir() + "ehttp_" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                            "/";
    const int64_t start;
    engine::TransferPlan plan;
    engine::FileSink sink;
    std::unique_ptr<engine::SegmentStream> stream;

    RangeClient(int64_t first, int64_t last, int64_t maximum = -1)
        : start(first), plan(last + 1, {engine::Location{"server", "", 0}}, {{first, last}}) {
        std::filesystem::create_directories(dir);
        EXPECT_FALSE(sink.Open(dir, last + 1).has_value());
        plan.AttemptStarted(0);
        stream = std::make_unique<engine::SegmentStream>(plan, 0, sink, first);
        http.Target = stream.get();
        http.InstallHandlers();
        http.RangeStart = first;
        http.RangeEnd = last;
        http.MaximumRequestLength = maximum;
        http.OnReport = [this](platform::TObject *, int64_t b, const std::string &t, int32_t l) {
            reports.push_back({b, t, l});
        };
    }
    ~RangeClient() {
        sink.Discard();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    bool Fetch(uint16_t port, const std::string &path = "/dir/setup.exe") {
        return http.DownloadRange("http://127.0.0.1:" + std::to_string(port) + path, "setup.exe",
                                  "", 0);
    }
    int64_t BytesReported() const {
        int64_t sum = 0;
        for (auto &r : reports)
            if (r.bytes != NoByteChange)
                sum += r.bytes;
        return sum;
    }
    bool Saw(const std::string &text, int level) const {
        for (auto &r : reports)
            if (r.text == text && r.level == level)
                return true;
        return false;
    }
    // The bytes written, from the range's first one (closed first: on Windows an open working
    // file cannot be read by others).
    std::string Content() {
        sink.Close();
        return ReadFile(sink.Path()).substr(static_cast<size_t>(start),
                                            static_cast<size_t>(stream->Written()));
    }
};

} // namespace

TEST(RangeHeader, BoundsCapsAndExpectedLength) {
    struct Row {
        int64_t s, e, m;
        const char *header;
        int64_t expected;
    } rows[] = {
        {0, 99, -1, "Range: bytes=0-99", 100},
        {1000, 5000, 500000, "Range: bytes=1000-5000", 4001},
        {0, 1999999, 500000, "Range: bytes=0-499999", 500000},
        {200, -1, 100, "Range: bytes=200-299", 100},
        {5000000000LL, 9000000000LL, -1, "Range: bytes=5000000000-9000000000", 4000000001LL},
        {-1, 99, -1, "Range: bytes=0-99", 100}, // from the first byte, not the last 99
        {-1, -1, 100, "", 7}, // no bounds: no line, the length kept
    };
    for (const auto &r : rows) {
        auto got = ComposeRange(r.s, r.e, r.m, 7);
        EXPECT_EQ(got.range.first < 0 ? "" : "Range: " + net::RangeValue(got.range), r.header);
        EXPECT_EQ(got.expected, r.expected) << r.header;
    }
}

TEST(DownloadRange, SendsTheRangeAsTheLastHeaderLineAndAgainAfterARedirect) {
    ScriptedServer server;
    server.Expect({Action::ReadRequest(),
                   Action::Send("HTTP/1.0 302 Found\r\nLocation: /moved/setup.exe\r\n\r\n"),
                   Action::Close()});
    server.Expect({Action::ReadRequest(),
                   Action::Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes "
                                "0-9/10\r\n\r\n0123456789"),
                   Action::Close()});
    RangeClient c(0, 9);
    EXPECT_TRUE(c.Fetch(server.Port()));
    const std::string tail = "Content-type: application/x-www-form-urlencoded\r\n"
                             "Range: bytes=0-9\r\n\r\n";
    for (size_t i = 0; i < 2; ++i) {
        std::string got = server.Received(i);
        ASSERT_GE(got.size(), tail.size());
        EXPECT_EQ(got.substr(got.size() - tail.size()), tail) << "request " << i;
    }
    EXPECT_NE(server.Received(0).find("User-Agent: Mozilla/4.0 (compatible; MSIE 7.0;"),
              std::string::npos);
    EXPECT_TRUE(c.Saw("Redirect", 3));
}

TEST(DownloadRange, ACorrectPartialAnswerSucceedsWithItsReports) {
    const std::string content = PatternBytes(0, 300000);
    RangeServer server(content);
    RangeClient c(100000, 199999);
    ASSERT_TRUE(c.Fetch(server.Port()));
    EXPECT_EQ(c.Content(), content.substr(100000, 100000));
    EXPECT_EQ(c.http.ExpectedLength, 100000);
    EXPECT_EQ(c.BytesReported(), 100000);
    EXPECT_EQ(c.reports.front().text, "Trying to connect...");
    EXPECT_TRUE(c.Saw("Downloading setup.exe from 127.0.0.1.", 1));
    EXPECT_TRUE(c.Saw("Success", 3));
    EXPECT_TRUE(c.Saw("Disconnected: 127.0.0.1", 3));
    EXPECT_TRUE(c.Saw("Status: Request Close Socket", 3));
    for (auto &r : c.reports)
        EXPECT_TRUE(r.text.empty() ? r.level == 0 : r.bytes == NoByteChange) << r.text;
}

TEST(DownloadRange, WrongAnswersFail) {
    const std::string content = PatternBytes(0, 50000);
    using engine::FailureKind;
    struct Case {
        const char *name;
        RangeFault fault;
        FailureKind kind;
        int64_t written; // what the answer may write before it is found wrong
    } cases[] = {
        {"whole file for a part",
         {RangeFault::Kind::WholeFile, 0, 0, {}},
         FailureKind::WrongBody,
         0},
        {"Content-Range off by one",
         {RangeFault::Kind::WrongContentRange, 0, 0, {}},
         FailureKind::WrongBody,
         0},
        {"short body", {RangeFault::Kind::ShortBody, 100, 0, {}}, FailureKind::ShortBody, 100},
        {"error status", {RangeFault::Kind::Status, 0, 503, {}}, FailureKind::HttpStatus, 0},
        {"an error page as long as the range",
         {RangeFault::Kind::Status, 1000, 503, {}},
         FailureKind::HttpStatus,
         0},
        {"the range of another version of the file",
         {RangeFault::Kind::OtherVersion, 10, 0, {}},
         FailureKind::WrongBody,
         0},
        {"a coded answer with the right Content-Range",
         {RangeFault::Kind::Coded, 0, 0, {}},
         FailureKind::WrongBody,
         0},
        {"the file's first bytes without a Content-Range",
         {RangeFault::Kind::NoContentRange, 0, 0, {}},
         FailureKind::WrongBody,
         0},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        RangeServer server(content);
        server.SetFaults([&](size_t, const testsupport::SeenRequest &) { return k.fault; });
        RangeClient c(1000, 1999);
        c.http.CompleteLength = 50000;
        EXPECT_FALSE(c.Fetch(server.Port()));
        EXPECT_EQ(c.http.AnswerFailure().kind, k.kind) << c.http.AnswerFailure().text;
        EXPECT_EQ(c.stream->Written(), k.written) << "an answer found wrong writes nothing";
        EXPECT_TRUE(c.http.BodyTrusted());
    }
}

// Only an answer that says it holds the range's own bytes as they are is written: a 206 names
// them in its Content-Range, and no coding changes them.
TEST(DownloadRange, APartialAnswerIsTakenOnlyForTheBytesItNamesUncoded) {
    const std::string range = PatternBytes(1000, 1000);
    const std::string partial = "HTTP/1.1 206 Partial Content\r\n";
    struct Case {
        const char *name;
        std::string answer;
        bool right;
    } cases[] = {
        {"right", partial + "Content-Range: bytes 1000-1999/50000\r\n\r\n" + range, true},
        {"coded as identity",
         partial + "Content-Encoding: Identity\r\nContent-Range: bytes 1000-1999/50000\r\n\r\n" +
             range,
         true},
        {"its first part, said so",
         partial + "Content-Range: bytes 1000-1499/50000\r\n\r\n" + range.substr(0, 500), true},
        {"chunked",
         partial + "Transfer-Encoding: chunked\r\nContent-Range: bytes 1000-1999/50000\r\n\r\n" +
             "3e8\r\n" + range + "\r\n0\r\n\r\n",
         false},
        {"a length other than its range's",
         partial + "Content-Length: 999\r\nContent-Range: bytes 1000-1999/50000\r\n\r\n" +
             range.substr(0, 999),
         false},
        {"more than was asked", partial + "Content-Range: bytes 1000-2000/50000\r\n\r\n" + range,
         false},
        {"a Content-Range that cannot be read",
         partial + "Content-Range: 1000-1999\r\n\r\n" + range, false},
        {"the whole file, gzip-coded",
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 1000\r\n\r\n" + range,
         false},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        ScriptedServer server;
        server.Expect({Action::ReadRequest(), Action::Send(k.answer), Action::Close()});
        RangeClient c(1000, 1999);
        c.http.CompleteLength = 50000;
        EXPECT_EQ(c.Fetch(server.Port()), k.right) << c.http.AnswerFailure().text;
        if (k.right) {
            EXPECT_EQ(c.Content(), range.substr(0, static_cast<size_t>(c.http.ExpectedLength)));
            continue;
        }
        EXPECT_EQ(c.http.AnswerFailure().kind, engine::FailureKind::WrongBody);
        EXPECT_EQ(c.stream->Written(), 0) << "nothing of it reaches the file";
    }
}

// The From line names the program, not the folder it runs from (which usually names the
// user's account); the size request's too.
TEST(DownloadRange, TheFromLineCarriesTheProgramsFileNameOnly) {
    const std::string path = platform::ProgramPath();
    const std::string name =
        path.substr(path.find_last_of(std::string("/") + platform::PathSeparator()) + 1);
    ASSERT_FALSE(name.empty());
    ScriptedServer server;
    server.SetDefault({Action::ReadRequest(),
                       Action::Send("HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx"),
                       Action::Close()});
    RangeClient c(0, 0);
    c.Fetch(server.Port());
    double modified = 0;
    int64_t size = 0;
    engine::FetchFileInfo("http://127.0.0.1:" + std::to_string(server.Port()) + "/f", "", 0,
                          modified, size);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_NE(server.Received(i).find("\r\nFrom: " + name + "\r\n"), std::string::npos)
            << server.Received(i);
        EXPECT_EQ(server.Received(i).find(path), std::string::npos);
    }
}

// Bytes after the Content-Length are no part of the answer (on a connection kept open they
// would begin the next one): the range is complete without them.
TEST(DownloadRange, BytesAfterTheLengthAreNotPartOfTheRange) {
    const std::string content = PatternBytes(0, 50000);
    RangeServer server(content);
    server.SetFaults([](size_t, const testsupport::SeenRequest &) {
        return RangeFault{RangeFault::Kind::LongBody, 5000, 0, {}};
    });
    RangeClient c(1000, 1999);
    c.http.CompleteLength = 50000;
    EXPECT_TRUE(c.Fetch(server.Port()));
    EXPECT_EQ(c.Content(), content.substr(1000, 1000));
}

TEST(DownloadRange, TheCompleteLengthIsCheckedOnlyWhenBothSidesGiveIt) {
    const std::string range = PatternBytes(1000, 1000);
    for (const char *complete : {"50000", "*"}) {
        SCOPED_TRACE(complete);
        ScriptedServer server;
        server.Expect({Action::ReadRequest(),
                       Action::Send(std::string("HTTP/1.1 206 Partial Content\r\nContent-Range: "
                                                "bytes 1000-1999/") +
                                    complete + "\r\n\r\n" + range),
                       Action::Close()});
        RangeClient c(1000, 1999);
        c.http.CompleteLength = 50000;
        EXPECT_TRUE(c.Fetch(server.Port()));
    }
    RangeServer other(PatternBytes(0, 50000));
    other.SetFaults([](size_t, const testsupport::SeenRequest &) {
        return RangeFault{RangeFault::Kind::OtherVersion, 10, 0, {}};
    });
    RangeClient unknown(1000, 1999); // a client not told the file's size takes it
    EXPECT_TRUE(unknown.Fetch(other.Port()));
}

TEST(DownloadRange, AWholeFileAnswerIsRightWhenTheRangeIsTheWholeFile) {
    const std::string content = PatternBytes(0, 5000);
    RangeServer server(content);
    server.SetFaults([](size_t, const testsupport::SeenRequest &) {
        return RangeFault{RangeFault::Kind::WholeFile, 0, 0, {}};
    });
    RangeClient c(0, 4999);
    EXPECT_TRUE(c.Fetch(server.Port()));
    EXPECT_EQ(c.Content(), content);
}

TEST(DownloadRange, ASmallBodyThatCameWithTheHeaderIsReported) {
    ScriptedServer server;
    server.Expect(
        {Action::ReadRequest(),
         Action::Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 0-2/3\r\n\r\nabc"),
         Action::Stall()});
    // The server keeps the connection open; closing it from here ends the capture.
    RangeClient c(0, 2);
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        server.Stop();
    });
    EXPECT_TRUE(c.Fetch(server.Port()));
    closer.join();
    EXPECT_EQ(c.BytesReported(), 3);
}

TEST(DownloadRange, ABodyThatGoesOnPastTheRangeEndsTheAttemptAtOnce) {
    // The 100 bytes asked for, then tens of megabytes more on a connection that stays open:
    // the attempt ends as soon as the body is longer than the range, and little is written.
    ScriptedServer server;
    server.Expect(
        {Action::ReadRequest(),
         Action::Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 0-99/*\r\n\r\n" +
                      PatternBytes(0, 100)),
         Action::Delay(std::chrono::milliseconds(50)),
         Action::Send(PatternBytes(100, 32u << 20), 64u << 10, std::chrono::milliseconds(1)),
         Action::Stall()});
    RangeClient c(0, 99);
    c.http.TimeOut = 20000;
    const auto start = std::chrono::steady_clock::now();
    bool ok = true;
    try {
        ok = c.Fetch(server.Port());
    } catch (const net::ESockError &) {
        ok = false;
    }
    EXPECT_FALSE(ok);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_LT(c.Content().size(), 1u << 20) << "the rest of the body was not written";
    EXPECT_FALSE(c.http.BodyTrusted()) << "what it wrote is fetched again";
}

TEST(FetchFileInfo, SizeAndDateOfAGoodAnswer) {
    RangeServer server(PatternBytes(0, 123457), "Sun, 06 Nov 1994 08:49:37 GMT");
    double modified = -1;
    int64_t size = 0;
    EXPECT_TRUE(engine::FetchFileInfo("http://127.0.0.1:" + std::to_string(server.Port()) + "/f",
                                      "", 0, modified, size));
    EXPECT_EQ(size, 123457);
    EXPECT_NEAR(modified, 34644 + (8 * 3600 + 49 * 60 + 37) / 86400.0, 1e-6);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].method, "HEAD");
}

TEST(FetchFileInfo, NoSizeFromErrorsMissingLengthsOrNoAnswer) {
    double modified = 0;
    int64_t size = 0;
    {
        RangeServer server(PatternBytes(0, 100));
        server.SetFaults([](size_t, const testsupport::SeenRequest &) {
            return RangeFault{RangeFault::Kind::Status, 0, 404, {}};
        });
        EXPECT_FALSE(engine::FetchFileInfo(
            "http://127.0.0.1:" + std::to_string(server.Port()) + "/f", "", 0, modified, size));
        EXPECT_EQ(size, -1) << "an error page's length is no file size";
    }
    uint16_t closed;
    {
        ScriptedServer gone;
        closed = gone.Port();
    }
    EXPECT_FALSE(engine::FetchFileInfo("http://127.0.0.1:" + std::to_string(closed) + "/f", "",
                                       0, modified, size));
    EXPECT_EQ(size, -1);
}

// A location that refuses HEAD or answers it without a length is asked for one byte; its size
// then comes from the complete length (or a 200's length), and the body is never read.
TEST(FetchFileInfo, HeadRefusedOrWithoutLengthIsAskedForOneByte) {
    struct Case {
        const char *name;
        std::string head;  // the answer to HEAD
        std::string probe; // the answer to the GET of one byte; empty: none expected
        int64_t size;
        std::string failure;
    } cases[] = {
        {"405, then 206", "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-0/123456\r\n"
         "Content-Length: 1\r\n\r\nx",
         123456, ""},
        {"403, then 200 with the whole file", "HTTP/1.1 403 Forbidden\r\n\r\n",
         "HTTP/1.0 200 OK\r\nContent-Length: 5000000\r\n\r\nxxxx", 5000000, ""},
        {"200 without a length, then 206", "HTTP/1.0 200 OK\r\n\r\n",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-0/77\r\n\r\nx", 77, ""},
        {"501, then 416 of an empty file", "HTTP/1.0 501 Not Implemented\r\n\r\n",
         "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */0\r\n\r\n", 0, ""},
        {"an empty file", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", 0, ""},
        {"404 is final", "HTTP/1.1 404 Not Found\r\n\r\n", "", -1, "HTTP 404 Not Found"},
        {"410 is final", "HTTP/1.1 410 Gone\r\n\r\n", "", -1, "HTTP 410 Gone"},
        {"405, then 403", "HTTP/1.1 405 Method Not Allowed\r\n\r\n",
         "HTTP/1.1 403 Forbidden\r\n\r\n", -1, "HTTP 403 Forbidden"},
        {"200 without a length, twice", "HTTP/1.0 200 OK\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n", -1,
         "The server tells no file size"},
        // A coded answer's lengths are the coding's, not the file's.
        {"a coded HEAD answer, then 206",
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 40\r\n\r\n",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-0/123\r\n\r\nx", 123, ""},
        {"coded answers only",
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 40\r\n\r\n",
         "HTTP/1.1 206 Partial Content\r\nContent-Encoding: gzip\r\n"
         "Content-Range: bytes 0-0/40\r\n\r\nx",
         -1, "The server sends the file coded (gzip): its size is unknown"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        ScriptedServer server;
        // Each answer is followed by a connection kept open, as a server that keeps it alive.
        server.Expect({Action::ReadRequest(), Action::Send(k.head), Action::Delay(10s),
                       Action::Close()});
        if (!k.probe.empty())
            server.Expect({Action::ReadRequest(), Action::Send(k.probe), Action::Delay(10s),
                           Action::Close()});
        double modified = 0;
        int64_t size = -2;
        engine::Failure failure;
        const auto start = std::chrono::steady_clock::now();
        const bool answered =
            engine::FetchFileInfo("http://127.0.0.1:" + std::to_string(server.Port()) + "/f", "",
                                  0, modified, size, nullptr, &failure);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_EQ(answered, k.size >= 0);
        EXPECT_EQ(size, k.size);
        EXPECT_EQ(failure.text, k.failure);
        EXPECT_EQ(server.Accepted(), k.probe.empty() ? 1u : 2u);
        if (!k.probe.empty()) {
            EXPECT_EQ(server.Received(1).rfind("GET /f HTTP/1.0\r\n", 0), 0u);
            EXPECT_NE(server.Received(1).find("\r\nRange: bytes=0-0\r\n\r\n"),
                      std::string::npos);
        }
    }
}

// A server that sends its answer a byte now and then never lets the time-out of silence end
// the size request: the bound does, in the HEAD request and in the one-byte request after it.
TEST(FetchFileInfo, AnAnswerThatTricklesEndsAtTheBound) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
    const std::string probe =
        "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-0/10\r\n\r\nx";
    struct Case {
        const char *name;
        std::vector<testsupport::Script> answers;
    } cases[] = {
        {"HEAD", {{Action::ReadRequest(), Action::Send(head, 1, 200ms), Action::Close()}}},
        {"the one byte after HEAD",
         {{Action::ReadRequest(), Action::Send("HTTP/1.0 200 OK\r\n\r\n"), Action::Close()},
          {Action::ReadRequest(), Action::Send(probe, 1, 200ms), Action::Close()}}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        ScriptedServer server;
        for (const testsupport::Script &answer : k.answers)
            server.Expect(answer);
        double modified = 0;
        int64_t size = 0;
        engine::Failure failure;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(
            engine::FetchFileInfo("http://127.0.0.1:" + std::to_string(server.Port()) + "/f", "", 0,
                                  modified, size, nullptr, &failure, {}, 1500ms));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, 1400ms);
        EXPECT_LT(took, 6s) << "the answer alone takes 8 s or more";
        EXPECT_EQ(size, -1);
        EXPECT_EQ(failure.kind, engine::FailureKind::TimedOut);
        EXPECT_EQ(failure.text, "No answer within 2 s");
        EXPECT_EQ(server.Accepted(), k.answers.size());
    }
}

TEST(FetchFileInfo, TheFailureSaysWhy) {
    uint16_t closed;
    {
        ScriptedServer gone;
        closed = gone.Port();
    }
    double modified = 0;
    int64_t size = 0;
    engine::Failure failure;
    EXPECT_FALSE(engine::FetchFileInfo("http://127.0.0.1:" + std::to_string(closed) + "/f", "", 0,
                                       modified, size, nullptr, &failure));
    EXPECT_EQ(failure.text, "Connection refused");
    EXPECT_EQ(failure.kind, engine::FailureKind::Refused);
    platform::SetResolver(
        [](const std::string &, std::vector<platform::IpAddress> &) { return 11001; });
    EXPECT_FALSE(engine::FetchFileInfo("http://nowhere.invalid/f", "", 0, modified, size, nullptr,
                                       &failure));
    platform::SetResolver(nullptr);
    EXPECT_EQ(failure.text, "Host not found");
    EXPECT_EQ(failure.kind, engine::FailureKind::HostNotFound);
    // A server that resets each connection it takes: the connect's would-block is no reason.
    ScriptedServer resetting;
    resetting.SetDefault({Action::Reset()});
    EXPECT_FALSE(
        engine::FetchFileInfo("http://127.0.0.1:" + std::to_string(resetting.Port()) + "/f", "", 0,
                              modified, size, nullptr, &failure));
    EXPECT_EQ(failure.kind, engine::FailureKind::Reset);
    EXPECT_EQ(failure.text, "Connection closed");
}

TEST(HttpDate, TheThreeFormatsAndNonsense) {
    double rfc1123 = engine::ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_NEAR(rfc1123, 34644.367789, 1e-6);
    EXPECT_EQ(engine::ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), rfc1123);
    EXPECT_EQ(engine::ParseHttpDate("Sun Nov  6 08:49:37 1994"), rfc1123);
    EXPECT_NEAR(engine::ParseHttpDate("Thu, 01 Jan 1970 00:00:00 GMT"), 25569, 1e-9);
    for (const char *bad : {"", "yesterday", "Sun, 31 Feb 1994 08:49:37 GMT",
                            "Sun, 06 Nov 1994 25:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 CET",
                            "Sun, 06 Nov 1994 08:49:37 GMT trailing"})
        EXPECT_EQ(engine::ParseHttpDate(bad), 0) << bad;
}

TEST(HeaderValue, TheValueOfTheFirstLineOfTheNameWithoutItsBlanks) {
    const net::ResponseHead block =
        net::ParseResponseHead("HTTP/1.1 206 Partial Content\r\ncontent-RANGE: \t bytes 0-9/10 \t\r\n"
                               "Content-Range: bytes 5-9/10\r\nX-Blank: \t \r \r\n\r\n")
            .head;
    EXPECT_EQ(block.Value("Content-Range"), "bytes 0-9/10");
    EXPECT_EQ(block.Value("Last-Modified"), "");
    // Blanks and carriage returns alone (a fuzzer's find) are no value, not blanks.
    EXPECT_EQ(block.Value("X-Blank"), "");
}

namespace {

// Answers a proxy's handshake with fixed tokens.
class FixedHandshake final : public net::ProxyHandshake {
  public:
    bool Next(const std::string &proxyToken, std::string &clientToken) override {
        clientToken = proxyToken.empty() ? "hello" : "reply";
        return true;
    }
};

} // namespace

// Through a proxy that authenticates the connection, the range comes after the handshake on
// the same connection, and neither the proxy's refusals nor a redirect's body (longer than the
// range) is taken for the range.
TEST(DownloadRange, TheRangeArrivesExactAfterAProxysHandshakeAndARedirectsLongBody) {
    ScriptedServer proxy;
    const std::string page(4000, 'x'); // a refusal page, and a redirect's, longer than the range
    auto refusal = [&](const std::string &challenge) {
        return "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: " + challenge +
               "\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page;
    };
    proxy.Expect({Action::ReadRequest(), Action::Send(refusal("NTLM")), Action::ReadRequest(),
                  Action::Send(refusal("NTLM Y2hhbGxlbmdl")), Action::ReadRequest(),
                  Action::Send("HTTP/1.0 302 Found\r\nLocation: /moved/setup.exe\r\n"
                               "Content-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page),
                  Action::Close()});
    proxy.Expect({Action::ReadRequest(), Action::Send(refusal("NTLM")), Action::ReadRequest(),
                  Action::Send(refusal("NTLM Y2hhbGxlbmdl")), Action::ReadRequest(),
                  Action::Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes "
                               "10-19/30\r\nContent-Length: 10\r\n\r\n0123456789"),
                  Action::Close()});
    RangeClient c(10, 19);
    c.http.CompleteLength = 30;
    c.http.StartProxyHandshake = [](const std::string &, const std::string &) {
        return std::make_unique<FixedHandshake>();
    };
    EXPECT_TRUE(c.http.DownloadRange("http://server/dir/setup.exe", "setup.exe", "127.0.0.1",
                                     proxy.Port()));
    EXPECT_EQ(c.Content(), "0123456789");
    EXPECT_EQ(proxy.Accepted(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const std::string got = proxy.Received(i);
        EXPECT_NE(got.find("Proxy-Authorization: NTLM cmVwbHk=\r\n"), std::string::npos) << i;
        EXPECT_NE(got.find("Range: bytes=10-19\r\n"), std::string::npos) << i;
    }

    // Refused at the end: the attempt fails as the proxy's, with its challenge.
    ScriptedServer refusing;
    refusing.SetDefault({Action::ReadRequest(), Action::Send(refusal("NTLM, Basic realm=\"corp\"")),
                         Action::ReadRequest(), Action::Send(refusal("NTLM")), Action::Close()});
    RangeClient r(0, 9);
    r.http.StartProxyHandshake = c.http.StartProxyHandshake;
    EXPECT_FALSE(r.http.DownloadRange("http://server/dir/setup.exe", "setup.exe", "127.0.0.1",
                                      refusing.Port()));
    EXPECT_EQ(r.http.AnswerFailure().kind, engine::FailureKind::ProxyAuth);
    EXPECT_EQ(r.http.AnswerFailure().challenge, "NTLM");
    EXPECT_EQ(r.stream->Written(), 0);
}
