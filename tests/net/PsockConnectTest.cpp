#include "net/Psock.h"

#include "PsockFixture.h"
#include "platform/HostLookup.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

using namespace psocktest;
using net::EAbortError;
using net::ESockError;
using net::TPowersock;
using testsupport::Action;
using testsupport::ScriptedServer;

namespace {

// A resolver that answers after a delay, so a lookup can be timed out or cancelled.
struct SlowResolver {
    explicit SlowResolver(milliseconds delay) {
        platform::SetResolver(
            [delay](const std::string &, std::vector<platform::IpAddress> &addresses) {
                std::this_thread::sleep_for(delay);
                addresses.push_back(platform::Ipv4Address(htonl(INADDR_LOOPBACK)));
                return 0;
            });
    }
    ~SlowResolver() { platform::SetResolver(nullptr); }
};

uint16_t ClosedPort() {
    SilentListener l;
    return l.Port(); // free again once the listener is gone
}

} // namespace

TEST(PsockConnect, DottedHostConnectsWithoutLookupAndReportsInOrder) {
    ScriptedServer server;
    server.Expect({Action::Stall()});
    TPowersock s;
    EventLog log;
    log.Attach(s);
    s.ReportLevel = 8;
    s.TimeOut = 5000;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.Connect();
    EXPECT_TRUE(s.IsConnected);
    EXPECT_EQ(s.RemoteAddressText(), "127.0.0.1");
    // Only the connect phase is timed; the write notification may slip in before "Timer Off".
    std::vector<std::string> expected = {"Connecting", "Resolve Host", "Timer On", "[OnConnect]",
                                         "Timer Off"};
    EXPECT_EQ(log.Without("WriteFromStream"), expected);
    EXPECT_EQ(log.Count("[OnHostResolved]"), 0);
}

TEST(PsockConnect, NamedHostIsLookedUpAndEachPhaseIsTimed) {
    ScriptedServer server;
    server.Expect({Action::Stall()});
    TPowersock s;
    EventLog log;
    log.Attach(s);
    s.ReportLevel = 8;
    s.Host = "localhost";
    s.Port = server.Port();
    s.Connect();
    EXPECT_EQ(s.RemoteAddressText(), "127.0.0.1");
    std::vector<std::string> expected = {"Connecting", "Resolve Host", "Timer On", "Timer Off",
                                         "[OnHostResolved]", "Timer On", "[OnConnect]",
                                         "Timer Off"};
    EXPECT_EQ(log.Without("WriteFromStream"), expected);
    EXPECT_TRUE(server.WaitForAccepted(1, 2s));
}

TEST(PsockConnect, ProxyIsConnectedToInsteadOfHost) {
    ScriptedServer proxy;
    proxy.Expect({Action::Stall()});
    TPowersock s;
    s.Host = "host.invalid"; // never looked up
    s.Port = ClosedPort();
    s.Proxy = "127.0.0.1";
    s.ProxyPort = proxy.Port();
    s.Connect();
    EXPECT_TRUE(proxy.WaitForAccepted(1, 2s));
}

TEST(PsockConnect, RefusedConnectFailsWithoutConnectOrDisconnectEvents) {
    TPowersock s;
    EventLog log;
    log.Attach(s);
    s.Host = "127.0.0.1";
    s.Port = ClosedPort();
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Failed");
    EXPECT_EQ(log.entries, std::vector<std::string>{"[OnConnectionFailed]"});
    EXPECT_FALSE(s.IsConnected);
    EXPECT_NE(s.SocketHandle(), net::kNoSocket) << "a failed connect keeps its socket";
}

TEST(PsockConnect, AlreadyConnectedLeavesTheConnectionAlone) {
    ScriptedServer server;
    server.Expect({Action::Stall()});
    TPowersock s;
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.Connect();
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Already connected");
    EXPECT_TRUE(s.IsConnected);
    s.Writeln("still here");
    EXPECT_TRUE(server.WaitForReceived(0, 12, 2s));
    EXPECT_EQ(server.Accepted(), 1u);
}

TEST(PsockConnect, UnresolvableHostAndTheInvalidHostHandler) {
    platform::SetResolver(
        [](const std::string &, std::vector<platform::IpAddress> &) { return 11001; });
    {
        TPowersock s;
        s.Host = "nowhere.invalid";
        s.Port = 80;
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Null Remote Address");

        int calls = 0;
        s.OnInvalidHost = [&](bool &handled) {
            ++calls;
            EXPECT_FALSE(handled);
        };
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Null Remote Address");
        EXPECT_EQ(calls, 1);

        calls = 0;
        s.OnInvalidHost = [&](bool &handled) {
            ++calls;
            handled = true; // retry, with the same host
        };
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Null Remote Address");
        EXPECT_EQ(calls, 1) << "the handler is asked once per connect";
    }
    platform::SetResolver(nullptr);
}

TEST(PsockConnect, InvalidHostHandlerCanFixTheHost) {
    ScriptedServer server;
    server.Expect({Action::Stall()});
    platform::SetResolver([](const std::string &name, std::vector<platform::IpAddress> &a) {
        a.push_back(platform::Ipv4Address(htonl(INADDR_LOOPBACK)));
        return name == "good" ? 0 : 11001;
    });
    TPowersock s;
    s.Host = "bad";
    s.Port = server.Port();
    s.OnInvalidHost = [&](bool &handled) {
        s.Host = "good";
        handled = true;
    };
    s.Connect();
    platform::SetResolver(nullptr);
    EXPECT_TRUE(s.IsConnected);
}

TEST(PsockConnect, HostNamesUpTo255CharactersAndNoLonger) {
    std::string seen;
    platform::SetResolver([&](const std::string &name, std::vector<platform::IpAddress> &) {
        seen = name;
        return 11001;
    });
    TPowersock s;
    s.Port = 80;
    s.Host = std::string(255, 'a');
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Null Remote Address");
    EXPECT_EQ(seen, s.Host) << "a 255-character name is looked up whole";
    seen.clear();
    s.Host = std::string(256, 'a');
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Host name too long");
    EXPECT_TRUE(seen.empty()) << "no lookup for a name that is too long";
    s.Host = "h";
    s.Proxy = std::string(300, 'p');
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Host name too long");
    platform::SetResolver(nullptr);
}

TEST(PsockConnect, LookupTimeOutAndCancel) {
    SlowResolver slow(600ms);
    {
        TPowersock s;
        s.Host = "slow";
        s.Port = 80;
        s.TimeOut = 100;
        auto start = steady_clock::now();
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Host Lookup Timed Out");
        EXPECT_LT(steady_clock::now() - start, 500ms);
        EXPECT_TRUE(s.TimedOut);
    }
    {
        TPowersock s;
        EventLog log;
        log.Attach(s);
        s.Host = "slow";
        s.Port = 80;
        auto start = steady_clock::now();
        {
            CancelLater cancel(s, 50ms);
            EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Host Lookup Canceled");
        }
        EXPECT_LT(steady_clock::now() - start, 500ms);
        EXPECT_TRUE(s.CancelRequested) << "a cancelled connect leaves the flag set";
        EXPECT_EQ(log.Count("[OnConnectionFailed]"), 0);
    }
}

TEST(PsockConnect, LateAnswerOfAnAbandonedLookupIsNotTakenForTheNextOne) {
    ScriptedServer server;
    server.SetDefault({Action::Stall()});
    std::atomic<int> calls{0};
    platform::SetResolver([&](const std::string &, std::vector<platform::IpAddress> &a) {
        if (calls++ == 0) {
            std::this_thread::sleep_for(150ms);
            a.push_back(platform::Ipv4Address(htonl(0x7F000002))); // 127.0.0.2: the stale answer
        } else {
            std::this_thread::sleep_for(300ms);
            a.push_back(platform::Ipv4Address(htonl(INADDR_LOOPBACK)));
        }
        return 0;
    });
    TPowersock s;
    s.Host = "name";
    s.Port = server.Port();
    s.TimeOut = 50;
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Host Lookup Timed Out");
    s.TimeOut = 2000;
    s.Connect();
    platform::SetResolver(nullptr);
    EXPECT_EQ(s.RemoteAddressText(), "127.0.0.1");
}

TEST(PsockConnect, ConnectTimeOutAndCancel) {
    SilentListener unanswered(0);
    unanswered.FillBacklog();
    {
        TPowersock s;
        EventLog log;
        log.Attach(s);
        s.Host = "127.0.0.1";
        s.Port = unanswered.Port();
        s.TimeOut = 150;
        auto start = steady_clock::now();
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Timed out");
        EXPECT_GE(steady_clock::now() - start, 140ms);
        EXPECT_LT(steady_clock::now() - start, 1500ms);
        EXPECT_EQ(log.entries, std::vector<std::string>{"[OnConnectionFailed]"});
    }
    {
        TPowersock s;
        s.Host = "127.0.0.1";
        s.Port = unanswered.Port();
        CancelLater cancel(s, 80ms);
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Canceled");
    }
}

TEST(PsockConnect, TimeOutThatAlsoAbortsReportsInTheProgramsOrder) {
    SilentListener unanswered(0);
    unanswered.FillBacklog();
    AbortingSock s;
    EventLog log;
    log.Attach(s);
    s.ReportLevel = 8;
    s.Host = "127.0.0.1";
    s.Port = unanswered.Port();
    s.TimeOut = 100;
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Timed out");
    std::vector<std::string> expected = {"Connecting",      "Resolve Host", "Timer On",
                                         "Timer Triggered", "Timer Off",    "Canceling",
                                         "Timer Off",       "[OnConnectionFailed]"};
    EXPECT_EQ(log.entries, expected);
}

TEST(PsockConnect, PeerCloseThenDisconnectFiresOnDisconnectTwice) {
    ScriptedServer server;
    server.Expect({Action::Close()});
    TPowersock s;
    EventLog log;
    log.Attach(s);
    s.Host = "127.0.0.1";
    s.Port = server.Port();
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !s.IsConnected; }));
    EXPECT_EQ(log.Count("[OnDisconnect]"), 1);
    s.Disconnect();
    EXPECT_EQ(log.Count("[OnDisconnect]"), 2);
    EXPECT_NE(s.SocketHandle(), net::kNoSocket) << "a fresh socket after every close";

    // The fresh socket connects again.
    server.Expect({Action::Stall()});
    s.Connect();
    EXPECT_TRUE(s.IsConnected);
    EXPECT_TRUE(server.WaitForAccepted(2, 2s));
}

TEST(PsockConnect, DestructionFiresNoEvents) {
    ScriptedServer server;
    server.Expect({Action::Stall()});
    EventLog log;
    {
        TPowersock s;
        log.Attach(s);
        s.ReportLevel = 16;
        s.Host = "127.0.0.1";
        s.Port = server.Port();
        s.Connect();
        log.entries.clear();
    }
    EXPECT_TRUE(log.entries.empty());
    EXPECT_TRUE(server.WaitForPeerClose(0, 2s) || server.PeerClosed(0));
}

TEST(PsockErrors, LookupErrorMessageTexts) {
    TPowersock s;
    EXPECT_EQ(s.LookupErrorMessage(0), "");
    EXPECT_EQ(s.LookupErrorMessage(10061), "10061:Connection refused");
    EXPECT_EQ(s.LookupErrorMessage(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(s.LookupErrorMessage(12345), "Unknown Error No. 12345");
}

TEST(PsockErrors, StatusPassesOnlyUpToTheReportLevel) {
    TPowersock s;
    EventLog log;
    log.Attach(s);
    s.ReportLevel = 4;
    s.ReportStatus(8, "hidden");
    s.ReportStatus(4, "shown");
    s.ReportStatus(1, "also shown");
    EXPECT_EQ(log.entries, (std::vector<std::string>{"shown", "also shown"}));
    EXPECT_EQ(s.LastStatus, "also shown");
    s.ReportLevel = -1;
    s.ReportStatus(0, "hidden at a negative level");
    EXPECT_EQ(log.entries.size(), 2u);
}

TEST(PsockText, NthFieldAndNthCharPos) {
    using net::NthCharPos;
    using net::NthField;
    EXPECT_EQ(NthField("a:b:c", ':', 2), "b");
    EXPECT_EQ(NthField("a::c", ':', 2), "");
    EXPECT_EQ(NthField("a:b:c", ':', 1), "a");
    EXPECT_EQ(NthField("a:b:c", ':', 3), "c");
    EXPECT_EQ(NthField("a:b", ':', 4), "");
    EXPECT_EQ(NthField("", ':', 1), "");
    EXPECT_EQ(NthCharPos("a//h/p/q/r", '/', 3), 5);
    EXPECT_EQ(NthCharPos("a//h/", '/', 3), 5);
    EXPECT_EQ(NthCharPos("a//h", '/', 3), 5);
    EXPECT_EQ(NthCharPos("", '/', 1), 1);
}
