#include "tests/support/RealPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace testsupport {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Skips the test when the peer's binary (Peer is one of the classes of RealPeers.h) is not
// installed.
#define SKIP_WITHOUT(Peer)                                                                         \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!Peer::Available(&why))                                                                \
            GTEST_SKIP() << "real peer missing, test skipped: " << why;                            \
    } while (0)

struct Reply {
    bool ok = false; // a status line and a complete header block arrived
    int status = 0;
    std::string head; // status line and headers, without the blank line
    std::string body;

    // The value of the first header `name` (case-insensitive), or "" if absent.
    std::string Header(const std::string &name) const {
        size_t pos = head.find("\r\n");
        while (pos != std::string::npos) {
            size_t start = pos + 2;
            size_t end = head.find("\r\n", start);
            std::string line = head.substr(start, end == std::string::npos ? end : end - start);
            size_t colon = line.find(':');
            if (colon != std::string::npos && colon == name.size() &&
                std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                })) {
                size_t v = line.find_first_not_of(' ', colon + 1);
                return v == std::string::npos ? "" : line.substr(v);
            }
            pos = end;
        }
        return {};
    }
};

// Sends `request` to 127.0.0.1:port over a plain blocking socket and reads until the peer
// closes (requests say "Connection: close"); every call is bounded by SO_RCVTIMEO/SO_SNDTIMEO
// and the whole exchange by 10 s, so a broken peer fails the test instead of hanging it.
Reply Exchange(uint16_t port, const std::string &request) {
    Reply r;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return r;
    timeval tv{};
    tv.tv_sec = 5;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return r;
    }
    size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            close(fd);
            return r;
        }
        sent += static_cast<size_t>(n);
    }
    std::string all;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    char buf[16384];
    while (Clock::now() < deadline) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        all.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    size_t end = all.find("\r\n\r\n");
    if (end == std::string::npos || all.compare(0, 5, "HTTP/") != 0)
        return r;
    r.head = all.substr(0, end);
    r.body = all.substr(end + 4);
    size_t sp = r.head.find(' ');
    if (sp == std::string::npos)
        return r;
    r.status = std::atoi(r.head.c_str() + sp + 1);
    r.ok = true;
    return r;
}

// One client connection to 127.0.0.1:port kept open across requests, for what a peer does with
// a connection after a reply. Every read and send is bounded in time.
class Connection {
  public:
    explicit Connection(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (fd_ < 0)
            return;
        timeval tv{};
        tv.tv_sec = 5;
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~Connection() {
        if (fd_ >= 0)
            close(fd_);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool Send(const std::string &text) {
        size_t sent = 0;
        while (fd_ >= 0 && sent < text.size()) {
            ssize_t n = send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return fd_ >= 0;
    }

    // Reads a reply's status line and headers (and nothing after them): ok is false if they
    // do not arrive within 5 s. The body is left unread.
    Reply ReadHead() {
        Reply r;
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (buffered_.find("\r\n\r\n") == std::string::npos && Fill(deadline)) {
        }
        size_t end = buffered_.find("\r\n\r\n");
        if (end == std::string::npos || buffered_.compare(0, 5, "HTTP/") != 0)
            return r;
        r.head = buffered_.substr(0, end);
        buffered_.erase(0, end + 4);
        size_t sp = r.head.find(' ');
        r.status = sp == std::string::npos ? 0 : std::atoi(r.head.c_str() + sp + 1);
        r.ok = sp != std::string::npos;
        return r;
    }

    // Reads exactly `n` bytes of body (fewer if the peer closes or 5 s pass).
    std::string ReadBody(size_t n) {
        auto deadline = Clock::now() + std::chrono::seconds(5);
        while (buffered_.size() < n && Fill(deadline)) {
        }
        std::string body = buffered_.substr(0, std::min(n, buffered_.size()));
        buffered_.erase(0, body.size());
        return body;
    }

    // Waits `wait` for anything more from the peer: true if it closed the connection within
    // that time; *extra gets any bytes that arrived (none for an idle open connection).
    bool ClosedWithin(std::chrono::milliseconds wait, std::string *extra) {
        auto deadline = Clock::now() + wait;
        while (Fill(deadline)) {
        }
        *extra = buffered_;
        return closed_;
    }

  private:
    // Reads what arrives before `deadline` into buffered_; false on time-out, end of stream or
    // error (closed_ set for the last two).
    bool Fill(Clock::time_point deadline) {
        if (fd_ < 0 || closed_)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd_, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            return true;
        if (ready <= 0)
            return false;
        char buf[16384];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            return true;
        if (n <= 0) {
            closed_ = true;
            return false;
        }
        buffered_.append(buf, static_cast<size_t>(n));
        return true;
    }

    int fd_ = -1;
    bool closed_ = false;
    std::string buffered_;
};

bool Refused(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    bool refused =
        connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 && errno == ECONNREFUSED;
    close(fd);
    return refused;
}

// A directory with a text file and a 100 KiB file of pseudo-random bytes (all 256 values,
// so a byte-exact comparison catches any text-mode mangling).
class RealPeersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/realpeers-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        uint32_t x = 12345;
        data_.resize(100 * 1024);
        for (auto &c : data_) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 24);
        }
        std::ofstream(root_ + "/data.bin", std::ios::binary) << data_;
        std::ofstream(root_ + "/hello.txt", std::ios::binary) << "hello, world\n";
    }
    void TearDown() override {
        std::error_code ec;
        if (!root_.empty())
            fs::remove_all(root_, ec);
    }

    std::string root_;
    std::string data_;
};

TEST_F(RealPeersTest, ProxyForwardsToLoopbackOrigin) {
    SKIP_WITHOUT(NginxServer);
    SKIP_WITHOUT(HttpProxy);
    NginxServer nginx(root_);
    HttpProxy proxy;
    std::printf("tinyproxy accepted after %lld ms on port %u\n",
                static_cast<long long>(proxy.StartupTime().count()), proxy.Port());
    EXPECT_NE(proxy.Port(), nginx.Port());

    std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/data.bin";
    Reply r =
        Exchange(proxy.Port(), "GET " + url + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                   std::to_string(nginx.Port()) + "\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(r.ok) << proxy.Log();
    EXPECT_EQ(r.status, 200) << r.head;
    EXPECT_TRUE(r.body == data_) << "body of " << r.body.size() << " bytes differs";
    EXPECT_TRUE(proxy.WaitForLog("GET " + url + " HTTP/1.1")) << proxy.Log();
    // The origin saw the request in origin form, coming from the proxy.
    EXPECT_TRUE(nginx.WaitForAccessLog("\"GET /data.bin HTTP/1.")) << nginx.AccessLog();
}

TEST_F(RealPeersTest, ProxyStops) {
    SKIP_WITHOUT(HttpProxy);
    uint16_t port = 0;
    {
        HttpProxy proxy;
        port = proxy.Port();
    }
    EXPECT_TRUE(Refused(port));
}

// What differs between the origin servers in the tests that both pass.
template <class Server> struct Origin;
template <> struct Origin<NginxServer> {
    static constexpr const char *kName = "nginx";
    static constexpr const char *kBadConfig = "no_such_directive on;";
    static constexpr const char *kBadConfigMessage = "unknown directive \"no_such_directive\"";
    static constexpr const char *kRedirectConfig = "location = /moved { return 302 /hello.txt; }";
    static constexpr int kRedirectStatus = 302;
};
template <> struct Origin<LighttpdServer> {
    static constexpr const char *kName = "lighttpd";
    static constexpr const char *kBadConfig = "this is not a configuration line";
    static constexpr const char *kBadConfigMessage = "parser failed";
    static constexpr const char *kRedirectConfig =
        "server.modules += ( \"mod_redirect\" )\n"
        "url.redirect = ( \"^/moved$\" => \"/hello.txt\" )";
    static constexpr int kRedirectStatus = 301;
};

template <> struct Origin<ApacheServer> {
    static constexpr const char *kName = "apache2";
    static constexpr const char *kBadConfig = "NoSuchDirective on";
    static constexpr const char *kBadConfigMessage = "Invalid command 'NoSuchDirective'";
    static constexpr const char *kRedirectConfig = "Redirect 302 /moved /hello.txt";
    static constexpr int kRedirectStatus = 302;
};

struct OriginName {
    template <class Server> static std::string GetName(int) { return Origin<Server>::kName; }
};

// Every test in this suite runs against nginx, lighttpd and Apache.
template <class Server> class OriginServerTest : public RealPeersTest {};
using OriginServers = ::testing::Types<NginxServer, LighttpdServer, ApacheServer>;
TYPED_TEST_SUITE(OriginServerTest, OriginServers, OriginName);

TYPED_TEST(OriginServerTest, ServesFileBytes) {
    SKIP_WITHOUT(TypeParam);
    TypeParam server(this->root_);
    std::printf("%s accepted after %lld ms on port %u\n", Origin<TypeParam>::kName,
                static_cast<long long>(server.StartupTime().count()), server.Port());
    EXPECT_NE(server.Port(), 0);
    const std::string &data = this->data_;

    Reply r = Exchange(server.Port(),
                       "GET /data.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(r.ok) << server.ErrorLog();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(data.size()));
    EXPECT_TRUE(r.body == data) << "body of " << r.body.size() << " bytes differs";
    EXPECT_TRUE(server.WaitForAccessLog("127.0.0.1 \"GET /data.bin HTTP/1.1\" 200 " +
                                        std::to_string(data.size()) + " \"-\""))
        << server.AccessLog();

    // A text file gets its type from the configured table.
    Reply text = Exchange(server.Port(), "GET /hello.txt HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(text.ok);
    EXPECT_EQ(text.body, "hello, world\n");
    EXPECT_EQ(text.Header("Content-Type"), "text/plain");
}

TYPED_TEST(OriginServerTest, HeadGivesContentLength) {
    SKIP_WITHOUT(TypeParam);
    TypeParam server(this->root_);
    Reply r = Exchange(server.Port(),
                       "HEAD /data.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(this->data_.size()));
    EXPECT_EQ(r.Header("Accept-Ranges"), "bytes");
    EXPECT_TRUE(r.body.empty());
    EXPECT_TRUE(server.WaitForAccessLog("\"HEAD /data.bin HTTP/1.1\" 200 0 \"-\""))
        << server.AccessLog();
}

// HTTP/1.1 with a Range header: 206 with exactly that slice.
TYPED_TEST(OriginServerTest, Http11RangeGives206WithTheSlice) {
    SKIP_WITHOUT(TypeParam);
    TypeParam server(this->root_);
    const std::string &data = this->data_;
    Reply r = Exchange(server.Port(), "GET /data.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                      "Range: bytes=100-199\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(r.ok);
    std::printf("%s, HTTP/1.1 with Range: bytes=100-199:\n%s\n", Origin<TypeParam>::kName,
                r.head.c_str());
    EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), "HTTP/1.1 206 Partial Content");
    EXPECT_EQ(r.Header("Content-Length"), "100");
    EXPECT_EQ(r.Header("Content-Range"), "bytes 100-199/" + std::to_string(data.size()));
    EXPECT_TRUE(r.body == data.substr(100, 100)) << "body of " << r.body.size() << " bytes";

    // An open-ended range runs to the end of the file.
    Reply tail = Exchange(server.Port(), "GET /data.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                         "Range: bytes=102000-\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(tail.ok);
    EXPECT_EQ(tail.status, 206);
    EXPECT_TRUE(tail.body == data.substr(102000));

    EXPECT_TRUE(server.WaitForAccessLog("\"GET /data.bin HTTP/1.1\" 206 100 \"bytes=100-199\""))
        << server.AccessLog();
}

TYPED_TEST(OriginServerTest, TakesExtraConfig) {
    SKIP_WITHOUT(TypeParam);
    TypeParam server(this->root_, Origin<TypeParam>::kRedirectConfig);
    Reply r = Exchange(server.Port(),
                       "GET /moved HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, Origin<TypeParam>::kRedirectStatus);
    EXPECT_NE(r.Header("Location").find("/hello.txt"), std::string::npos) << r.head;
}

TYPED_TEST(OriginServerTest, BadConfigOrRootThrowsWithTheReason) {
    SKIP_WITHOUT(TypeParam);
    auto started = Clock::now();
    try {
        TypeParam server(this->root_, Origin<TypeParam>::kBadConfig);
        FAIL() << "started with a bad configuration";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find(Origin<TypeParam>::kBadConfigMessage),
                  std::string::npos)
            << e.what();
    }
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
    EXPECT_THROW(TypeParam(this->root_ + "/hello.txt"), std::runtime_error);
}

TYPED_TEST(OriginServerTest, StopsAndTwoRunSideBySide) {
    SKIP_WITHOUT(TypeParam);
    uint16_t first = 0;
    {
        TypeParam a(this->root_);
        TypeParam b(this->root_);
        first = a.Port();
        EXPECT_NE(a.Port(), b.Port());
        EXPECT_EQ(Exchange(a.Port(), "GET /hello.txt HTTP/1.0\r\n\r\n").body, "hello, world\n");
        EXPECT_EQ(Exchange(b.Port(), "GET /hello.txt HTTP/1.0\r\n\r\n").body, "hello, world\n");
    }
    EXPECT_TRUE(Refused(first));
}

// lighttpd (Debian 12: 1.4.69) ignores the Range header of an HTTP/1.0 request and sends the
// whole file with a plain 200: no Content-Range, and no Accept-Ranges either. (nginx answers
// the same request with 206.)
TEST_F(RealPeersTest, LighttpdHttp10RangeGives200WithTheWholeFile) {
    SKIP_WITHOUT(LighttpdServer);
    LighttpdServer lighttpd(root_);
    Reply r = Exchange(lighttpd.Port(), "GET /data.bin HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                                        "Range: bytes=100-199\r\n\r\n");
    ASSERT_TRUE(r.ok);
    std::printf("lighttpd, HTTP/1.0 with Range: bytes=100-199:\n%s\n", r.head.c_str());
    EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), "HTTP/1.0 200 OK");
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(data_.size()));
    EXPECT_EQ(r.Header("Content-Range"), "");
    EXPECT_EQ(r.Header("Accept-Ranges"), "");
    EXPECT_TRUE(r.body == data_) << "body of " << r.body.size() << " bytes differs";
    EXPECT_TRUE(lighttpd.WaitForAccessLog("\"GET /data.bin HTTP/1.0\" 200 " +
                                          std::to_string(data_.size()) + " \"bytes=100-199\""))
        << lighttpd.AccessLog();
    EXPECT_NE(lighttpd.ErrorLog().find("server started"), std::string::npos) << lighttpd.ErrorLog();
}

// ---- Apache ----

// A relative target in mod_alias's Redirect becomes an absolute URL built from the request's
// Host line, its port included: with "Host: 127.0.0.1" (no port) the Location names port 80
// by leaving the port out, not the port the request came to. Without a Host line the name
// comes from ServerName, again with no port.
TEST_F(RealPeersTest, ApacheRedirectLocationTakesThePortFromTheHostLine) {
    SKIP_WITHOUT(ApacheServer);
    ApacheServer apache(root_, "Redirect 302 /r/f.bin /d/f.bin");
    std::printf("apache2 accepted after %lld ms on port %u\n",
                static_cast<long long>(apache.StartupTime().count()), apache.Port());
    const std::string port = std::to_string(apache.Port());

    Reply bare = Exchange(apache.Port(), "GET /r/f.bin HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    ASSERT_TRUE(bare.ok) << apache.ErrorLog();
    std::printf("apache2, HTTP/1.0 redirect with \"Host: 127.0.0.1\":\n%s\n", bare.head.c_str());
    EXPECT_EQ(bare.status, 302);
    EXPECT_EQ(bare.Header("Location"), "http://127.0.0.1/d/f.bin");

    Reply withPort =
        Exchange(apache.Port(), "GET /r/f.bin HTTP/1.0\r\nHost: 127.0.0.1:" + port + "\r\n\r\n");
    ASSERT_TRUE(withPort.ok);
    EXPECT_EQ(withPort.status, 302);
    EXPECT_EQ(withPort.Header("Location"), "http://127.0.0.1:" + port + "/d/f.bin");

    Reply noHost = Exchange(apache.Port(), "GET /r/f.bin HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(noHost.ok);
    EXPECT_EQ(noHost.status, 302);
    EXPECT_EQ(noHost.Header("Location"), "http://127.0.0.1/d/f.bin");

    EXPECT_TRUE(apache.WaitForAccessLog("127.0.0.1 \"GET /r/f.bin HTTP/1.0\" 302 "))
        << apache.AccessLog();
}

// Apache honours Range in an HTTP/1.0 request (206 with the slice, unlike lighttpd), answers
// with an "HTTP/1.1" status line, and closes the connection after the body when the request
// did not ask for keep-alive.
TEST_F(RealPeersTest, ApacheHttp10RangeGives206AndCloses) {
    SKIP_WITHOUT(ApacheServer);
    ApacheServer apache(root_);
    Connection c(apache.Port());
    ASSERT_TRUE(c.Send("GET /data.bin HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                       "Range: bytes=100-199\r\n\r\n"));
    Reply r = c.ReadHead();
    ASSERT_TRUE(r.ok) << apache.ErrorLog();
    std::printf("apache2, HTTP/1.0 with Range: bytes=100-199:\n%s\n", r.head.c_str());
    EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), "HTTP/1.1 206 Partial Content");
    EXPECT_EQ(r.Header("Content-Length"), "100");
    EXPECT_EQ(r.Header("Content-Range"), "bytes 100-199/" + std::to_string(data_.size()));
    EXPECT_EQ(r.Header("Connection"), "close");
    EXPECT_TRUE(c.ReadBody(100) == data_.substr(100, 100));
    std::string extra;
    EXPECT_TRUE(c.ClosedWithin(2s, &extra));
    EXPECT_EQ(extra, "");
    EXPECT_TRUE(apache.WaitForAccessLog("127.0.0.1 \"GET /data.bin HTTP/1.0\" 206 100 "
                                        "\"bytes=100-199\""))
        << apache.AccessLog();
}

// An HTTP/1.0 request that asks for keep-alive keeps its connection: the reply has a
// Content-Length and the connection carries the next request.
TEST_F(RealPeersTest, ApacheKeepsAnHttp10KeepAliveConnectionOpen) {
    SKIP_WITHOUT(ApacheServer);
    ApacheServer apache(root_);
    Connection c(apache.Port());
    const std::string request =
        "GET /hello.txt HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n";
    ASSERT_TRUE(c.Send(request));
    Reply r = c.ReadHead();
    ASSERT_TRUE(r.ok) << apache.ErrorLog();
    std::printf("apache2, HTTP/1.0 with Connection: keep-alive:\n%s\n", r.head.c_str());
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Connection"), "Keep-Alive");
    EXPECT_EQ(r.Header("Content-Length"), "13");
    EXPECT_EQ(c.ReadBody(13), "hello, world\n");
    std::string extra;
    EXPECT_FALSE(c.ClosedWithin(500ms, &extra)) << "apache2 closed the connection after the body";
    EXPECT_EQ(extra, "");
    ASSERT_TRUE(c.Send(request));
    Reply again = c.ReadHead();
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(c.ReadBody(13), "hello, world\n");
}

// Started as root, apache2 serves as www-data, which cannot pass through a directory of mode
// 0700 above the served one: the constructor says so instead of starting a server that
// answers 403 to everything.
TEST_F(RealPeersTest, ApacheAsRootRejectsARootBehindAClosedDirectory) {
    SKIP_WITHOUT(ApacheServer);
    if (geteuid() != 0)
        GTEST_SKIP() << "only started as root does apache2 switch users";
    std::string closed = root_ + "/closed";
    fs::create_directories(closed + "/inner");
    ASSERT_EQ(chmod(closed.c_str(), 0700), 0);
    ASSERT_EQ(chmod((closed + "/inner").c_str(), 0700), 0);
    try {
        ApacheServer apache(closed + "/inner");
        FAIL() << "started behind a directory that its workers cannot pass";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find(closed + " is closed to it"), std::string::npos)
            << e.what();
    }
    // Nothing was changed on the way to that error.
    struct stat st {};
    ASSERT_EQ(stat((closed + "/inner").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// ---- squid ----

// squid with Debian's defaults forwards to an origin on 127.0.0.1 and keeps an HTTP/1.0
// client's connection open after the reply when the request says "Proxy-Connection:
// Keep-Alive": the reply has a Content-Length, so a client must stop reading there, and the
// same connection carries a second request.
TEST_F(RealPeersTest, SquidKeepsAnHttp10KeepAliveConnectionOpen) {
    SKIP_WITHOUT(NginxServer);
    SKIP_WITHOUT(SquidProxy);
    NginxServer nginx(root_);
    SquidProxy squid;
    std::printf("squid accepted after %lld ms on port %u\n",
                static_cast<long long>(squid.StartupTime().count()), squid.Port());
    const std::string origin = "127.0.0.1:" + std::to_string(nginx.Port());

    Connection c(squid.Port());
    ASSERT_TRUE(c.Send("GET http://" + origin + "/data.bin HTTP/1.0\r\nHost: " + origin +
                       "\r\nProxy-Connection: Keep-Alive\r\n\r\n"));
    Reply r = c.ReadHead();
    ASSERT_TRUE(r.ok) << squid.CacheLog();
    std::printf("squid, HTTP/1.0 with Proxy-Connection: Keep-Alive:\n%s\n", r.head.c_str());
    EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), "HTTP/1.1 200 OK");
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(data_.size()));
    EXPECT_EQ(r.Header("Connection"), "keep-alive");
    EXPECT_TRUE(c.ReadBody(data_.size()) == data_);
    std::string extra;
    EXPECT_FALSE(c.ClosedWithin(500ms, &extra)) << "squid closed the connection after the body";
    EXPECT_EQ(extra, "");

    ASSERT_TRUE(c.Send("GET http://" + origin + "/hello.txt HTTP/1.0\r\nHost: " + origin +
                       "\r\nProxy-Connection: Keep-Alive\r\n\r\n"));
    Reply again = c.ReadHead();
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.Header("Content-Length"), "13");
    EXPECT_EQ(c.ReadBody(13), "hello, world\n");

    EXPECT_TRUE(squid.WaitForLog("TCP_MISS/200 ")) << squid.Log();
    EXPECT_TRUE(squid.WaitForLog(" GET http://" + origin + "/data.bin ")) << squid.Log();
    EXPECT_TRUE(squid.WaitForLog(" GET http://" + origin + "/hello.txt ")) << squid.Log();
    // The origin saw the requests in origin form, coming from squid.
    EXPECT_TRUE(nginx.WaitForAccessLog("127.0.0.1 \"GET /data.bin HTTP/1.1\" 200"))
        << nginx.AccessLog();
}

// Without "Proxy-Connection: Keep-Alive", squid closes an HTTP/1.0 client's connection after
// the body (and says so), so reading to the end of the stream works there.
TEST_F(RealPeersTest, SquidClosesAPlainHttp10Connection) {
    SKIP_WITHOUT(NginxServer);
    SKIP_WITHOUT(SquidProxy);
    NginxServer nginx(root_);
    SquidProxy squid;
    const std::string origin = "127.0.0.1:" + std::to_string(nginx.Port());
    Connection c(squid.Port());
    ASSERT_TRUE(
        c.Send("GET http://" + origin + "/data.bin HTTP/1.0\r\nHost: " + origin + "\r\n\r\n"));
    Reply r = c.ReadHead();
    ASSERT_TRUE(r.ok) << squid.CacheLog();
    std::printf("squid, plain HTTP/1.0:\n%s\n", r.head.c_str());
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(data_.size()));
    EXPECT_EQ(r.Header("Connection"), "close");
    EXPECT_TRUE(c.ReadBody(data_.size()) == data_);
    std::string extra;
    EXPECT_TRUE(c.ClosedWithin(2s, &extra));
    EXPECT_EQ(extra, "");
}

// squid stops on SIGTERM, before the SIGKILL that follows 3 s later, and its port is closed
// then.
TEST_F(RealPeersTest, SquidStops) {
    SKIP_WITHOUT(SquidProxy);
    uint16_t port = 0;
    Clock::time_point stopping;
    {
        SquidProxy squid;
        port = squid.Port();
        stopping = Clock::now();
    }
    auto stop = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stopping);
    std::printf("squid stopped after %lld ms\n", static_cast<long long>(stop.count()));
    EXPECT_LT(stop, 3s);
    EXPECT_TRUE(Refused(port));
}

// ---- python's http.server ----

// http.server sends files with "HTTP/1.0 200 OK", one request per connection, and ignores
// Range: the whole file comes back with a 200, no Content-Range and no Accept-Ranges.
TEST_F(RealPeersTest, PythonServesWholeFilesAndIgnoresRange) {
    SKIP_WITHOUT(PythonHttpServer);
    PythonHttpServer python(root_);
    std::printf("python3 http.server accepted after %lld ms on port %u\n",
                static_cast<long long>(python.StartupTime().count()), python.Port());
    const std::string size = std::to_string(data_.size());

    Reply r = Exchange(python.Port(), "GET /data.bin HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                                      "Range: bytes=100-199\r\n\r\n");
    ASSERT_TRUE(r.ok) << python.ErrorLog();
    std::printf("python3 http.server, HTTP/1.0 with Range: bytes=100-199:\n%s\n", r.head.c_str());
    EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), "HTTP/1.0 200 OK");
    EXPECT_EQ(r.Header("Content-Length"), size);
    EXPECT_EQ(r.Header("Content-Range"), "");
    EXPECT_EQ(r.Header("Accept-Ranges"), "");
    EXPECT_TRUE(r.body == data_) << "body of " << r.body.size() << " bytes differs";

    // An HTTP/1.1 request gets the same, and the connection is closed after it.
    Connection c(python.Port());
    ASSERT_TRUE(c.Send("GET /data.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                       "Range: bytes=100-199\r\n\r\n"));
    Reply r11 = c.ReadHead();
    ASSERT_TRUE(r11.ok);
    EXPECT_EQ(r11.head.substr(0, r11.head.find("\r\n")), "HTTP/1.0 200 OK");
    EXPECT_TRUE(c.ReadBody(data_.size()) == data_);
    std::string extra;
    EXPECT_TRUE(c.ClosedWithin(2s, &extra));
    EXPECT_EQ(extra, "");

    Reply head = Exchange(python.Port(), "HEAD /hello.txt HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(head.ok);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.Header("Content-Length"), "13");
    EXPECT_EQ(head.Header("Content-Type"), "text/plain");
    Reply missing = Exchange(python.Port(), "GET /no-such-file HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(missing.ok);
    EXPECT_EQ(missing.status, 404);

    // Its log in the common format: the size of the file for a 200, no Range header.
    EXPECT_TRUE(python.WaitForAccessLog("127.0.0.1 \"GET /data.bin HTTP/1.0\" 200 " + size +
                                        " \"-\"\n127.0.0.1 \"GET /data.bin HTTP/1.1\" 200 " + size +
                                        " \"-\"\n"))
        << python.AccessLog() << python.ErrorLog();
    EXPECT_TRUE(python.WaitForAccessLog("127.0.0.1 \"HEAD /hello.txt HTTP/1.0\" 200 0 \"-\"\n"))
        << python.AccessLog();
    EXPECT_TRUE(python.WaitForAccessLog("127.0.0.1 \"GET /no-such-file HTTP/1.0\" 404 - \"-\"\n"))
        << python.AccessLog();
}

TEST_F(RealPeersTest, PythonRejectsAFileAsRootAndStops) {
    SKIP_WITHOUT(PythonHttpServer);
    EXPECT_THROW(PythonHttpServer(root_ + "/hello.txt"), std::runtime_error);
    uint16_t port = 0;
    {
        PythonHttpServer a(root_);
        PythonHttpServer b(root_);
        port = a.Port();
        EXPECT_NE(a.Port(), b.Port());
        EXPECT_EQ(Exchange(b.Port(), "GET /hello.txt HTTP/1.0\r\n\r\n").body, "hello, world\n");
    }
    EXPECT_TRUE(Refused(port));
}

// ---- mini_httpd ----

// mini_httpd ignores Range in HTTP/1.0 and HTTP/1.1 alike: a 200 with the whole file, no
// Content-Range, no Accept-Ranges. Its status line repeats the request's version, and it
// closes every connection after the reply.
TEST_F(RealPeersTest, MiniHttpdServesWholeFilesAndIgnoresRange) {
    SKIP_WITHOUT(MiniHttpd);
    MiniHttpd mini(root_);
    std::printf("mini_httpd accepted after %lld ms on port %u\n",
                static_cast<long long>(mini.StartupTime().count()), mini.Port());
    const std::string size = std::to_string(data_.size());

    for (std::string version : {"HTTP/1.0", "HTTP/1.1"}) {
        SCOPED_TRACE(version);
        Reply r = Exchange(mini.Port(), "GET /data.bin " + version +
                                            "\r\nHost: 127.0.0.1\r\nRange: bytes=100-199\r\n\r\n");
        ASSERT_TRUE(r.ok) << mini.ErrorLog();
        std::printf("mini_httpd, %s with Range: bytes=100-199:\n%s\n", version.c_str(),
                    r.head.c_str());
        EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), version + " 200 Ok");
        EXPECT_EQ(r.Header("Content-Length"), size);
        EXPECT_EQ(r.Header("Content-Range"), "");
        EXPECT_EQ(r.Header("Accept-Ranges"), "");
        EXPECT_EQ(r.Header("Connection"), "close");
        EXPECT_TRUE(r.body == data_) << "body of " << r.body.size() << " bytes differs";
    }
    Reply head = Exchange(mini.Port(), "HEAD /hello.txt HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(head.ok);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.Header("Content-Length"), "13");
    EXPECT_EQ(head.body, "");
    Reply missing = Exchange(mini.Port(), "GET /no-such-file HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(missing.ok);
    EXPECT_EQ(missing.status, 404);

    // Its log in the common format (the start-up probe's connection is there too, as
    // '"UNKNOWN  UNKNOWN" 400', at some point).
    for (const std::string &line :
         {"127.0.0.1 \"GET /data.bin HTTP/1.0\" 200 " + size + " \"-\"\n",
          "127.0.0.1 \"GET /data.bin HTTP/1.1\" 200 " + size + " \"-\"\n",
          std::string("127.0.0.1 \"HEAD /hello.txt HTTP/1.0\" 200 0 \"-\"\n"),
          std::string("127.0.0.1 \"GET /no-such-file HTTP/1.0\" 404 - \"-\"\n")})
        EXPECT_TRUE(mini.WaitForAccessLog(line)) << line << "not in\n" << mini.AccessLog();
}

TEST_F(RealPeersTest, MiniHttpdRejectsAFileAsRootAndStops) {
    SKIP_WITHOUT(MiniHttpd);
    EXPECT_THROW(MiniHttpd(root_ + "/hello.txt"), std::runtime_error);
    uint16_t port = 0;
    {
        MiniHttpd a(root_);
        MiniHttpd b(root_);
        port = a.Port();
        EXPECT_NE(a.Port(), b.Port());
        EXPECT_EQ(Exchange(b.Port(), "GET /hello.txt HTTP/1.0\r\n\r\n").body, "hello, world\n");
    }
    EXPECT_TRUE(Refused(port));
}

} // namespace
} // namespace testsupport
