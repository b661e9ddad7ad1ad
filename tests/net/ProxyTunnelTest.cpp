// The CONNECT tunnel on its own, over a component connected to a scripted proxy: what it asks,
// how it reads the proxy's answer, and that the origin's first bytes after the answer stay
// for the TLS layer.
#include "net/ProxyTunnel.h"

#include "HttpFixture.h"
#include "net/NMUUE.h"
#include "net/Psock.h"

#include <gtest/gtest.h>

using namespace httptest;
using net::ProxyTunnel;

namespace {

// Answers every proxy token with "client" and the token.
class EchoHandshake final : public net::ProxyHandshake {
  public:
    bool Next(const std::string &proxyToken, std::string &clientToken) override {
        clientToken = "client" + proxyToken;
        return true;
    }
};

std::unique_ptr<net::ProxyHandshake> StartEcho(const std::string &scheme, const std::string &) {
    return scheme == "NTLM" ? std::make_unique<EchoHandshake>() : nullptr;
}

const std::string kConnect = "CONNECT files.example:8443 HTTP/1.0\r\nHost: files.example:8443\r\n"
                             "Proxy-Connection: Keep-Alive\r\n";

std::string Refusal(const std::string &challenge) {
    return "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: " + challenge +
           "\r\nContent-Length: 6\r\n\r\ndenied";
}

} // namespace

TEST(ProxyTunnel, AnswersAreReadAsTheProxyMeantThem) {
    std::string manyLines;
    for (int i = 0; i < 101; ++i)
        manyLines += "X-Line: " + std::to_string(i) + "\r\n";
    struct Case {
        const char *name;
        testsupport::Script script;
        ProxyTunnel::Result result;
        const char *failure;
        bool authAsked;
        std::string requests; // what the proxy received
        std::string rest;     // what waits in the receive queue afterwards
    };
    const Case cases[] = {
        {"407 with a token to answer, then 200 with the origin's first bytes",
         {Action::ReadRequest(), Action::Send(Refusal("NTLM")), Action::ReadRequest(),
          Action::Send(Refusal("NTLM " + net::Base64Line("challenge"))), Action::ReadRequest(),
          Action::Send("HTTP/1.1 200 Connection established\r\n\r\n\x16\x03\x03origin"),
          Action::Stall()},
         ProxyTunnel::Result::Open,
         "",
         false,
         kConnect + "\r\n" + kConnect + "Proxy-Authorization: NTLM " + net::Base64Line("client") +
             "\r\n\r\n" + kConnect + "Proxy-Authorization: NTLM " +
             net::Base64Line("clientchallenge") + "\r\n\r\n",
         "\x16\x03\x03origin"},
        {"407 offering only Basic",
         {Action::ReadRequest(), Action::Send(Refusal("Basic realm=\"corp\"")), Action::Stall()},
         ProxyTunnel::Result::Refused,
         "The proxy refused the tunnel to files.example:8443: HTTP/1.0 407 Proxy "
         "Authentication Required",
         true,
         kConnect + "\r\n",
         ""},
        {"too many header lines",
         {Action::ReadRequest(), Action::Send("HTTP/1.0 200 OK\r\n" + manyLines + "\r\n"),
          Action::Stall()},
         ProxyTunnel::Result::Refused,
         "The proxy's answer to the tunnel request is too long",
         false,
         kConnect + "\r\n",
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer proxy;
        proxy.SetDefault(c.script);
        net::TPowersock s;
        s.Host = "files.example"; // only the proxy resolves it
        s.Port = 8443;
        s.Proxy = "127.0.0.1";
        s.ProxyPort = proxy.Port();
        s.TimeOut = 5000;
        s.StartProxyHandshake = StartEcho;
        s.Connect();
        ProxyTunnel tunnel(s, s.Host, s.Port);
        EXPECT_EQ(tunnel.Open(), c.result);
        EXPECT_EQ(tunnel.Failure(), c.failure);
        EXPECT_EQ(tunnel.AuthAsked(), c.authAsked);
        EXPECT_EQ(proxy.Received(0), c.requests);
        if (!c.rest.empty()) {
            std::string rest;
            s.CaptureString(rest, static_cast<int32_t>(c.rest.size()));
            EXPECT_EQ(rest, c.rest);
        }
    }
}
