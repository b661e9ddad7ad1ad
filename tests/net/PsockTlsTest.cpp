// The socket component's TLS layer: the handshake as part of the connect phase (time-out,
// cancel, a server that closes or is no TLS server), SNI, records that arrive together, a
// record that fails its check, and the CONNECT tunnel through a proxy.
#include "net/Psock.h"

#include "HttpFixture.h"
#include "PsockFixture.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TlsTestServer.h"

#include <gtest/gtest.h>

using namespace psocktest;
using net::ESockError;
using testsupport::Action;
using testsupport::ScriptedServer;
using testsupport::TlsPlan;
using testsupport::TlsTestServer;

namespace {

// A component that makes TLS connections to 127.0.0.1:port.
void AimAt(net::TPowersock &s, uint16_t port, const std::string &host = "127.0.0.1") {
    testsupport::SharedTestCertificates(); // the trust store before the first TLS context
    s.Host = host;
    s.Port = port;
    s.UseTls = true;
}

// A server that accepts the connection and never answers the client's first message.
ScriptedServer &Silent(ScriptedServer &server) {
    server.SetDefault({Action::Stall()});
    return server;
}

} // namespace

TEST(PsockTls, HandshakeCountsAsConnectPhaseForTheTimeOut) {
    ScriptedServer server;
    AbortingSock s;
    EventLog log;
    log.Attach(s);
    AimAt(s, Silent(server).Port());
    s.TimeOut = 200;
    auto start = steady_clock::now();
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Timed out");
    EXPECT_GE(steady_clock::now() - start, 190ms);
    EXPECT_LT(steady_clock::now() - start, 2000ms);
    EXPECT_EQ(log.Count("[OnConnect]"), 0) << "a connection without TLS is not announced";
    EXPECT_EQ(log.Count("[OnConnectionFailed]"), 1);
    EXPECT_FALSE(s.IsConnected) << "the half-made connection is closed";
    ASSERT_TRUE(server.WaitForReceived(0, 6, 1000ms));
    EXPECT_EQ(server.Received(0)[0], '\x16') << "a TLS handshake record went out";
    EXPECT_TRUE(server.WaitForPeerClose(0, 1000ms));
}

TEST(PsockTls, HandshakeIsCancelledFromAnotherThread) {
    ScriptedServer server;
    AbortingSock s;
    AimAt(s, Silent(server).Port());
    auto start = steady_clock::now();
    {
        CancelLater cancel(s, 100ms, true);
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Canceled");
    }
    EXPECT_LT(steady_clock::now() - start, 1500ms);
    EXPECT_TRUE(server.WaitForPeerClose(0, 1000ms));
}

TEST(PsockTls, ServerThatClosesOrIsNoTlsServerFailsTheConnect) {
    struct Case {
        const char *name;
        testsupport::Script script;
        const char *text;
    };
    const Case cases[] = {
        {"closes",
         {Action::Delay(20ms), Action::Close()},
         "TLS handshake failed: the server closed the connection"},
        {"answers plain HTTP",
         {Action::Delay(20ms), Action::Send("HTTP/1.0 400 Bad Request\r\n\r\n"), Action::Close()},
         "TLS handshake failed: wrong version number"},
        {"resets",
         {Action::Delay(20ms), Action::Reset()},
         "TLS handshake failed: Connection reset by peer"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server;
        server.SetDefault(c.script);
        net::TPowersock s;
        AimAt(s, server.Port());
        s.TimeOut = 5000;
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), c.text);
        EXPECT_FALSE(s.IsConnected);
    }
}

TEST(PsockTls, HostNameGoesOutAsSniAndAnAddressDoesNot) {
    httptest::AnyNameIsLoopback loopback;
    for (const std::string host : {"files.example", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        ScriptedServer server;
        AbortingSock s;
        AimAt(s, Silent(server).Port(), host);
        s.TimeOut = 100;
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Timed out");
        std::string hello = server.Received(0);
        EXPECT_EQ(hello.find(host) != std::string::npos, host == "files.example");
    }
}

TEST(PsockTls, RecordsThatArriveTogetherAreReadWithoutAnotherNotification) {
    auto certificate = testsupport::SharedTestCertificates().Issue("burst");
    // Three lines in three records in one segment, then nothing for 3 s: the later lines
    // are already here and must not wait for the socket.
    TlsPlan plan;
    plan.bursts = {{"HTTP/1.0 200 OK\r\n", "Content-Length: 5\r\n", "\r\nhello"}};
    plan.holdOpen = 3000ms;
    TlsTestServer server(certificate, plan);
    net::TPowersock s;
    AimAt(s, server.Port());
    s.Connect();
    s.Write("GET / HTTP/1.0\r\n\r\n");
    std::string line;
    auto start = steady_clock::now();
    for (const char *expected : {"HTTP/1.0 200 OK\r\n", "Content-Length: 5\r\n", "\r\n"}) {
        s.ReadLn(line);
        EXPECT_EQ(line, expected);
    }
    std::string body;
    s.CaptureString(body, 5);
    EXPECT_EQ(body, "hello");
    EXPECT_LT(steady_clock::now() - start, 1000ms) << "records waited for a notification";
    EXPECT_EQ(server.Requests().at(0), "GET / HTTP/1.0\r\n\r\n");
}

TEST(PsockTls, LargeBurstsArriveWholeAndCounted) {
    auto certificate = testsupport::SharedTestCertificates().Issue("large");
    TlsPlan plan;
    std::string all;
    for (int b = 0; b < 3; ++b) {
        std::vector<std::string> burst;
        for (int r = 0; r < 9; ++r) {
            burst.push_back(testsupport::PatternBytes(all.size(), 16384 - r));
            all += burst.back();
        }
        plan.bursts.push_back(burst);
    }
    plan.gap = 20ms;
    plan.holdOpen = 20ms;
    TlsTestServer server(certificate, plan);
    net::TPowersock s;
    AimAt(s, server.Port());
    s.Connect();
    s.Write("GET / HTTP/1.0\r\n\r\n");
    std::string body;
    s.CaptureString(body, -1);
    EXPECT_EQ(body.size(), all.size());
    EXPECT_TRUE(body == all);
}

TEST(PsockTls, ARecordThatFailsItsCheckEndsTheTransferWithTheReason) {
    auto certificate = testsupport::SharedTestCertificates().Issue("corrupt");
    TlsPlan plan;
    plan.bursts = {{"first part "}, {"second part"}};
    plan.gap = 50ms;
    plan.holdOpen = 3000ms;
    plan.corruptLastByte = true;
    TlsTestServer server(certificate, plan);
    net::TPowersock s;
    int socketErrors = 0;
    s.OnSocketError = [&](platform::TObject *, uint16_t, const std::string &text) {
        socketErrors += text.rfind("TLS connection failed: ", 0) == 0;
    };
    AimAt(s, server.Port());
    s.Connect();
    s.Write("GET / HTTP/1.0\r\n\r\n");
    std::string body;
    auto start = steady_clock::now();
    std::string error = ErrorOf<ESockError>([&] { s.CaptureString(body, -1); });
    EXPECT_EQ(error.rfind("TLS connection failed: ", 0), 0u) << error;
    EXPECT_EQ(body, "first part ") << "what arrived intact is kept";
    EXPECT_LT(steady_clock::now() - start, 1500ms) << "the broken connection is not waited on";
    EXPECT_EQ(socketErrors, 1);
    EXPECT_FALSE(s.IsConnected);
}

TEST(PsockTls, TunnelThroughAProxyIsRequestedAndItsRefusalNamed) {
    struct Case {
        const char *name;
        testsupport::Script script;
        const char *text;
    };
    const std::string refused = "HTTP/1.0 403 Filtered\r\nContent-Type: text/html\r\n\r\nno";
    const Case cases[] = {
        {"refuses",
         {Action::ReadRequest(), Action::Send(refused), Action::Close()},
         "The proxy refused the tunnel to files.example:8443: HTTP/1.0 403 Filtered"},
        {"closes",
         {Action::ReadRequest(), Action::Close()},
         "The proxy closed the connection before the tunnel to files.example:8443 was open"},
        {"garbles",
         {Action::ReadRequest(), Action::Send("SSH-2.0-x\r\n\r\n"), Action::Close()},
         "The proxy refused the tunnel to files.example:8443: SSH-2.0-x"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer proxy;
        proxy.SetDefault(c.script);
        net::TPowersock s;
        AimAt(s, 8443, "files.example"); // only the proxy resolves it
        s.Proxy = "127.0.0.1";
        s.ProxyPort = proxy.Port();
        s.TimeOut = 5000;
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), c.text);
        EXPECT_EQ(proxy.Received(0),
                  "CONNECT files.example:8443 HTTP/1.0\r\nHost: files.example:8443\r\n"
                  "Proxy-Connection: Keep-Alive\r\n\r\n");
        EXPECT_FALSE(s.IsConnected);
    }
}

TEST(PsockTls, TunnelThatNeverAnswersTimesOutAndCanBeCancelled) {
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancel" : "time-out");
        ScriptedServer proxy;
        proxy.SetDefault({Action::ReadRequest(), Action::Stall()});
        AbortingSock s;
        AimAt(s, 443, "files.example");
        s.Proxy = "127.0.0.1";
        s.ProxyPort = proxy.Port();
        s.TimeOut = cancel ? 0 : 200;
        auto start = steady_clock::now();
        if (cancel) {
            CancelLater later(s, 100ms, true);
            EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Canceled");
        } else {
            EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Timed out");
        }
        EXPECT_LT(steady_clock::now() - start, 1500ms);
    }
}

TEST(PsockTls, ComponentConnectsAgainAfterAFailedHandshake) {
    ScriptedServer server;
    server.Expect({Action::Delay(20ms), Action::Close()});
    server.Expect({Action::ReadRequest(), Action::Send("plain\r\n"), Action::Close()});
    net::TPowersock s;
    AimAt(s, server.Port());
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }),
              "TLS handshake failed: the server closed the connection");
    s.UseTls = false;
    s.Connect();
    s.Write("GET / HTTP/1.0\r\n\r\n");
    std::string line;
    s.ReadLn(line);
    EXPECT_EQ(line, "plain\r\n");
}
