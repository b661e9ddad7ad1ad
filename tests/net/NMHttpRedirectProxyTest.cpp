// A redirect's target and the system's proxy settings (the variables curl follows, so Linux
// only): a host on no_proxy is reached directly, also when a redirect leads there; the proxy
// of the caller's own choice serves every host.
#include "net/NMHttp.h"

#include "HttpFixture.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace httptest;

namespace {

// The proxy variables of this test, and none of the machine's user.
struct ProxyVariables {
    static constexpr const char *kNames[] = {"http_proxy", "https_proxy", "HTTPS_PROXY",
                                             "all_proxy",  "ALL_PROXY",   "no_proxy",
                                             "NO_PROXY"};
    ProxyVariables(const std::string &httpProxy, const std::string &noProxy) {
        for (const char *name : kNames)
            testsupport::UnsetEnv(name);
        testsupport::SetEnv("http_proxy", httpProxy);
        testsupport::SetEnv("no_proxy", noProxy);
    }
    ~ProxyVariables() {
        for (const char *name : kNames)
            testsupport::UnsetEnv(name);
    }
};

// The first line of what a server received on connection i.
std::string FirstLine(const ScriptedServer &server, size_t i) {
    const std::string received = server.Received(i);
    return received.substr(0, received.find("\r\n"));
}

struct Chain {
    AnyNameIsLoopback names;
    ScriptedServer proxy, target;
    net::TNMHTTP client;

    // The proxy answers the first request with a redirect to `host` on the target's port;
    // whatever comes second, from the proxy or the target, gets the file.
    explicit Chain(const std::string &host) {
        proxy.Expect(Answer(Response(
            "HTTP/1.0 302 Found", "Location: " + LocalUrl(target, "/f.exe", host) + "\r\n", "")));
        proxy.Expect(Answer(Response("HTTP/1.0 200 OK", "Content-Length: 4\r\n", "file")));
        target.Expect(Answer(Response("HTTP/1.0 200 OK", "Content-Length: 4\r\n", "file")));
        client.Proxy = "127.0.0.1";
        client.ProxyPort = proxy.Port();
        client.ProxyAuthorization = "Basic cHJveHk6c2VjcmV0";
    }
    std::string ProxyUrl() const { return "http://127.0.0.1:" + std::to_string(proxy.Port()); }
    // Gets the file with http_proxy set to `httpProxy` and the internal names on no_proxy.
    void Fetch(const std::string &httpProxy) {
        ProxyVariables variables(httpProxy, "localhost, .internal.example");
        client.Get("http://origin.example/start");
        EXPECT_EQ(client.Body, "file");
    }
};

} // namespace

TEST(NMHttpRedirectProxy, ATargetOnNoProxyIsReachedDirectlyWithoutTheProxysCredentials) {
    Chain chain("files.internal.example");
    chain.Fetch(chain.ProxyUrl());
    EXPECT_EQ(chain.proxy.Accepted(), 1u);
    EXPECT_EQ(FirstLine(chain.proxy, 0), "GET http://origin.example/start HTTP/1.0");
    EXPECT_EQ(chain.target.Received(0),
              Request("GET", "/f.exe", HostOf(chain.target, "files.internal.example")));
}

TEST(NMHttpRedirectProxy, ATargetNotOnNoProxyGoesThroughTheProxy) {
    Chain chain("cdn.example");
    chain.Fetch(chain.ProxyUrl());
    EXPECT_EQ(chain.proxy.Accepted(), 2u);
    EXPECT_EQ(FirstLine(chain.proxy, 1),
              "GET " + LocalUrl(chain.target, "/f.exe", "cdn.example") + " HTTP/1.0");
    EXPECT_EQ(chain.target.Accepted(), 0u);
}

// The caller's proxy is not the system's (the options' proxy): it serves every host.
TEST(NMHttpRedirectProxy, AProxyTheSystemDidNotGiveServesEveryTarget) {
    Chain chain("files.internal.example");
    chain.Fetch("http://127.0.0.1:1");
    EXPECT_EQ(chain.proxy.Accepted(), 2u);
    EXPECT_EQ(chain.target.Accepted(), 0u);
}
