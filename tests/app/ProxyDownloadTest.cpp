// The real program behind proxies as a user's machine sets them: the variables curl follows
// (http_proxy, https_proxy, all_proxy, no_proxy), squid asking for Basic credentials
// (basic_ncsa_auth), tinyproxy asking for none, the options' proxy going first, the
// SystemProxy parameter, a proxy's question answered at a terminal, and one nobody can answer.
#include "RealProgram.h"
#include "tests/support/RangeServer.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

namespace {

using namespace realprogram;
using testsupport::HttpProxy;
using testsupport::NginxServer;
using testsupport::SquidProxy;

constexpr int64_t kFileSize = 4LL << 20;

// A user whose password has the characters a URL must escape.
const SquidProxy::User kUser{"dl-user", "p@ss:w/rd %x"};
const char *const kUserInUrl = "dl-user:p%40ss%3Aw%2Frd%20%25x";

std::string UrlOf(uint16_t port) {
    return "http://127.0.0.1:" + std::to_string(port) + "/dir/setup.sh";
}

std::string ProxyUrl(uint16_t port, const std::string &userInfo = "") {
    return "http://" + (userInfo.empty() ? "" : userInfo + "@") + "127.0.0.1:" +
           std::to_string(port);
}

#define REQUIRE_PEER(Peer)                                                                         \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!Peer::Available(&why))                                                                \
            GTEST_SKIP() << why;                                                                   \
    } while (false)

// Runs a download that must complete: exit 0, the file exact, nothing left. Its output.
std::string ExpectComplete(DownloadSetup &setup, const std::string &url,
                           const std::vector<std::string> &environment,
                           std::vector<std::string> parameters = {}) {
    parameters.push_back("CompletionLaunchApplication:0");
    parameters.push_back("MaximumDetailToDisplay:2");
    auto [status, output] = setup.Run(url, 120s, parameters, environment);
    ExpectExitCode(status, 0, output);
    EXPECT_TRUE(fs::exists(setup.downloaded)) << output;
    EXPECT_EQ(FirstDifference(setup.source, setup.downloaded), -1) << "first differing byte";
    setup.ExpectNoPieceFileLeft();
    return output;
}

bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

TEST(ProxyDownload, HttpProxyWithCredentialsInItsUrl) {
    REQUIRE_PEER(SquidProxy);
    REQUIRE_PEER(NginxServer);
    DownloadSetup setup(kFileSize);
    NginxServer nginx(setup.served.string());
    SquidProxy squid({kUser});
    const std::string output = ExpectComplete(
        setup, UrlOf(nginx.Port()), {"http_proxy=" + ProxyUrl(squid.Port(), kUserInUrl)});
    EXPECT_TRUE(Has(output, "Through the proxy 127.0.0.1:" + std::to_string(squid.Port()) +
                                ", from http_proxy."))
        << output;
    EXPECT_TRUE(Has(squid.Log(), " dl-user ")) << squid.Log();
    EXPECT_FALSE(Has(output, kUser.password)) << "the password is never shown";
    EXPECT_FALSE(Has(output, "p%40ss")) << "nor its escaped form";
}

// https through the proxy is a tunnel (CONNECT) that carries the credentials; the request
// inside goes to the origin as on a direct connection.
TEST(ProxyDownload, HttpsProxyTunnelWithCredentials) {
    REQUIRE_PEER(SquidProxy);
    REQUIRE_PEER(NginxServer);
    auto &certificates = testsupport::SharedTestCertificates(); // SSL_CERT_FILE for the child
    const auto certificate = certificates.Issue("download");
    DownloadSetup setup(kFileSize);
    NginxServer nginx(setup.served.string(), {certificate.certificate, certificate.key});
    SquidProxy squid({kUser});
    const std::string url = "https://localhost:" + std::to_string(nginx.Port()) + "/dir/setup.sh";
    ExpectComplete(setup, url,
                   {"https_proxy=" + ProxyUrl(squid.Port(), kUserInUrl),
                    "http_proxy=" + ProxyUrl(1)}); // http_proxy is not https's
    EXPECT_TRUE(Has(squid.Log(), "CONNECT localhost:" + std::to_string(nginx.Port())))
        << squid.Log();
    EXPECT_TRUE(Has(squid.Log(), " dl-user ")) << squid.Log();
}

// HTTP_PROXY in upper case is a web server's CGI variable, not the user's: it is not read;
// all_proxy serves when the scheme's own variable is not set.
TEST(ProxyDownload, AllProxyServesAndUpperCaseHttpProxyIsIgnored) {
    REQUIRE_PEER(HttpProxy);
    REQUIRE_PEER(NginxServer);
    DownloadSetup setup(kFileSize);
    NginxServer nginx(setup.served.string());
    HttpProxy tinyproxy;
    ExpectComplete(setup, UrlOf(nginx.Port()),
                   {"HTTP_PROXY=" + ProxyUrl(1), "all_proxy=" + ProxyUrl(tinyproxy.Port())});
    EXPECT_TRUE(tinyproxy.WaitForLog(UrlOf(nginx.Port()))) << tinyproxy.Log();
}

// A host on no_proxy is reached directly, and the credentials of the proxy never go to it.
TEST(ProxyDownload, NoProxyHostsAreReachedDirectlyWithoutTheProxysCredentials) {
    REQUIRE_PEER(SquidProxy);
    DownloadSetup setup(kFileSize);
    testsupport::RangeServer origin(testsupport::ReadFile(setup.source));
    SquidProxy squid({kUser});
    for (const char *noProxy : {"127.0.0.1", "corp.example, 127.0.0.1", "*"}) {
        SCOPED_TRACE(noProxy);
        fs::remove(setup.downloaded);
        ExpectComplete(setup, UrlOf(origin.Port()),
                       {"http_proxy=" + ProxyUrl(squid.Port(), kUserInUrl),
                        std::string("no_proxy=") + noProxy});
    }
    for (const auto &request : origin.Requests())
        EXPECT_FALSE(Has(request.request, "Authorization")) << request.request;
    // (The built-in mirrors on 127.0.0.2 to .4 are no_proxy's only with "*".)
    EXPECT_FALSE(Has(squid.Log(), UrlOf(origin.Port()))) << squid.Log();
}

// The options' proxy goes first; SystemProxy:0 leaves the system's settings aside.
TEST(ProxyDownload, TheOptionsProxyGoesFirstAndTheSystemsCanBeTurnedOff) {
    REQUIRE_PEER(HttpProxy);
    REQUIRE_PEER(NginxServer);
    DownloadSetup setup(kFileSize);
    NginxServer nginx(setup.served.string());
    HttpProxy tinyproxy;
    const std::vector<std::string> unusable = {"http_proxy=" + ProxyUrl(1)};
    const std::string output =
        ExpectComplete(setup, UrlOf(nginx.Port()), unusable,
                       {"ProxyServer:127.0.0.1", "ProxyPort:" + std::to_string(tinyproxy.Port())});
    EXPECT_TRUE(Has(output, ", from the options.")) << output;
    EXPECT_TRUE(tinyproxy.WaitForLog(UrlOf(nginx.Port()))) << tinyproxy.Log();
    fs::remove(setup.downloaded);
    ExpectComplete(setup, UrlOf(nginx.Port()), unusable, {"SystemProxy:0"});
}

// A proxy that asks for credentials nobody can give here (no terminal) ends the download
// promptly, saying which proxy asked for what: exit 2, and no 100 attempts.
TEST(ProxyDownload, AProxyAskingForCredentialsNobodyGivesEndsPromptly) {
    REQUIRE_PEER(SquidProxy);
    REQUIRE_PEER(NginxServer);
    DownloadSetup setup(kFileSize);
    NginxServer nginx(setup.served.string());
    SquidProxy squid({kUser});
    const std::string proxy = "127.0.0.1:" + std::to_string(squid.Port());
    struct Case {
        const char *name;
        std::string userInfo;
        std::string text;
    } cases[] = {
        {"no credentials", "",
         "The proxy " + proxy + " asks for a user name and password (it says: \"download-test\")."},
        {"wrong credentials", "dl-user:wrong",
         "The proxy " + proxy +
             " refused the user name and password (it says: \"download-test\")."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        auto [status, output] = setup.Run(UrlOf(nginx.Port()), 60s, {},
                                          {"http_proxy=" + ProxyUrl(squid.Port(), c.userInfo)});
        EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
        ExpectExitCode(status, 2, output);
        EXPECT_TRUE(Has(output, "== Connection error ==")) << output;
        EXPECT_TRUE(Has(output, c.text)) << output;
        EXPECT_FALSE(fs::exists(setup.downloaded));
        setup.ExpectNoPieceFileLeft();
    }
    EXPECT_FALSE(Has(nginx.AccessLog(), "setup.sh")) << "nothing reached the origin";
}

// At a terminal the console asks for the user name and the password, and the request is made
// again with them. (script(1) types the answers at once, before the password's echo is off.)
TEST(ProxyDownload, TheConsoleAsksForTheProxysCredentialsAtATerminal) {
    REQUIRE_PEER(SquidProxy);
    REQUIRE_PEER(NginxServer);
    if (!fs::exists("/usr/bin/script"))
        GTEST_SKIP() << "script (util-linux) is missing";
    DownloadSetup setup(kFileSize);
    NginxServer nginx(setup.served.string());
    SquidProxy squid({kUser});
    // script(1) gives the program a terminal and types the answers from its input into it.
    const fs::path answers = setup.temp.Path() / "answers";
    std::ofstream(answers) << kUser.name << "\n" << kUser.password << "\n";
    const fs::path log = setup.temp.Path() / "terminal.log";
    std::optional<int> status;
    {
        const std::string command = setup.program.string() + " " + UrlOf(nginx.Port()) +
                                    " CompletionLaunchApplication:0";
        Child child({"/usr/bin/script", "-q", "-e", "-c", command, "/dev/null"},
                    ConsoleEnvironment(setup.tmpdir, {"http_proxy=" + ProxyUrl(squid.Port())}),
                    setup.cwd, log, answers);
        status = child.Wait(120s);
    }
    const std::string output = testsupport::ReadFile(log);
    ExpectExitCode(status, 0, output);
    EXPECT_TRUE(Has(output, "asks for a user name and password")) << output;
    EXPECT_TRUE(Has(output, "Password: ")) << output;
    EXPECT_EQ(FirstDifference(setup.source, setup.downloaded), -1);
    EXPECT_TRUE(Has(squid.Log(), " dl-user ")) << squid.Log();
}

} // namespace
