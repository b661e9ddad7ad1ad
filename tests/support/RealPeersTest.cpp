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

#define SKIP_WITHOUT_NGINX()                                                                       \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!NginxServer::Available(&why))                                                         \
            GTEST_SKIP() << "real peer missing, test skipped: " << why;                            \
    } while (0)

#define SKIP_WITHOUT_PROXY()                                                                       \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!HttpProxy::Available(&why))                                                           \
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

TEST_F(RealPeersTest, NginxServesFileBytes) {
    SKIP_WITHOUT_NGINX();
    NginxServer nginx(root_);
    std::printf("nginx accepted after %lld ms on port %u\n",
                static_cast<long long>(nginx.StartupTime().count()), nginx.Port());
    EXPECT_NE(nginx.Port(), 0);

    Reply r = Exchange(nginx.Port(),
                       "GET /data.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(data_.size()));
    EXPECT_TRUE(r.body == data_) << "body of " << r.body.size() << " bytes differs";
    EXPECT_TRUE(nginx.WaitForAccessLog("127.0.0.1 \"GET /data.bin HTTP/1.1\" 200 " +
                                       std::to_string(data_.size()) + " \"-\""))
        << nginx.AccessLog();
}

TEST_F(RealPeersTest, NginxHeadGivesContentLength) {
    SKIP_WITHOUT_NGINX();
    NginxServer nginx(root_);
    Reply r = Exchange(nginx.Port(),
                       "HEAD /data.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(data_.size()));
    EXPECT_EQ(r.Header("Accept-Ranges"), "bytes");
    EXPECT_TRUE(r.body.empty());
    EXPECT_TRUE(nginx.WaitForAccessLog("\"HEAD /data.bin HTTP/1.1\" 200 0 \"-\""))
        << nginx.AccessLog();
}

TEST_F(RealPeersTest, NginxRangeGives206WithTheSlice) {
    SKIP_WITHOUT_NGINX();
    NginxServer nginx(root_);
    Reply r = Exchange(nginx.Port(), "GET /data.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                     "Range: bytes=1000-1999\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.Header("Content-Length"), "1000");
    EXPECT_EQ(r.Header("Content-Range"), "bytes 1000-1999/" + std::to_string(data_.size()));
    EXPECT_TRUE(r.body == data_.substr(1000, 1000)) << "body of " << r.body.size() << " bytes";

    // An open-ended range runs to the end of the file.
    Reply tail = Exchange(nginx.Port(), "GET /data.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                        "Range: bytes=102000-\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(tail.ok);
    EXPECT_EQ(tail.status, 206);
    EXPECT_TRUE(tail.body == data_.substr(102000));

    EXPECT_TRUE(nginx.WaitForAccessLog("\"GET /data.bin HTTP/1.1\" 206 1000 \"bytes=1000-1999\""))
        << nginx.AccessLog();
}

TEST_F(RealPeersTest, NginxTakesExtraServerConfig) {
    SKIP_WITHOUT_NGINX();
    NginxServer nginx(root_, "location = /moved { return 302 /hello.txt; }");
    Reply r = Exchange(nginx.Port(),
                       "GET /moved HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.status, 302);
    EXPECT_NE(r.Header("Location").find("/hello.txt"), std::string::npos) << r.head;
}

TEST_F(RealPeersTest, NginxBadConfigThrowsWithTheErrorLog) {
    SKIP_WITHOUT_NGINX();
    auto started = Clock::now();
    try {
        NginxServer nginx(root_, "no_such_directive on;");
        FAIL() << "started with a bad configuration";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find("unknown directive \"no_such_directive\""),
                  std::string::npos)
            << e.what();
    }
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
}

TEST_F(RealPeersTest, NginxStopsAndTwoRunSideBySide) {
    SKIP_WITHOUT_NGINX();
    uint16_t first = 0;
    {
        NginxServer a(root_);
        NginxServer b(root_);
        first = a.Port();
        EXPECT_NE(a.Port(), b.Port());
        EXPECT_EQ(Exchange(a.Port(), "GET /hello.txt HTTP/1.0\r\n\r\n").body, "hello, world\n");
        EXPECT_EQ(Exchange(b.Port(), "GET /hello.txt HTTP/1.0\r\n\r\n").body, "hello, world\n");
    }
    EXPECT_TRUE(Refused(first));
}

TEST_F(RealPeersTest, ProxyForwardsToLoopbackOrigin) {
    SKIP_WITHOUT_NGINX();
    SKIP_WITHOUT_PROXY();
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
    SKIP_WITHOUT_PROXY();
    uint16_t port = 0;
    {
        HttpProxy proxy;
        port = proxy.Port();
    }
    EXPECT_TRUE(Refused(port));
}

} // namespace
} // namespace testsupport
