// The proxy handshake against a real proxy: squid asking for NTLM (ntlm_fake_auth, which takes
// any well-formed handshake) in front of nginx. squid ties NTLM to the connection, so the file
// arrives only when every message of the handshake went on the one connection; the tokens are
// real NTLM messages (NtlmMessages.h).
#include "net/NMHttp.h"

#include "NtlmMessages.h"

#include "tests/support/RealPeers.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using testsupport::NginxServer;
using testsupport::PatternBytes;
using testsupport::ReadFile;
using testsupport::SquidProxy;

TEST(ProxyHandshakePeers, SquidAskingForNtlmGetsTheHandshakeOnOneConnectionAndGivesTheFile) {
    std::string why;
    if (!NginxServer::Available(&why) || !SquidProxy::Available(&why))
        GTEST_SKIP() << "real peer missing, test skipped: " << why;
    if (!std::filesystem::exists("/usr/lib/squid/ntlm_fake_auth"))
        GTEST_SKIP() << "real peer missing, test skipped: squid's ntlm_fake_auth";
    const auto root = std::filesystem::path(::testing::TempDir()) /
                      ("ntlm_root_" + std::to_string(::getpid()));
    std::filesystem::create_directories(root);
    const std::string content = PatternBytes(0, 300007);
    std::ofstream(root / "setup.exe", std::ios::binary) << content;
    NginxServer nginx(root.string());
    SquidProxy squid{SquidProxy::FakeNtlm{}};
    const std::string url = "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/setup.exe";

    // Nobody to answer: squid's 407 offers NTLM, and it stands.
    net::TNMHTTP refused;
    refused.Proxy = "127.0.0.1";
    refused.ProxyPort = squid.Port();
    refused.TimeOut = 10000;
    refused.StartProxyHandshake = nullptr;
    refused.Head(url);
    EXPECT_EQ(refused.ReplyNumber, 407);
    EXPECT_NE(refused.ProxyChallenge.find("NTLM"), std::string::npos) << refused.ProxyChallenge;

    std::vector<std::string> challenges;
    int started = 0;
    net::TNMHTTP h;
    ntlmtest::AnswerNtlm(h, squid.Port(), challenges, started);
    for (const bool head : {true, false}) {
        SCOPED_TRACE(head ? "HEAD" : "GET");
        challenges.clear();
        started = 0;
        if (head) {
            h.Head(url);
            EXPECT_EQ(h.TransferSize, static_cast<int64_t>(content.size()));
        } else {
            h.InputFileMode = true;
            h.Body = (root / "received.bin").string();
            h.Get(url);
            EXPECT_TRUE(ReadFile(h.Body) == content);
        }
        EXPECT_EQ(h.ReplyNumber, 200);
        EXPECT_EQ(started, 1);
        EXPECT_EQ(challenges.size(), 1u);
    }
    EXPECT_TRUE(squid.WaitForLog("alice")) << squid.Log();
    std::filesystem::remove_all(root);
}
