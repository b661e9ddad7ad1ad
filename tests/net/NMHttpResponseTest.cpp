#include "net/NMHttp.h"

#include "HttpFixture.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <thread>

using namespace httptest;
using net::EAbortError;
using net::ESockError;

// The body ends at its length, whether or not the server closes then (a proxy asked for
// Keep-Alive keeps the connection open); the client closes its side.
TEST(NMHttpResponse, SuccessFillsHeaderBodyAndSizeAndTheBodyEndsAtItsLength) {
    ScriptedServer server;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nServer: t\r\n\r\n";
    server.Expect({Action::ReadRequest(), Action::Send(head + "01234"), Action::Delay(50ms),
                   Action::Send("56789extra"), Action::Delay(10s), Action::Close()});
    LoggedClient c;
    c.http.ReportLevel = 2;
    const auto start = std::chrono::steady_clock::now();
    c.http.Get(LocalUrl(server, "/f"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "not held until the close";
    EXPECT_EQ(c.http.ReplyNumber, 200);
    EXPECT_EQ(c.http.TransferSize, 10);
    EXPECT_EQ(c.http.ContentLength, 10);
    EXPECT_EQ(c.http.Header, head);
    EXPECT_EQ(c.http.Body, "0123456789") << "nothing after the length";
    std::vector<std::string> expected = {"AboutToSend", "Connect",   "PacketRecvd",
                                         "Success:0",   "Status:Transaction Completed",
                                         "Disconnect"};
    EXPECT_EQ(c.events, expected);
}

// Into a file too, with the bytes that came with the header counted; a HEAD answer and a 204
// end after the header block, and a coded body or two lengths that disagree are read to
// the close.
TEST(NMHttpResponse, EveryCaptureKindEndsWhereItsBodyEnds) {
    const std::string file = ::testing::TempDir() + "nmhttp_keepalive.bin";
    struct Case {
        const char *name;
        std::string response; // then the server keeps the connection open
        bool head, toFile, serverCloses;
        std::string body;
    } cases[] = {
        {"length, to a file", "HTTP/1.0 206 Partial\r\nContent-Length: 6\r\n\r\nabcdefXYZ",
         false, true, false, "abcdef"},
        {"length 0", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", false, false, false, ""},
        {"HEAD", "HTTP/1.0 200 OK\r\nContent-Length: 99\r\n\r\n", true, false, false, ""},
        {"204", "HTTP/1.0 204 No Content\r\n\r\n", false, true, false, ""},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 2\r\n\r\n"
                    "4\r\nabcd\r\n0\r\n\r\n",
         false, false, true, "4\r\nabcd\r\n0\r\n\r\n"},
        {"two lengths", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nxyz",
         false, false, true, "xyz"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        ScriptedServer server;
        server.Expect({Action::ReadRequest(), Action::Send(k.response),
                       Action::Delay(k.serverCloses ? 100ms : 10s), Action::Close()});
        net::TNMHTTP h;
        h.InputFileMode = k.toFile;
        h.Body = k.toFile ? file : "";
        const auto start = std::chrono::steady_clock::now();
        EXPECT_NO_THROW(k.head ? h.Head(LocalUrl(server, "/f")) : h.Get(LocalUrl(server, "/f")));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        if (k.toFile) {
            EXPECT_EQ(testsupport::ReadFile(file), k.body);
            EXPECT_EQ(h.ReceiveProgress, static_cast<int64_t>(k.body.size()));
        } else {
            EXPECT_EQ(h.Body, k.body);
        }
    }
    std::remove(file.c_str());
}

TEST(NMHttpResponse, HeaderNamesAndContentLengthSpacing) {
    struct Case {
        const char *line;
        int64_t size;
    } cases[] = {
        {"Content-Length: 42", 42},
        {"Content-Length:  42", 42},
        {"content-length: 42", 42},
        // One rule for every reader of the length: digits only, blanks around them allowed.
        {"CONTENT-LENGTH: x42y", 0},
        {"Content-Length:42", 42},
        {"Content-Length: none", 0},
        {"Content-Length: 5000000000", 5000000000LL},
        {"Content-Length: 99999999999999999999", 0}, // too large for 64 bits
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.line);
        ScriptedServer server;
        server.Expect(Answer(Response("HTTP/1.0 200 OK", std::string(k.line) + "\r\n", "body")));
        net::TNMHTTP h;
        h.Get(LocalUrl(server, "/"));
        EXPECT_EQ(h.TransferSize, k.size);
        EXPECT_EQ(h.Body, "body") << "the body is read to the close whatever the length says";
    }
}

// A status line that is not HTTP's ends the request with an error that says so: it is never
// taken for a success.
TEST(NMHttpResponse, StatusLineVariants) {
    struct Case {
        const char *status;
        int number;
        const char *error; // "": none
    } cases[] = {{"HTTP/1.0 200", 200, ""},
                 {"HTTP/1.0 204 No Content", 204, ""},
                 {"HTTP/1.0 OK", 0, "The server's answer has no valid status number"},
                 {"HTTP/1.0 99999 Big", 0, "The server's answer has no valid status number"},
                 {"garbage", 0, "The server's answer is not HTTP"}};
    for (const auto &k : cases) {
        SCOPED_TRACE(k.status);
        ScriptedServer server;
        server.Expect(Answer(Response(k.status, "", "")));
        LoggedClient c;
        EXPECT_EQ(ErrorOf<ESockError>([&] { c.http.Get(LocalUrl(server, "/")); }), k.error);
        EXPECT_EQ(c.http.ReplyNumber, k.number);
        EXPECT_EQ(c.Count("Success:0"), *k.error ? 0 : 1);
    }
}

TEST(NMHttpResponse, FailureStatusFiresOnFailureAndRaisesNothing) {
    ScriptedServer server;
    server.Expect(Answer(Response("HTTP/1.0 404 Not Found", "", "<h1>gone</h1>")));
    LoggedClient c;
    c.http.Head(LocalUrl(server, "/missing"));
    EXPECT_EQ(c.http.ReplyNumber, 404);
    EXPECT_EQ(c.http.Body, "") << "an answer to HEAD has no body, whatever follows it";
    EXPECT_EQ(c.Count("Failure:0"), 1) << "reported as cmdGet after sending";
    EXPECT_EQ(c.Count("Redirect"), 0);
}

TEST(NMHttpResponse, UnauthorizedAsksForAuthenticationAfterTheClose) {
    ScriptedServer server;
    server.Expect(Answer(Response("HTTP/1.0 401 Unauthorized", "", "")));
    LoggedClient c;
    c.http.Get(LocalUrl(server, "/secret"));
    std::vector<std::string> tail(c.events.end() - 3, c.events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Failure:0", "Disconnect", "AuthenticationNeeded"}));
    EXPECT_EQ(server.Accepted(), 1u);
}

TEST(NMHttpResponse, BodyIntoAFileCountsBufferedAndLaterBytes) {
    ScriptedServer server;
    server.Expect({Action::ReadRequest(), Action::Send("HTTP/1.0 200 OK\r\n\r\nfirst"),
                   Action::Delay(50ms), Action::Send("-second"), Action::Close()});
    net::TNMHTTP h;
    h.InputFileMode = true;
    h.Body = ::testing::TempDir() + "nmhttp_body.bin";
    h.Get(LocalUrl(server, "/"));
    std::ifstream in(h.Body, std::ios::binary);
    std::string got((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(got, "first-second");
    EXPECT_EQ(h.ReceiveProgress, 12);
    std::remove(h.Body.c_str());
}

TEST(NMHttpRedirect, AbsoluteLocationOnAnotherHostIsFetchedWithAGet) {
    AnyNameIsLoopback names;
    ScriptedServer first, second;
    first.Expect(Answer(Response("HTTP/1.0 302 Found",
                                 "Location: " + LocalUrl(second, "/new", "mirror") + "\r\n", "")));
    second.Expect(Answer(Response("HTTP/1.0 200 OK", "", "payload")));
    LoggedClient c;
    c.http.Post(LocalUrl(first, "/old", "origin"), "x=1");
    EXPECT_EQ(c.http.Body, "payload");
    EXPECT_EQ(c.http.Host, "mirror");
    EXPECT_EQ(second.Received(0), Request("GET", "/new", HostOf(second, "mirror")));
    EXPECT_EQ(c.Count("Redirect"), 1);
    EXPECT_EQ(c.Count("AboutToSend"), 2);
}

// Relative references resolve against the URL they came with, staying on its host and port;
// a colon in a query is no scheme.
TEST(NMHttpRedirect, RelativeLocationsStayOnTheSameHostAndPort) {
    ScriptedServer server;
    server.Expect(Answer(Response("HTTP/1.0 301 Moved", "Location: /new/path\r\n", "")));
    server.Expect(Answer(Response("HTTP/1.0 302 Found", "Location: file2\r\n", "")));
    server.Expect(Answer(Response("HTTP/1.0 302 Found", "Location: ../dl/f.bin?t=12:00\r\n", "")));
    server.Expect(Answer(Response("HTTP/1.0 302 Found", "Location:?v=2#part\r\n", "")));
    server.Expect(Answer(Response("HTTP/1.0 200 OK", "", "done")));
    net::TNMHTTP h;
    h.Get(LocalUrl(server, "/start"));
    EXPECT_EQ(h.Body, "done");
    EXPECT_EQ(server.Received(1), Request("GET", "/new/path", HostOf(server)));
    EXPECT_EQ(server.Received(2), Request("GET", "/new/file2", HostOf(server)));
    EXPECT_EQ(server.Received(3), Request("GET", "/dl/f.bin?t=12:00", HostOf(server)));
    EXPECT_EQ(server.Received(4), Request("GET", "/dl/f.bin?v=2", HostOf(server)));
    EXPECT_EQ(h.CurrentURL, LocalUrl(server, "/dl/f.bin?v=2"));
}

// "//host:port/p" keeps the scheme and names the host and port.
TEST(NMHttpRedirect, SchemeRelativeLocationGoesToItsHostAndPort) {
    AnyNameIsLoopback names;
    ScriptedServer first, second;
    first.Expect(Answer(Response(
        "HTTP/1.0 302 Found",
        "Location: //mirror:" + std::to_string(second.Port()) + "/d/f.bin\r\n", "")));
    second.Expect(Answer(Response("HTTP/1.0 200 OK", "", "payload")));
    net::TNMHTTP h;
    h.Get(LocalUrl(first, "/r/f.bin", "origin"));
    EXPECT_EQ(h.Body, "payload");
    EXPECT_EQ(second.Received(0), Request("GET", "/d/f.bin", HostOf(second, "mirror")));
}

TEST(NMHttpRedirect, ARedirectedHeadStaysAHead) {
    ScriptedServer server;
    server.Expect(Answer(Response("HTTP/1.0 302 Found", "Location: /real\r\n", "")));
    server.Expect(Answer(Response("HTTP/1.0 200 OK", "Content-Length: 123456\r\n", "")));
    net::TNMHTTP h;
    h.Head(LocalUrl(server, "/size"));
    EXPECT_EQ(server.Received(1), Request("HEAD", "/real", HostOf(server)));
    EXPECT_EQ(h.TransferSize, 123456);
    EXPECT_EQ(h.Command, net::cmdGet);
}

TEST(NMHttpRedirect, CookieIsHandedOverToTheSameHostOnly) {
    AnyNameIsLoopback names;
    ScriptedServer server, other;
    server.Expect(Answer(Response("HTTP/1.0 302 Found",
                                  "Set-Cookie: id=7; path=/\r\nLocation: /next\r\n", "")));
    server.Expect(Answer(Response("HTTP/1.0 200 OK", "", "")));
    net::TNMHTTP h;
    h.Get(LocalUrl(server, "/a", "site"));
    EXPECT_EQ(server.Received(1),
              Request("GET", "/next", HostOf(server, "site"), "Cookie: id=7; path=/\r\n"));
    EXPECT_EQ(h.HeaderInfo.Cookie, "id=7; path=/");

    // A redirect to another host does not carry a cookie that a redirect response set.
    server.Expect(Answer(Response("HTTP/1.0 302 Found",
                                  "Set-Cookie: s=9\r\nLocation: " +
                                      LocalUrl(other, "/x", "elsewhere") + "\r\n",
                                  "")));
    other.Expect(Answer(Response("HTTP/1.0 200 OK", "", "")));
    h.HeaderInfo.Cookie.clear();
    h.Get(LocalUrl(server, "/b", "site"));
    EXPECT_EQ(other.Received(0), Request("GET", "/x", HostOf(other, "elsewhere")));
    EXPECT_EQ(h.HeaderInfo.Cookie, "");
}

TEST(NMHttpRedirect, HandledRedirectEndsTheCycleWithTheRedirectResponse) {
    ScriptedServer server;
    const std::string head = "HTTP/1.0 302 Found\r\nLocation: /elsewhere\r\n\r\n";
    server.Expect(Answer(head + "moved"));
    net::TNMHTTP h;
    h.OnRedirect = [](bool &handled) { handled = true; };
    h.Get(LocalUrl(server, "/"));
    EXPECT_EQ(h.Header, head);
    EXPECT_EQ(h.Body, "moved");
    EXPECT_EQ(server.Accepted(), 1u);
}

TEST(NMHttpRedirect, EndlessRedirectsStopAfterTwenty) {
    ScriptedServer server;
    server.SetDefault(Answer(Response("HTTP/1.0 302 Found", "Location: /loop\r\n", "")));
    net::TNMHTTP h;
    EXPECT_EQ(ErrorOf<ESockError>([&] { h.Get(LocalUrl(server, "/loop")); }),
              "Too many redirects");
    EXPECT_EQ(server.Accepted(), 21u) << "the first request and twenty redirects";
}

TEST(NMHttpRedirect, LongLocationIsFollowedWhole) {
    ScriptedServer server;
    std::string target = "/dl?sig=" + std::string(600, 's');
    server.Expect(Answer(Response("HTTP/1.0 302 Found", "Location: " + target + "\r\n", "")));
    server.Expect(Answer(Response("HTTP/1.0 200 OK", "", "")));
    net::TNMHTTP h;
    h.Get(LocalUrl(server, "/"));
    EXPECT_EQ(server.Received(1), Request("GET", target, HostOf(server)));
}

// A bare CR inside a Location would end the next request line and start a line of the
// server's choosing: the redirect is refused and nothing more is asked.
TEST(NMHttpRedirect, ALocationWithAControlCharacterIsRefused) {
    for (const char *location : {"/next\rX-Injected: 1", "/next\x01", "/a\tb"}) {
        SCOPED_TRACE(location);
        ScriptedServer server;
        server.SetDefault(Answer(
            Response("HTTP/1.0 302 Found", std::string("Location: ") + location + "\r\n", "")));
        net::TNMHTTP h;
        const std::string error = ErrorOf<ESockError>([&] { h.Get(LocalUrl(server, "/")); });
        EXPECT_EQ(error.rfind("Redirect refused: its target contains a control character (", 0), 0u)
            << error;
        EXPECT_EQ(server.Accepted(), 1u);
    }
}

// Blanks around a Location are no part of it; spaces and bytes beyond ASCII within it are
// percent-encoded, as RFC 3986 writes them.
TEST(NMHttpRedirect, SpacesInALocationArePercentEncoded) {
    ScriptedServer server;
    server.Expect(Answer(
        Response("HTTP/1.0 302 Found", "Location:  /new dir/f\xc3\xa9 1.exe?a=b c \r\n", "")));
    server.Expect(Answer(Response("HTTP/1.0 200 OK", "", "")));
    net::TNMHTTP h;
    h.Get(LocalUrl(server, "/"));
    EXPECT_EQ(server.Received(1),
              Request("GET", "/new%20dir/f%C3%A9%201.exe?a=b%20c", HostOf(server)));
}

// This client speaks HTTP: a target of any other scheme fails the request, naming the scheme,
// and is never asked for as HTTP on that scheme's port.
TEST(NMHttpRedirect, OnlyHttpAndHttpsTargetsAreFollowed) {
    ScriptedServer server;
    const std::string port = std::to_string(server.Port());
    const std::pair<std::string, std::string> rows[] = {
        {"ftp://127.0.0.1:" + port + "/f.exe", "ftp"},
        {"GOPHER://127.0.0.1:" + port + "/f.exe", "gopher"},
        {"file:///etc/passwd", "file"},
        {"javascript:alert(1)", "javascript"},
    };
    for (const auto &[location, scheme] : rows) {
        SCOPED_TRACE(location);
        server.Expect(Answer(Response("HTTP/1.0 302 Found", "Location: " + location + "\r\n", "")));
        net::TNMHTTP h;
        EXPECT_EQ(ErrorOf<ESockError>([&] { h.Get(LocalUrl(server, "/")); }),
                  "Redirect to a URL of the " + scheme +
                      " scheme refused: only http and https are followed");
    }
    EXPECT_EQ(server.Accepted(), 4u) << "none of the targets was asked for";
}

TEST(NMHttpRedirect, StatusesJustOutsideTheClassesEndTheCycleQuietly) {
    for (const char *status : {"HTTP/1.0 299 Odd", "HTTP/1.0 399 Odd"}) {
        SCOPED_TRACE(status);
        ScriptedServer server;
        server.Expect(Answer(Response(status, "Location: /again\r\n", "")));
        LoggedClient c;
        c.http.Get(LocalUrl(server, "/"));
        EXPECT_EQ(server.Accepted(), 1u);
        EXPECT_EQ(c.Count("Success:0") + c.Count("Failure:0") + c.Count("Redirect"), 0);
    }
}

TEST(NMHttpFailure, ErrorsAfterConnectingCloseTheConnectionAndPropagate) {
    {
        ScriptedServer server;
        server.Expect({Action::ReadRequest(), Action::Send("HTTP/1.0 200 OK\r\nX: 1\r\n"),
                       Action::Close()});
        LoggedClient c;
        EXPECT_EQ(ErrorOf<ESockError>([&] { c.http.Get(LocalUrl(server, "/")); }),
                  "Connection closed");
        EXPECT_EQ(c.Count("Success:0"), 0);
    }
    {
        ScriptedServer server;
        server.Expect({Action::ReadRequest(), Action::Send("HTTP/1.0 200 OK\r\n"), Action::Stall()});
        LoggedClient c;
        std::thread pause([&] {
            std::this_thread::sleep_for(100ms);
            c.http.AbortOperation();
        });
        EXPECT_EQ(ErrorOf<EAbortError>([&] { c.http.Get(LocalUrl(server, "/")); }),
                  "Socket readln aborted");
        pause.join();
        EXPECT_EQ(c.events.back(), "Disconnect");
        EXPECT_TRUE(server.WaitForPeerClose(0, 2s));
    }
}

TEST(NMHttpFailure, AHeaderThatNeverEndsIsRefusedOnceItIsTooLong) {
    // Header lines, or one line without an end, for far longer than any server's header, on
    // a connection that then stays open: the client gives up instead of buffering for ever.
    std::string text = "HTTP/1.0 200 OK\r\n";
    while (text.size() < (4u << 20))
        text += "X-Filler: " + std::string(100, 'x') + "\r\n";
    const std::string lines = text;
    const std::string oneLine = "HTTP/1.0 200 OK\r\nX-Filler: " + std::string(4u << 20, 'x');
    for (const std::string *header : {&lines, &oneLine}) {
        ScriptedServer server;
        server.Expect(
            {Action::ReadRequest(), Action::Send(*header, 64 << 10, 1ms), Action::Stall()});
        LoggedClient c;
        c.http.TimeOut = 10000;
        const auto start = std::chrono::steady_clock::now();
        const std::string error = ErrorOf<ESockError>([&] { c.http.Get(LocalUrl(server, "/")); });
        EXPECT_TRUE(error == "Response header too long" || error == "Line too long") << error;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "before the whole header";
        EXPECT_LE(c.http.Header.size(), net::TNMHTTP::kMaxResponseHeader);
        EXPECT_TRUE(server.WaitForPeerClose(0, 2s)) << "the connection is closed";
    }
}
