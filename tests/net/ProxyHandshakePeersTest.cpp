// The proxy handshake against a real proxy: squid asking for NTLM (ntlm_fake_auth, which takes
// any well-formed handshake) in front of nginx. squid ties NTLM to the connection, so the file
// arrives only when every message of the handshake went on the one connection; the tokens are
// real NTLM messages made here.
#include "net/NMHttp.h"

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

namespace {

void Put16(std::string &out, size_t at, size_t value) {
    out[at] = static_cast<char>(value & 0xff);
    out[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

void Put32(std::string &out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

std::string Utf16(const std::string &ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// The NTLM client's messages for user CORP\alice: the negotiation message, then, given the
// proxy's challenge message, an authentication message (its responses zero: ntlm_fake_auth
// checks no password).
class NtlmMessages final : public net::ProxyHandshake {
  public:
    // The proxy's messages go to `challenges`, as received.
    explicit NtlmMessages(std::vector<std::string> &challenges) : challenges_(challenges) {}

    bool Next(const std::string &proxyToken, std::string &clientToken) override {
        static constexpr uint32_t kUnicode = 0x1, kOem = 0x2, kRequestTarget = 0x4,
                                  kNtlm = 0x200;
        const std::string signature("NTLMSSP\0", 8);
        if (proxyToken.empty()) {
            clientToken = signature + std::string(24, '\0');
            Put32(clientToken, 8, 1);
            Put32(clientToken, 12, kUnicode | kOem | kRequestTarget | kNtlm);
            return true;
        }
        challenges_.push_back(proxyToken);
        if (proxyToken.compare(0, 9, signature + '\x02') != 0)
            return false;
        const std::string fields[] = {std::string(24, '\0'), std::string(24, '\0'),
                                      Utf16("CORP"), Utf16("alice"), Utf16("WS"), ""};
        clientToken = signature + std::string(56, '\0');
        Put32(clientToken, 8, 3);
        size_t offset = clientToken.size();
        for (size_t i = 0; i < 6; ++i) { // LM, NT, domain, user, workstation, session key
            Put16(clientToken, 12 + 8 * i, fields[i].size());
            Put16(clientToken, 14 + 8 * i, fields[i].size());
            Put32(clientToken, 16 + 8 * i, static_cast<uint32_t>(offset));
            offset += fields[i].size();
        }
        Put32(clientToken, 60, kUnicode | kNtlm);
        for (const std::string &field : fields)
            clientToken += field;
        return true;
    }

  private:
    std::vector<std::string> &challenges_;
};

} // namespace

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
    h.Proxy = "127.0.0.1";
    h.ProxyPort = squid.Port();
    h.TimeOut = 10000;
    h.StartProxyHandshake = [&](const std::string &scheme, const std::string &)
        -> std::unique_ptr<net::ProxyHandshake> {
        if (scheme != "NTLM")
            return nullptr;
        ++started;
        return std::make_unique<NtlmMessages>(challenges);
    };
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
