// The connection race over a name's addresses: a dead address costs a quarter of a second, a
// refused one nothing, and one time-out bounds the whole race.
#include "net/ConnectOrder.h"
#include "net/Psock.h"

#include "PsockFixture.h"
#include "platform/HostLookup.h"
#include "platform/SocketErrors.h"

#include <gtest/gtest.h>

using namespace psocktest;
using net::ESockError;
using net::TPowersock;
using platform::IpAddress;

namespace {

IpAddress Address(const char *text) {
    IpAddress a;
    EXPECT_TRUE(platform::ParseIpAddress(text, a)) << text;
    return a;
}

// Host lookups answer from a table: every name gets `addresses`; `asked` counts the lookups.
struct TableResolver {
    explicit TableResolver(std::vector<IpAddress> addresses) {
        platform::SetResolver([this, addresses](const std::string &,
                                                std::vector<IpAddress> &out) {
            ++asked;
            out = addresses;
            return 0;
        });
    }
    ~TableResolver() { platform::SetResolver(nullptr); }
    std::atomic<int> asked{0};
};

// A port with a listener on 127.0.0.1 that accepts connections and one on ::1 whose queue is
// full, so that a connect to ::1 gets no answer, as over a route that drops every packet.
struct DeadIpv6LiveIpv4 {
    DeadIpv6LiveIpv4() {
        live = testsupport::OpenLoopbackListener(4, port);
        uint16_t port6 = port;
        dead = testsupport::OpenIpv6LoopbackListener(0, port6);
        if (dead == testsupport::kNoSocket)
            return;
        for (int i = 0; i < 4; ++i)
            fillers.push_back(testsupport::StartIpv6LoopbackConnect(port));
        std::this_thread::sleep_for(50ms);
    }
    ~DeadIpv6LiveIpv4() {
        for (testsupport::SocketHandle f : fillers)
            testsupport::CloseSocket(f);
        testsupport::CloseSocket(dead);
        testsupport::CloseSocket(live);
    }
    bool Ready() const { return dead != testsupport::kNoSocket; }
    uint16_t port = 0;
    testsupport::SocketHandle live, dead;
    std::vector<testsupport::SocketHandle> fillers;
};

milliseconds Since(steady_clock::time_point start) {
    return duration_cast<milliseconds>(steady_clock::now() - start);
}

} // namespace

TEST(ConnectOrder, TheFamiliesTakeTurnsFromTheFirstAddresssFamily) {
    const IpAddress a6 = Address("2001:db8::a"), b6 = Address("2001:db8::b"),
                    a4 = Address("192.0.2.1"), b4 = Address("192.0.2.2"), c4 = Address("192.0.2.3");
    struct Case {
        std::vector<IpAddress> given, tried;
    } cases[] = {
        {{}, {}},
        {{a4}, {a4}},
        {{a6, b6, a4, b4, c4}, {a6, a4, b6, b4, c4}},
        {{a4, b4, c4, a6}, {a4, a6, b4, c4}},
        {{a6, a6, a4, b6}, {a6, a4, b6}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(net::AlternatingFamilies(c.given), c.tried);
    // The address a name last connected at goes first, its family leading.
    EXPECT_EQ(net::AlternatingFamilies({a6, b6, a4, b4}, b4), (std::vector<IpAddress>{b4, a6, a4, b6}));
    EXPECT_EQ(net::AlternatingFamilies({a6, a4}, c4), (std::vector<IpAddress>{a6, a4}))
        << "an address the name no longer has is not tried";
}

TEST(PsockRace, ADeadIpv6AddressDelaysTheIpv4ConnectionByAQuarterSecondOnly) {
    DeadIpv6LiveIpv4 ports;
    if (!ports.Ready())
        GTEST_SKIP() << "::1 cannot be bound here";
    TableResolver resolver({Address("::1"), Address("127.0.0.1")});
    TPowersock s;
    s.Host = "dual.test";
    s.Port = ports.port;
    s.TimeOut = 20000;
    const auto start = steady_clock::now();
    s.Connect();
    const milliseconds took = Since(start);
    EXPECT_TRUE(s.IsConnected);
    EXPECT_EQ(s.RemoteAddressText(), "127.0.0.1");
    EXPECT_GE(took, net::kNextAttemptDelay - 10ms) << "the IPv6 attempt ran alone first";
    EXPECT_LT(took, 5s) << "not the dead address's connect time-out";
    // The connection works both ways, and the losing attempt is gone.
    testsupport::SocketHandle peer = testsupport::AcceptConnection(ports.live);
    ASSERT_NE(peer, testsupport::kNoSocket);
    s.Writeln("over IPv4");
    std::string got;
    EXPECT_TRUE(PumpUntil(
        [&] {
            char buffer[16];
            const long n = testsupport::ReceiveNow(peer, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, static_cast<size_t>(n));
            return got.size() >= 11;
        },
        5000ms));
    EXPECT_EQ(got, "over IPv4\r\n");
    testsupport::CloseSocket(peer);

    // The next connection to the name goes to the address that answered, at once.
    TPowersock next;
    next.Host = "dual.test";
    next.Port = ports.port;
    next.TimeOut = 20000;
    next.ReportLevel = 16;
    std::vector<std::string> tried;
    next.OnStatus = [&](platform::TObject *, const std::string &text) {
        if (text.starts_with("Connecting to "))
            tried.push_back(text.substr(14));
    };
    next.Connect();
    EXPECT_EQ(tried, std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(next.RemoteAddressText(), "127.0.0.1");
}

TEST(PsockRace, RefusedAddressesAreNotWaitedForAndTheLastRefusalIsTold) {
    // Six addresses whose ports are closed: each refusal starts the next attempt at once, where
    // the stagger alone would take 1.25 s.
    uint16_t port = 0;
    testsupport::CloseSocket(testsupport::OpenLoopbackListener(1, port));
    std::vector<IpAddress> refusing = {Address("127.0.0.1"), Address("127.0.0.2"),
                                       Address("127.0.0.3"), Address("127.0.0.4"),
                                       Address("127.0.0.5")};
    uint16_t port6 = port;
    testsupport::SocketHandle probe6 = testsupport::OpenIpv6LoopbackListener(1, port6);
    if (probe6 != testsupport::kNoSocket) {
        testsupport::CloseSocket(probe6);
        refusing.insert(refusing.begin(), Address("::1"));
    }
    TableResolver resolver(refusing);
    TPowersock s;
    s.Host = "refused.test";
    s.Port = port;
    s.TimeOut = 20000;
    const auto start = steady_clock::now();
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Failed");
    EXPECT_LT(Since(start), 1000ms);
    EXPECT_EQ(s.LastSocketError, platform::kErrConnRefused);
    EXPECT_FALSE(s.IsConnected);
    EXPECT_NE(s.SocketHandle(), net::kNoSocket) << "an unconnected socket between connections";
}

TEST(PsockRace, OneTimeOutBoundsTheWholeRace) {
    SilentListener dead4(0);
    dead4.FillBacklog();
    uint16_t port6 = dead4.Port();
    testsupport::SocketHandle dead6 = testsupport::OpenIpv6LoopbackListener(0, port6);
    std::vector<testsupport::SocketHandle> fillers;
    std::vector<IpAddress> addresses = {Address("127.0.0.1")};
    if (dead6 != testsupport::kNoSocket) {
        for (int i = 0; i < 4; ++i)
            fillers.push_back(testsupport::StartIpv6LoopbackConnect(port6));
        addresses.insert(addresses.begin(), Address("::1"));
    }
    TableResolver resolver(addresses);
    TPowersock s;
    s.Host = "dead.test";
    s.Port = dead4.Port();
    s.TimeOut = 600;
    const auto start = steady_clock::now();
    EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Connection Timed out");
    const milliseconds took = Since(start);
    EXPECT_GE(took, 590ms);
    EXPECT_LT(took, 1150ms) << "one time-out, not one per address";
    for (testsupport::SocketHandle f : fillers)
        testsupport::CloseSocket(f);
    testsupport::CloseSocket(dead6);
}

TEST(PsockRace, Ipv6LiteralsWithOrWithoutBracketsAndNoZoneIds) {
    uint16_t port6 = 0;
    testsupport::SocketHandle listener = testsupport::OpenIpv6LoopbackListener(4, port6);
    if (listener == testsupport::kNoSocket)
        GTEST_SKIP() << "::1 cannot be bound here";
    TableResolver resolver({});
    for (const char *host : {"::1", "[::1]", "0:0:0:0:0:0:0:1"}) {
        SCOPED_TRACE(host);
        TPowersock s;
        s.Host = host;
        s.Port = port6;
        s.TimeOut = 5000;
        s.Connect();
        EXPECT_EQ(s.RemoteAddressText(), "::1");
        testsupport::CloseSocket(testsupport::AcceptConnection(listener));
    }
    for (const char *host : {"fe80::1%lo", "[fe80::1%25lo]", "[::1", "::1]", "[]"}) {
        SCOPED_TRACE(host);
        TPowersock s;
        s.Host = host;
        s.Port = port6;
        EXPECT_EQ(ErrorOf<ESockError>([&] { s.Connect(); }), "Null Remote Address");
        EXPECT_EQ(s.LastSocketError, platform::kErrHostNotFound);
    }
    EXPECT_EQ(resolver.asked, 0) << "no such text is given to the resolver";
    testsupport::CloseSocket(listener);
}
