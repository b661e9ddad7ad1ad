// A proxy that authenticates connections (Negotiate, NTLM): the handshake's tokens go back and
// forth on the one connection until the proxy accepts it, for a request through the proxy and
// for a tunnel; a refused or endless handshake ends with the proxy's 407.
#include "HttpFixture.h"
#include "net/NMUUE.h"

#include <gtest/gtest.h>

using namespace httptest;
using net::ESockError;
using net::TNMHTTP;

namespace {

// A handshake of the test's own: a first token, then an answer naming the proxy's token, for
// as many rounds as it is asked.
struct Recorded {
    std::vector<std::string> started; // "scheme@proxy"
    std::vector<std::string> proxyTokens;
};

class TestHandshake final : public net::ProxyHandshake {
  public:
    explicit TestHandshake(Recorded &recorded) : recorded_(recorded) {}
    bool Next(const std::string &proxyToken, std::string &clientToken) override {
        recorded_.proxyTokens.push_back(proxyToken);
        clientToken = proxyToken.empty() ? std::string("first\0token", 11) : "answer to " + proxyToken;
        return true;
    }

  private:
    Recorded &recorded_;
};

net::ProxyHandshakeStarter StarterFor(Recorded &recorded, const std::string &accepted) {
    return [&recorded, accepted](const std::string &scheme, const std::string &proxy)
               -> std::unique_ptr<net::ProxyHandshake> {
        recorded.started.push_back(scheme + "@" + proxy);
        if (scheme != accepted)
            return nullptr;
        return std::make_unique<TestHandshake>(recorded);
    };
}

std::string Refusal(const std::string &challenges, const std::string &body = "denied") {
    return Response("HTTP/1.0 407 Proxy Authentication Required",
                    challenges + "Content-Length: " + std::to_string(body.size()) +
                        "\r\nProxy-Connection: keep-alive\r\n",
                    body);
}

std::string Token(const std::string &scheme, const std::string &bytes) {
    return scheme + " " + net::Base64Line(bytes);
}

// How often `what` occurs in `text`.
size_t Occurrences(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

void AimAtProxy(net::TPowersock &client, const ScriptedServer &proxy) {
    client.Proxy = "127.0.0.1";
    client.ProxyPort = proxy.Port();
    client.TimeOut = 5000;
}

} // namespace

TEST(ProxyHandshake, ARequestThroughTheProxyAsksAgainOnTheSameConnectionWithEachToken) {
    AnyNameIsLoopback names;
    ScriptedServer proxy;
    const std::string first(std::string("first\0token", 11));
    proxy.Expect({Action::ReadRequest(),
                  Action::Send(Refusal("Proxy-Authenticate: NTLM\r\n"
                                       "Proxy-Authenticate: Basic realm=\"corp\"\r\n")),
                  Action::ReadRequest(),
                  Action::Send(Refusal("Proxy-Authenticate: NTLM " +
                                       net::Base64Line("challenge") + "\r\n", "")),
                  Action::ReadRequest(),
                  Action::Send(Response("HTTP/1.0 200 OK", "Content-Length: 3\r\n", "abc")),
                  Action::Close()});
    Recorded recorded;
    TNMHTTP h;
    AimAtProxy(h, proxy);
    h.ProxyAuthorization = "Basic dXNlcjpwdw=="; // the caller's own, sent before the handshake
    h.StartProxyHandshake = StarterFor(recorded, "NTLM");
    h.Get("http://server:8080/f.bin");

    EXPECT_EQ(h.ReplyNumber, 200);
    EXPECT_EQ(h.Body, "abc");
    EXPECT_EQ(proxy.Accepted(), 1u);
    EXPECT_EQ(recorded.started, (std::vector<std::string>{"NTLM@127.0.0.1"}));
    EXPECT_EQ(recorded.proxyTokens, (std::vector<std::string>{"", "challenge"}));
    const std::string sent = proxy.Received(0);
    EXPECT_EQ(Occurrences(sent, "GET http://server:8080/f.bin HTTP/1.0\r\n"), 3u);
    const size_t basic = sent.find("Proxy-Authorization: Basic dXNlcjpwdw==\r\n");
    const size_t type1 = sent.find("Proxy-Authorization: " + Token("NTLM", first) + "\r\n");
    const size_t type3 =
        sent.find("Proxy-Authorization: " + Token("NTLM", "answer to challenge") + "\r\n");
    EXPECT_LT(basic, type1);
    EXPECT_LT(type1, type3);
    EXPECT_NE(type3, std::string::npos);
    // The next request begins with the caller's credentials again, on a connection of its own.
    proxy.SetDefault(Answer(Response("HTTP/1.0 200 OK", "Content-Length: 0\r\n", "")));
    h.Head("http://server:8080/f.bin");
    EXPECT_NE(proxy.Received(1).find("Proxy-Authorization: Basic dXNlcjpwdw==\r\n"),
              std::string::npos);
}

TEST(ProxyHandshake, NegotiateIsTriedFirstAndTheOtherSchemeWhenItCannotBeAnswered) {
    AnyNameIsLoopback names;
    for (const std::string accepted : {"Negotiate", "NTLM"}) {
        SCOPED_TRACE(accepted);
        ScriptedServer proxy;
        proxy.Expect({Action::ReadRequest(),
                      Action::Send(Refusal("Proxy-Authenticate: NTLM\r\n"
                                           "Proxy-Authenticate: Negotiate\r\n")),
                      Action::ReadRequest(),
                      Action::Send(Response("HTTP/1.0 200 OK", "Content-Length: 0\r\n", "")),
                      Action::Close()});
        Recorded recorded;
        TNMHTTP h;
        AimAtProxy(h, proxy);
        h.StartProxyHandshake = StarterFor(recorded, accepted);
        h.Head("http://server/f.bin");
        EXPECT_EQ(h.ReplyNumber, 200);
        const std::vector<std::string> tried =
            accepted == "Negotiate" ? std::vector<std::string>{"Negotiate@127.0.0.1"}
                                    : std::vector<std::string>{"Negotiate@127.0.0.1", "NTLM@127.0.0.1"};
        EXPECT_EQ(recorded.started, tried);
        EXPECT_NE(proxy.Received(0).find(Token(accepted, std::string("first\0token", 11))),
                  std::string::npos);
    }
}

TEST(ProxyHandshake, ARefusedUnansweredOrEndlessHandshakeEndsWithTheProxysRefusal) {
    AnyNameIsLoopback names;
    const std::string offer = Refusal("Proxy-Authenticate: NTLM\r\n");
    const std::string again = Refusal("Proxy-Authenticate: NTLM " + net::Base64Line("more") + "\r\n");
    struct Case {
        const char *name;
        std::string accepted; // the scheme the starter answers ("": none)
        std::string laterAnswer;
        size_t requests;
    };
    const Case cases[] = {
        // No handshake here (as on a system without one): the 407 ends the first request.
        {"no handshake", "", offer, 1},
        // A scheme the proxy does not offer is never started.
        {"not offered", "Kerberos", offer, 1},
        // The proxy answers the first token with a challenge without one: refused.
        {"refused", "NTLM", offer, 2},
        // A proxy that answers every token with another one is left after a few.
        {"endless", "NTLM", again, 2 + net::TPowersock::kMaxHandshakeLegs},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer proxy;
        testsupport::Script script = {Action::ReadRequest(), Action::Send(offer)};
        for (int i = 0; i < 10; ++i) {
            script.push_back(Action::ReadRequest());
            script.push_back(Action::Send(c.laterAnswer));
        }
        script.push_back(Action::Close());
        proxy.Expect(script);
        Recorded recorded;
        TNMHTTP h;
        AimAtProxy(h, proxy);
        h.StartProxyHandshake = StarterFor(recorded, c.accepted);
        h.Head("http://server/f.bin");
        EXPECT_EQ(h.ReplyNumber, 407);
        EXPECT_FALSE(h.ProxyChallenge.empty());
        proxy.Stop();
        EXPECT_EQ(Occurrences(proxy.Received(0), "HEAD http://server/f.bin"), c.requests);
        EXPECT_EQ(proxy.Accepted(), 1u);
    }
}

TEST(ProxyHandshake, AProxyThatClosesAfterItsOfferGetsTheFirstTokenOnANewConnection) {
    AnyNameIsLoopback names;
    ScriptedServer proxy;
    proxy.Expect({Action::ReadRequest(),
                  Action::Send(Response("HTTP/1.0 407 Proxy Authentication Required",
                                        "Proxy-Authenticate: NTLM\r\n", "no length")),
                  Action::Close()});
    proxy.Expect({Action::ReadRequest(),
                  Action::Send(Refusal("Proxy-Authenticate: NTLM " + net::Base64Line("c") + "\r\n")),
                  Action::ReadRequest(),
                  Action::Send(Response("HTTP/1.0 200 OK", "Content-Length: 2\r\n", "ok")),
                  Action::Close()});
    Recorded recorded;
    TNMHTTP h;
    AimAtProxy(h, proxy);
    h.StartProxyHandshake = StarterFor(recorded, "NTLM");
    h.Get("http://server/f.bin");
    EXPECT_EQ(h.ReplyNumber, 200);
    EXPECT_EQ(h.Body, "ok");
    EXPECT_EQ(proxy.Accepted(), 2u);
    EXPECT_EQ(Occurrences(proxy.Received(1), "Proxy-Authorization: NTLM "), 2u);
}

TEST(ProxyHandshake, ATunnelIsAskedForAgainOnTheSameConnectionWithEachToken) {
    ScriptedServer proxy;
    const std::string target = "files.example:8443";
    proxy.Expect({Action::ReadRequest(),
                  Action::Send(Refusal("Proxy-Authenticate: Negotiate\r\n", "<html>no</html>")),
                  Action::ReadRequest(),
                  Action::Send(Refusal("Proxy-Authenticate: Negotiate " +
                                       net::Base64Line("server token") + "\r\n")),
                  Action::ReadRequest(),
                  Action::Send("HTTP/1.0 200 Connection established\r\n\r\n"),
                  // No origin behind it: the TLS handshake that follows fails.
                  Action::Close()});
    Recorded recorded;
    net::TPowersock s;
    s.Host = "files.example";
    s.Port = 8443;
    s.UseTls = true;
    AimAtProxy(s, proxy);
    s.StartProxyHandshake = StarterFor(recorded, "Negotiate");
    EXPECT_NE(psocktest::ErrorOf<ESockError>([&] { s.Connect(); }), "");
    EXPECT_EQ(proxy.Accepted(), 1u);
    const std::string connect = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target +
                                "\r\nProxy-Connection: Keep-Alive\r\n";
    const std::string legs = connect + "\r\n" + connect + "Proxy-Authorization: " +
                             Token("Negotiate", std::string("first\0token", 11)) + "\r\n\r\n" +
                             connect + "Proxy-Authorization: " +
                             Token("Negotiate", "answer to server token") + "\r\n\r\n";
    // The TLS handshake's first flight may follow them before the close.
    EXPECT_EQ(proxy.Received(0).substr(0, legs.size()), legs);

    // Refused at the end: the tunnel's refusal names the proxy's 407.
    ScriptedServer refusing;
    refusing.Expect({Action::ReadRequest(), Action::Send(Refusal("Proxy-Authenticate: NTLM\r\n")),
                     Action::ReadRequest(), Action::Send(Refusal("Proxy-Authenticate: NTLM\r\n")),
                     Action::Close()});
    net::TPowersock t;
    t.Host = "files.example";
    t.Port = 8443;
    t.UseTls = true;
    AimAtProxy(t, refusing);
    t.StartProxyHandshake = StarterFor(recorded, "NTLM");
    EXPECT_EQ(psocktest::ErrorOf<ESockError>([&] { t.Connect(); }),
              "The proxy refused the tunnel to files.example:8443: HTTP/1.0 407 Proxy "
              "Authentication Required");
    EXPECT_EQ(t.ProxyChallenge, "NTLM");
}

// Where the system answers such proxies itself (Windows), its first NTLM token is the
// negotiation message; elsewhere, or without the logged-on user's credentials, there is none.
TEST(ProxyHandshake, TheSystemsOwnHandshakeBeginsWithTheNegotiationMessageOrIsNone) {
    for (const char *scheme : net::kHandshakeSchemes) {
        SCOPED_TRACE(scheme);
        const auto handshake = net::StartSystemHandshake(scheme, "proxy.example");
        if (!handshake)
            continue;
        std::string token;
        if (!handshake->Next("", token))
            continue;
        ASSERT_FALSE(token.empty());
        if (std::string(scheme) == "NTLM") {
            EXPECT_EQ(token.substr(0, 12), std::string("NTLMSSP\0\x01\0\0\0", 12));
        }
        std::string next;
        EXPECT_FALSE(handshake->Next("not a challenge", next) && next.empty());
    }
}
