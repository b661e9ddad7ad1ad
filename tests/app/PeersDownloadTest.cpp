// The real program against the servers and proxies users meet, each started on loopback with
// its own configuration: squid as the proxy of the options (it keeps the connection open after
// each answer), Apache redirecting to a path on its ephemeral port, lighttpd and mini_httpd
// (whole files for HTTP/1.0 range requests), python's http.server (no ranges), and an empty
// file. Each download must end with exit code 0 and a byte-identical file.
#include "RealProgram.h"
#include "engine/HTTP.h"
#include "tests/support/RealPeers.h"

#include <gtest/gtest.h>

#include <iostream>
#include <regex>

namespace {

using namespace realprogram;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int64_t kFileSize = 8LL << 20;
constexpr int64_t kWholeFileSize = 16LL << 20;
#else
constexpr int64_t kFileSize = 16LL << 20;
constexpr int64_t kWholeFileSize = 64LL << 20;
#endif

std::string UrlOf(uint16_t port, const std::string &path = "/dir/setup.sh") {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

// A download that the program completes: exit 0, the file exact, nothing left behind.
void ExpectComplete(DownloadSetup &setup, const std::string &url,
                    const std::vector<std::string> &parameters = {}) {
    auto [status, output] = setup.Run(url, 120s, [&] {
        std::vector<std::string> all = {"CompletionLaunchApplication:0"};
        all.insert(all.end(), parameters.begin(), parameters.end());
        return all;
    }());
    ExpectExitCode(status, 0, output);
    ASSERT_TRUE(fs::exists(setup.downloaded)) << output;
    EXPECT_EQ(FirstDifference(setup.source, setup.downloaded), -1) << "first differing byte";
    setup.ExpectNoPieceFileLeft();
}

// The body bytes an origin sent, from its access log (the fourth field of its lines).
int64_t BytesServed(const std::string &log) {
    int64_t sum = 0;
    const std::regex line(R"re(" (\d{3}) (\d+) )re");
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it)
        sum += std::stoll((*it)[2]);
    return sum;
}

// Servers that serve as another user when the tests run as root (Apache's workers as www-data,
// mini_httpd as nobody) must pass through the test's folder.
void PassableByOthers(const DownloadSetup &setup) {
    fs::permissions(setup.temp.Path(), fs::perms::others_exec, fs::perm_options::add);
}

#define REQUIRE_PEER(Peer)                                                                         \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!Peer::Available(&why))                                                                \
            GTEST_SKIP() << why;                                                                   \
    } while (false)

TEST(PeersDownload, SquidAsTheProxyOfTheOptions) {
    REQUIRE_PEER(testsupport::SquidProxy);
    REQUIRE_PEER(testsupport::NginxServer);
    DownloadSetup setup(kFileSize);
    testsupport::NginxServer nginx(setup.served.string());
    testsupport::SquidProxy squid;
    // The size request through squid ends with its answer, not when squid gives up the
    // connection it keeps open.
    double modified = 0;
    int64_t size = -1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        engine::FetchFileInfo(UrlOf(nginx.Port()), "127.0.0.1", squid.Port(), modified, size));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(size, kFileSize);
    EXPECT_LT(took, 1s);
    std::cout << "[ squid    ] size request answered in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";

    ExpectComplete(setup, UrlOf(nginx.Port()),
                   {"ProxyServer:127.0.0.1", "ProxyPort:" + std::to_string(squid.Port())});
    EXPECT_NE(squid.Log().find(UrlOf(nginx.Port())), std::string::npos) << squid.Log();
}

TEST(PeersDownload, ApacheRedirectingToAPathOnItsOwnPort) {
    REQUIRE_PEER(testsupport::ApacheServer);
    DownloadSetup setup(kFileSize);
    PassableByOthers(setup);
    testsupport::ApacheServer apache(setup.served.string(),
                                     "Redirect 302 /r/setup.sh /dir/setup.sh");
    ExpectComplete(setup, UrlOf(apache.Port(), "/r/setup.sh"));
}

// lighttpd answers HTTP/1.0 range requests with the whole file: the file comes in one stream,
// and the server sends it not even twice in all.
TEST(PeersDownload, LighttpdSendingWholeFiles) {
    REQUIRE_PEER(testsupport::LighttpdServer);
    DownloadSetup setup(kWholeFileSize);
    testsupport::LighttpdServer lighttpd(setup.served.string());
    ExpectComplete(setup, UrlOf(lighttpd.Port()));
    std::this_thread::sleep_for(200ms); // the last lines of the log
    const int64_t served = BytesServed(lighttpd.AccessLog());
    std::cout << "[ lighttpd ] " << served << " bytes served for a file of " << kWholeFileSize
              << "\n";
    EXPECT_LT(served, 2 * kWholeFileSize) << lighttpd.AccessLog();
}

TEST(PeersDownload, PythonHttpServerWithoutRanges) {
    REQUIRE_PEER(testsupport::PythonHttpServer);
    DownloadSetup setup(kFileSize);
    testsupport::PythonHttpServer python(setup.served.string());
    ExpectComplete(setup, UrlOf(python.Port()));
}

TEST(PeersDownload, MiniHttpdWithoutRanges) {
    REQUIRE_PEER(testsupport::MiniHttpd);
    DownloadSetup setup(kFileSize);
    PassableByOthers(setup);
    testsupport::MiniHttpd mini(setup.served.string());
    ExpectComplete(setup, UrlOf(mini.Port()));
}

TEST(PeersDownload, AnEmptyFile) {
    REQUIRE_PEER(testsupport::NginxServer);
    DownloadSetup setup(0);
    fs::resize_file(setup.source, 0);
    testsupport::NginxServer nginx(setup.served.string());
    ExpectComplete(setup, UrlOf(nginx.Port()));
    EXPECT_EQ(fs::file_size(setup.downloaded), 0u);
}

} // namespace
