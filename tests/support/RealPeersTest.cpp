#include "tests/support/RealPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

// Skips the test when the peer's binary (Peer is NginxServer, LighttpdServer or HttpProxy)
// is not installed.
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

struct OriginName {
    template <class Server> static std::string GetName(int) { return Origin<Server>::kName; }
};

// Every test in this suite runs against nginx and against lighttpd.
template <class Server> class OriginServerTest : public RealPeersTest {};
using OriginServers = ::testing::Types<NginxServer, LighttpdServer>;
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

} // namespace
} // namespace testsupport
