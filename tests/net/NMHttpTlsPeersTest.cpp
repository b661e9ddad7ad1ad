// The HTTP client over TLS against real peers on loopback: nginx serving https with
// certificates of a test authority (the trust store through SSL_CERT_FILE), tinyproxy
// tunnelling with CONNECT, and redirects between http and https.
#include "net/NMHttp.h"

#include "HttpFixture.h"
#include "NtlmMessages.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TlsTestServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace httptest;
using net::ESockError;
using testsupport::CertificateRequest;
using testsupport::HttpProxy;
using testsupport::NginxServer;
using testsupport::NginxTls;
using testsupport::PatternBytes;
using testsupport::ReadFile;

namespace {

NginxTls Served(const testsupport::ServerCertificate &c) {
    return {c.certificate, c.key};
}

class TlsPeers : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!NginxServer::Available(&why))
            GTEST_SKIP() << "real peer missing, test skipped: " << why;
        certificates = &testsupport::SharedTestCertificates();
        root = std::filesystem::path(::testing::TempDir()) /
               ("nmhttp_tls_root_" + std::to_string(::getpid()));
        std::filesystem::create_directories(root);
        content = PatternBytes(0, 3 * 1000 * 1000 + 7); // several records, no round size
        std::ofstream(root / "setup.exe", std::ios::binary) << content;
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    // nginx over TLS with a certificate made for the request.
    std::unique_ptr<NginxServer> Https(const std::string &name, const CertificateRequest &r = {},
                                       const std::string &extra = "") {
        return std::make_unique<NginxServer>(root.string(), Served(certificates->Issue(name, r)),
                                             extra);
    }
    static std::string Url(const NginxServer &s, const std::string &path,
                           const std::string &host = "127.0.0.1",
                           const std::string &scheme = "https") {
        return scheme + "://" + host + ":" + std::to_string(s.Port()) + path;
    }

    testsupport::TestCertificates *certificates = nullptr;
    std::filesystem::path root;
    std::string content;
};

} // namespace

TEST_F(TlsPeers, HeadAndGetOverTlsGiveTheSizeAndTheIdenticalFile) {
    auto nginx = Https("good");
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        LoggedClient c;
        c.http.Head(Url(*nginx, "/setup.exe", host));
        EXPECT_EQ(c.http.ReplyNumber, 200);
        EXPECT_EQ(c.http.TransferSize, static_cast<int64_t>(content.size()));

        c.http.InputFileMode = true;
        c.http.Body = (root / "received.bin").string();
        c.http.Get(Url(*nginx, "/setup.exe", host));
        EXPECT_EQ(c.http.ReplyNumber, 200);
        EXPECT_EQ(c.http.ReceiveProgress, static_cast<int64_t>(content.size()))
            << "the progress counts the plaintext bytes";
        EXPECT_TRUE(ReadFile(c.http.Body) == content) << "the body is byte-identical";
        EXPECT_EQ(c.Count("Connect"), 2) << "one connect event per secure connection";
    }
    // The request inside TLS is the plain HTTP/1.0 request.
    EXPECT_TRUE(nginx->WaitForAccessLog("\"GET /setup.exe HTTP/1.0\" 200"));
}

TEST_F(TlsPeers, ARangeArrivesOverTls) {
    auto nginx = Https("range");
    net::TNMHTTP h;
    h.OnAboutToSend = [&](platform::TObject *) {
        std::string text = h.SendHeader.Text();
        text.insert(text.size() - 2, "Range: bytes=100000-1199999\r\n");
        h.SendHeader.SetText(text);
    };
    h.Get(Url(*nginx, "/setup.exe"));
    EXPECT_EQ(h.ReplyNumber, 206);
    EXPECT_TRUE(h.Body == content.substr(100000, 1100000));
}

TEST_F(TlsPeers, BadCertificatesAreRefusedWithTheirReasons) {
    struct Case {
        const char *name;
        CertificateRequest request;
        const char *host;
        const char *text;
    };
    CertificateRequest expired;
    expired.validFromDays = -60;
    expired.validUntilDays = -1;
    CertificateRequest otherName;
    otherName.commonName = "other.example";
    otherName.altNames = {"DNS:other.example"};
    CertificateRequest untrusted;
    untrusted.untrusted = true;
    const Case cases[] = {
        {"expired", expired, "127.0.0.1",
         "Certificate verification failed: certificate has expired"},
        {"wrong-name", otherName, "localhost",
         "Certificate verification failed: hostname mismatch"},
        {"wrong-address", otherName, "127.0.0.1",
         "Certificate verification failed: IP address mismatch"},
        {"untrusted", untrusted, "127.0.0.1",
         "Certificate verification failed: unable to get local issuer certificate"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto nginx = Https(c.name, c.request);
        LoggedClient client;
        client.http.InputFileMode = true;
        client.http.Body = (root / "refused.bin").string();
        EXPECT_EQ(ErrorOf<ESockError>([&] { client.http.Get(Url(*nginx, "/setup.exe", c.host)); }),
                  c.text);
        EXPECT_EQ(client.Count("Connect"), 0) << "a refused server is never connected";
        EXPECT_FALSE(std::filesystem::exists(client.http.Body)) << "nothing was received";
        EXPECT_FALSE(client.http.IsConnected);
        EXPECT_EQ(nginx->AccessLog().find("GET"), std::string::npos) << "no request was sent";
    }
}

TEST_F(TlsPeers, PlainHttpServerIsNoTlsServer) {
    NginxServer plain(root.string());
    EXPECT_EQ(ErrorOf<ESockError>([&] {
                  net::TNMHTTP h;
                  h.Get(Url(plain, "/setup.exe"));
              }).rfind("TLS handshake failed: ", 0),
              0u);
    EXPECT_EQ(plain.AccessLog().find("GET /setup.exe"), std::string::npos)
        << "nothing is sent in plain text";
}

TEST_F(TlsPeers, ThroughARealProxyTheTunnelCarriesTheDirectRequest) {
    std::string why;
    if (!HttpProxy::Available(&why))
        GTEST_SKIP() << "real peer missing, test skipped: " << why;
    auto nginx = Https("proxied");
    HttpProxy proxy;
    net::TNMHTTP h;
    h.Proxy = "127.0.0.1";
    h.ProxyPort = proxy.Port();
    h.Head(Url(*nginx, "/setup.exe"));
    EXPECT_EQ(h.ReplyNumber, 200);
    EXPECT_EQ(h.TransferSize, static_cast<int64_t>(content.size()));
    h.InputFileMode = true;
    h.Body = (root / "proxied.bin").string();
    h.Get(Url(*nginx, "/setup.exe"));
    EXPECT_EQ(h.ReplyNumber, 200);
    EXPECT_TRUE(ReadFile(h.Body) == content);
    const std::string target = "127.0.0.1:" + std::to_string(nginx->Port());
    EXPECT_TRUE(proxy.WaitForLog("CONNECT " + target)) << proxy.Log();
    EXPECT_EQ(proxy.Log().find("GET "), std::string::npos) << "the proxy never sees the request";
    EXPECT_TRUE(nginx->WaitForAccessLog("\"GET /setup.exe HTTP/1.0\" 200"))
        << "the origin gets the request with its path, not the absolute URL:\n"
        << nginx->AccessLog();

    // A bad certificate is refused through the tunnel just the same.
    CertificateRequest expired;
    expired.validUntilDays = -1;
    expired.validFromDays = -30;
    auto old = Https("proxied-expired", expired);
    EXPECT_EQ(ErrorOf<ESockError>([&] { h.Get(Url(*old, "/setup.exe")); }),
              "Certificate verification failed: certificate has expired");
}

TEST_F(TlsPeers, RedirectFromHttpToHttpsIsFollowedAndMayComeBack) {
    NginxServer back(root.string());
    auto secure = Https("upgrade", {},
                        "location = /back { return 302 " +
                            Url(back, "/setup.exe", "127.0.0.1", "http") + "; }");
    NginxServer plain(root.string(), "location = /old { return 302 " + Url(*secure, "/setup.exe") +
                                         "; }"
                                         "location = /tour { return 302 " +
                                         Url(*secure, "/back") + "; }");
    LoggedClient c;
    c.http.Get(Url(plain, "/old", "127.0.0.1", "http"));
    EXPECT_EQ(c.http.ReplyNumber, 200);
    EXPECT_TRUE(c.http.Body == content);
    EXPECT_EQ(c.Count("Redirect"), 1);
    EXPECT_TRUE(secure->WaitForAccessLog("\"GET /setup.exe HTTP/1.0\" 200"));

    // A download that began on http may be sent back to http.
    LoggedClient tour;
    tour.http.Head(Url(plain, "/tour", "127.0.0.1", "http"));
    EXPECT_EQ(tour.http.ReplyNumber, 200);
    EXPECT_EQ(tour.Count("Redirect"), 2);
    EXPECT_TRUE(back.WaitForAccessLog("\"HEAD /setup.exe HTTP/1.0\" 200"));
}

TEST_F(TlsPeers, RedirectFromHttpsToHttpIsRefused) {
    NginxServer plain(root.string());
    // The reason names the target, but never its password.
    const std::string target = Url(plain, "/setup.exe", "user:secret@127.0.0.1", "http");
    auto secure = Https("downgrade", {}, "location = /old { return 302 " + target + "; }");
    LoggedClient c;
    EXPECT_EQ(ErrorOf<ESockError>([&] { c.http.Get(Url(*secure, "/old")); }),
              "Redirect from https to http refused: " +
                  Url(plain, "/setup.exe", "user:***@127.0.0.1", "http"));
    EXPECT_EQ(c.Count("Redirect"), 1);
    EXPECT_EQ(plain.AccessLog().find("GET"), std::string::npos) << "nothing went out in plain";

    // A redirect to a path stays on https.
    auto relative =
        Https("relative", {}, "absolute_redirect off; location = /old { return 302 /setup.exe; }");
    LoggedClient r;
    r.http.Head(Url(*relative, "/old"));
    EXPECT_EQ(r.http.ReplyNumber, 200);
    EXPECT_EQ(r.http.TransferSize, static_cast<int64_t>(content.size()));
}

TEST(TlsRedirect, ABareNameStaysOnTheSameHttpsServer) {
    auto certificate = testsupport::SharedTestCertificates().Issue("bare");
    testsupport::TlsPlan plan;
    plan.bursts = {{"HTTP/1.0 302 Found\r\nLocation: setup.exe\r\n\r\n"}};
    testsupport::TlsTestServer server(certificate, plan);
    net::TNMHTTP h;
    int redirects = 0;
    // Followed once, then the cycle ends: the second request shows where the name led.
    h.OnRedirect = [&](bool &handled) { handled = ++redirects == 2; };
    h.Get("https://127.0.0.1:" + std::to_string(server.Port()) + "/dir/first.exe");
    EXPECT_EQ(redirects, 2);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u) << "the second request went to this TLS server";
    EXPECT_EQ(requests[1].rfind("GET /dir/setup.exe HTTP/1.0\r\n", 0), 0u) << requests[1];
}

// squid asking for NTLM opens the tunnel only after the handshake, every message on the
// connection the tunnel then runs on.
TEST_F(TlsPeers, ARealProxyAskingForNtlmOpensTheTunnelAfterTheHandshake) {
    std::string why;
    if (!testsupport::SquidProxy::Available(&why))
        GTEST_SKIP() << "real peer missing, test skipped: " << why;
    if (!std::filesystem::exists("/usr/lib/squid/ntlm_fake_auth"))
        GTEST_SKIP() << "real peer missing, test skipped: squid's ntlm_fake_auth";
    auto nginx = Https("ntlm-tunnel");
    testsupport::SquidProxy squid{testsupport::SquidProxy::FakeNtlm{}};
    std::vector<std::string> challenges;
    int started = 0;
    net::TNMHTTP h;
    ntlmtest::AnswerNtlm(h, squid.Port(), challenges, started);
    h.InputFileMode = true;
    h.Body = (root / "tunnelled.bin").string();
    h.Get(Url(*nginx, "/setup.exe"));
    EXPECT_EQ(h.ReplyNumber, 200);
    EXPECT_TRUE(ReadFile(h.Body) == content);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(challenges.size(), 1u);
    EXPECT_TRUE(squid.WaitForLog("CONNECT 127.0.0.1:" + std::to_string(nginx->Port())))
        << squid.Log();
    EXPECT_NE(squid.Log().find("alice"), std::string::npos) << squid.Log();
}
