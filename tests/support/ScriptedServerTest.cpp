#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

// A plain blocking client; every receive is bounded by SO_RCVTIMEO so a broken server fails
// the test instead of hanging it.
class Client {
  public:
    explicit Client(uint16_t port, const char *address = "127.0.0.1") {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (fd_ < 0)
            return;
        timeval tv{};
        tv.tv_sec = 5;
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        inet_pton(AF_INET, address, &addr.sin_addr);
        addr.sin_port = htons(port);
        if (connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            connectErrno = errno;
            close(fd_);
            fd_ = -1;
        }
    }
    ~Client() {
        if (fd_ >= 0)
            close(fd_);
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool Connected() const { return fd_ >= 0; }

    bool SendAll(const std::string &s) {
        size_t off = 0;
        while (off < s.size()) {
            ssize_t n = send(fd_, s.data() + off, s.size() - off, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            off += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads until `limit` bytes, EOF or an error; lastErrno is 0 after a clean EOF.
    std::string Read(size_t limit = SIZE_MAX) {
        std::string out;
        char buf[8192];
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (out.size() < limit && Clock::now() < deadline) {
            ssize_t n = recv(fd_, buf, std::min(sizeof buf, limit - out.size()), 0);
            if (n > 0) {
                out.append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            lastErrno = n == 0 ? 0 : errno;
            return out;
        }
        lastErrno = out.size() < limit ? ETIMEDOUT : 0;
        return out;
    }

    // Whether anything (data or EOF) becomes readable within `ms`.
    bool ReadableWithin(std::chrono::milliseconds ms) {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, static_cast<int>(ms.count())) > 0;
    }

    void ResetOnClose() {
        linger lg{};
        lg.l_onoff = 1;
        lg.l_linger = 0;
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }

    void CloseNow() {
        close(fd_);
        fd_ = -1;
    }

    int lastErrno = -1;
    int connectErrno = 0;

  private:
    int fd_ = -1;
};

TEST(ScriptedServerTest, PortIsEphemeralAndDistinctPerServer) {
    ScriptedServer a;
    ScriptedServer b;
    EXPECT_NE(a.Port(), 0);
    EXPECT_NE(a.Port(), b.Port());
}

TEST(ScriptedServerTest, BindsTheAddressItIsGivenAndRefusesForAWhileOnRequest) {
    ScriptedServer server("127.0.0.7", 0);
    server.SetDefault({Action::Send("hello")});
    EXPECT_FALSE(Client(server.Port(), "127.0.0.1").Connected()) << "only 127.0.0.7 listens";
    {
        Client client(server.Port(), "127.0.0.7");
        ASSERT_TRUE(client.Connected());
        EXPECT_EQ(client.Read(), "hello");
    }
    EXPECT_THROW(ScriptedServer("localhost", 0), std::system_error) << "dotted IPv4 only";

    const auto asked = Clock::now();
    server.RefuseConnections(400ms);
    Client refused(server.Port(), "127.0.0.7");
    EXPECT_FALSE(refused.Connected());
    EXPECT_EQ(refused.connectErrno, ECONNREFUSED);
    server.RefuseConnections(200ms); // within the window: it does not end it early

    // Listening again on the same port once the window is over (bounded: 50 tries).
    bool again = false;
    for (int i = 0; i < 50 && !again; ++i) {
        Client client(server.Port(), "127.0.0.7");
        if (client.Connected()) {
            again = true;
            EXPECT_GE(Clock::now() - asked, 400ms);
            EXPECT_EQ(client.Read(), "hello");
        } else {
            std::this_thread::sleep_for(50ms);
        }
    }
    EXPECT_TRUE(again);
}

TEST(ScriptedServerTest, ReadRequestWaitsForTheHeaderEndAndRecordsBytesExactly) {
    ScriptedServer server;
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    server.Expect({Action::ReadRequest(), Action::ReadBytes(4), Action::Send(reply)});

    // The body holds a NUL and CR LF pairs so truncation or line handling would show.
    const std::string head = "POST /up HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 4\r\n";
    const std::string body("\r\n\0x", 4);

    Client client(server.Port());
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(client.SendAll(head));
    ASSERT_TRUE(server.WaitForReceived(0, head.size(), 2s));
    EXPECT_FALSE(client.ReadableWithin(150ms)) << "replied before the blank line";

    ASSERT_TRUE(client.SendAll("\r\n" + body.substr(0, 2)));
    EXPECT_FALSE(client.ReadableWithin(150ms)) << "replied before the whole body";

    ASSERT_TRUE(client.SendAll(body.substr(2)));
    EXPECT_EQ(client.Read(), reply);
    EXPECT_EQ(client.lastErrno, 0)
        << "script end should close with FIN: " << std::strerror(client.lastErrno);

    client.CloseNow();
    ASSERT_TRUE(server.WaitForPeerClose(0, 2s));
    EXPECT_EQ(server.Received(0), head + "\r\n" + body);
}

TEST(ScriptedServerTest, SlicedSendArrivesCompleteInOrderAndPaced) {
    ScriptedServer server;
    const std::string payload = PatternBytes(1000, 5000);
    server.Expect({Action::Send(payload, 500, 20ms), Action::Close()});

    auto start = Clock::now();
    Client client(server.Port());
    ASSERT_TRUE(client.Connected());
    std::string got = client.Read();
    auto elapsed = Clock::now() - start;

    EXPECT_EQ(client.lastErrno, 0);
    ASSERT_EQ(got.size(), payload.size());
    EXPECT_TRUE(got == payload) << "bytes arrived altered or out of order";
    // Ten slices, nine waits of 20 ms between them.
    EXPECT_GE(elapsed, 180ms);
}

TEST(ScriptedServerTest, PatternBytesDependOnTheAbsoluteOffset) {
    const std::string whole = PatternBytes(0, 70000);
    EXPECT_EQ(PatternBytes(1000, 5000), whole.substr(1000, 5000));
    EXPECT_EQ(PatternBytes(65000, 5000), whole.substr(65000, 5000));
    // A range off by a multiple of 256 must not look right.
    EXPECT_NE(PatternBytes(0, 256), PatternBytes(256, 256));
    EXPECT_NE(PatternBytes(0, 1024), PatternBytes(4096, 1024));
}

TEST(ScriptedServerTest, ResetGivesThePeerConnectionReset) {
    ScriptedServer server;
    server.Expect({Action::Send("partial"), Action::ReadBytes(1), Action::Reset()});

    Client client(server.Port());
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.Read(7), "partial");
    ASSERT_TRUE(client.SendAll("k"));
    EXPECT_EQ(client.Read(), "");
    EXPECT_EQ(client.lastErrno, ECONNRESET) << std::strerror(client.lastErrno);
    EXPECT_EQ(server.Received(0), "k");
}

TEST(ScriptedServerTest, CloseIsAFinEvenWithUnreadInputAndRecordingContinues) {
    ScriptedServer server;
    // The script never reads, so the request stays unconsumed; closing must still be clean.
    server.Expect({Action::Delay(100ms), Action::Send("bye"), Action::Close()});

    Client client(server.Port());
    ASSERT_TRUE(client.Connected());
    const std::string request = "GET / HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(client.SendAll(request));
    EXPECT_EQ(client.Read(), "bye");
    EXPECT_EQ(client.lastErrno, 0) << std::strerror(client.lastErrno);

    // After its FIN the server still records what the peer sends.
    ASSERT_TRUE(client.SendAll("late"));
    EXPECT_TRUE(server.WaitForReceived(0, request.size() + 4, 2s));
    EXPECT_FALSE(server.PeerClosed(0));
    client.CloseNow();
    ASSERT_TRUE(server.WaitForPeerClose(0, 2s));
    EXPECT_EQ(server.Received(0), request + "late");
}

TEST(ScriptedServerTest, StallHoldsTheConnectionUntilStopAndStopIsPrompt) {
    ScriptedServer server;
    server.Expect({Action::ReadRequest(), Action::Stall()});

    Client client(server.Port());
    ASSERT_TRUE(client.Connected());
    const std::string request = "GET /slow HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(client.SendAll(request));
    ASSERT_TRUE(server.WaitForReceived(0, request.size(), 2s));
    EXPECT_FALSE(client.ReadableWithin(300ms)) << "stalled connection sent or closed";

    ASSERT_TRUE(client.SendAll("more"));
    EXPECT_TRUE(server.WaitForReceived(0, request.size() + 4, 2s)) << "not recording while stalled";

    auto start = Clock::now();
    server.Stop();
    EXPECT_LT(Clock::now() - start, 1s);

    // The connection is gone now: EOF or reset, not a receive timeout.
    client.Read();
    EXPECT_TRUE(client.lastErrno == 0 || client.lastErrno == ECONNRESET)
        << std::strerror(client.lastErrno);
    EXPECT_EQ(server.Received(0), request + "more");
    server.Stop();
}

TEST(ScriptedServerTest, StopInterruptsLongDelaysAndSendsToAPeerThatDoesNotRead) {
    auto start = Clock::now();
    {
        ScriptedServer server;
        server.Expect({Action::Delay(60s)});
        server.Expect({Action::Send(std::string(16 << 20, 'x'))});
        Client delayed(server.Port());
        ASSERT_TRUE(server.WaitForAccepted(1, 2s));
        Client notReading(server.Port());
        ASSERT_TRUE(delayed.Connected());
        ASSERT_TRUE(notReading.Connected());
        ASSERT_TRUE(server.WaitForAccepted(2, 2s));
        std::this_thread::sleep_for(100ms); // let the send fill the socket buffers
    }                                       // destructor stops the server
    EXPECT_LT(Clock::now() - start, 2s);
}

TEST(ScriptedServerTest, QueuedScriptsApplyInAcceptOrderThenTheDefault) {
    ScriptedServer server;
    server.Expect({Action::ReadRequest(), Action::Send("first")});
    server.Expect({Action::ReadRequest(), Action::Send("second")});

    Client one(server.Port());
    ASSERT_TRUE(server.WaitForAccepted(1, 2s));
    Client two(server.Port());
    ASSERT_TRUE(server.WaitForAccepted(2, 2s));
    Client three(server.Port());
    ASSERT_TRUE(server.WaitForAccepted(3, 2s));

    // Requests go out in reverse order: scripts follow the accept order, not the request order.
    ASSERT_TRUE(three.SendAll("GET /3 HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(two.SendAll("GET /2 HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(one.SendAll("GET /1 HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(three.Read(), "");
    EXPECT_EQ(three.lastErrno, 0);
    EXPECT_EQ(two.Read(), "second");
    EXPECT_EQ(one.Read(), "first");

    server.SetDefault({Action::Send("default")});
    Client four(server.Port());
    EXPECT_EQ(four.Read(), "default");
    EXPECT_EQ(server.Accepted(), 4u);
    EXPECT_EQ(server.Received(1), "GET /2 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(server.Received(7), "");
}

TEST(ScriptedServerTest, PeerResetDuringASlowSendIsSurvived) {
    ScriptedServer server;
    // Without MSG_NOSIGNAL, sending after the reset would kill this process with SIGPIPE.
    server.Expect({Action::Send(PatternBytes(0, 4 << 20), 64 << 10, 1ms)});

    {
        Client client(server.Port());
        ASSERT_TRUE(client.Connected());
        EXPECT_EQ(client.Read(1000), PatternBytes(0, 1000));
        client.ResetOnClose();
    }
    ASSERT_TRUE(server.WaitForPeerClose(0, 5s));

    // The server keeps serving after that.
    Client next(server.Port());
    ASSERT_TRUE(next.SendAll("GET / HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(next.Read(), "");
    EXPECT_EQ(next.lastErrno, 0);
    EXPECT_EQ(server.Accepted(), 2u);
}

} // namespace
} // namespace testsupport
