#pragma once

// Helpers of the HTTP client tests: a client with an event log beside a scripted server, and
// the exact request texts the client is expected to send.

#include "net/NMHttp.h"
#include "PsockFixture.h"
#include "platform/HostLookup.h"
#include "tests/support/ScriptedServer.h"

#include "tests/support/TestSockets.h"

#include <string>
#include <vector>

namespace httptest {

using namespace std::chrono_literals;
using testsupport::Action;
using testsupport::ScriptedServer;

inline const std::string kAccept =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
inline const std::string kContentType = "Content-type: application/x-www-form-urlencoded\r\n";

// The request text the client sends: `extra` lines stand before the Content-type line,
// `tail` lines after it.
inline std::string Request(const std::string &verb, const std::string &target,
                           const std::string &host, const std::string &extra = "",
                           const std::string &tail = "") {
    return verb + " " + target + " HTTP/1.0\r\nHost: " + host + "\r\n" + kAccept + extra +
           kContentType + tail + "\r\n";
}

inline std::string Response(const std::string &status, const std::string &headers,
                            const std::string &body) {
    return status + "\r\n" + headers + "\r\n" + body;
}

// One scripted exchange: read the request, answer, close.
inline testsupport::Script Answer(const std::string &response) {
    return {Action::ReadRequest(), Action::Send(response), Action::Close()};
}

// Every host name resolves to 127.0.0.1 while this lives, so that URLs can name hosts.
struct AnyNameIsLoopback {
    AnyNameIsLoopback() {
        platform::SetResolver([](const std::string &, std::vector<platform::IpAddress> &a) {
            a.push_back(platform::Ipv4Address(htonl(INADDR_LOOPBACK)));
            return 0;
        });
    }
    ~AnyNameIsLoopback() { platform::SetResolver(nullptr); }
};

// A client whose events are logged in order.
struct LoggedClient {
    net::TNMHTTP http;
    std::vector<std::string> events;

    LoggedClient() {
        http.OnAboutToSend = [this](platform::TObject *) { events.push_back("AboutToSend"); };
        http.OnConnect = [this](platform::TObject *) { events.push_back("Connect"); };
        http.OnDisconnect = [this](platform::TObject *) { events.push_back("Disconnect"); };
        http.OnPacketRecvd = [this](platform::TObject *) {
            if (events.empty() || events.back() != "PacketRecvd")
                events.push_back("PacketRecvd");
        };
        http.OnSuccess = [this](net::CmdType c) {
            events.push_back("Success:" + std::to_string(c));
        };
        http.OnFailure = [this](net::CmdType c) {
            events.push_back("Failure:" + std::to_string(c));
        };
        http.OnRedirect = [this](bool &) { events.push_back("Redirect"); };
        http.OnAuthenticationNeeded = [this](platform::TObject *) {
            events.push_back("AuthenticationNeeded");
        };
        http.OnStatus = [this](platform::TObject *, const std::string &s) {
            events.push_back("Status:" + s);
        };
    }
    int Count(const std::string &e) const {
        int n = 0;
        for (auto &x : events)
            n += x == e;
        return n;
    }
};

inline std::string LocalUrl(const ScriptedServer &s, const std::string &path,
                            const std::string &host = "127.0.0.1") {
    return "http://" + host + ":" + std::to_string(s.Port()) + path;
}

// The Host line's value for a server on a port that is never the scheme's default.
inline std::string HostOf(const ScriptedServer &s, const std::string &host = "127.0.0.1") {
    return host + ":" + std::to_string(s.Port());
}

using psocktest::ErrorOf;

} // namespace httptest
