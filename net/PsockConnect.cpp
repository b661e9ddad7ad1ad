// TPowersock: the host's addresses and the connection to them, raced over both families.
#include "net/ConnectOrder.h"
#include "platform/Catalogue.h"
#include "net/Psock.h"
#include "net/PsockConnectAttempt.h"
#include "platform/HostLookup.h"
#include "platform/SocketErrors.h"
#include "platform/Url.h"

#include <algorithm>

namespace net {

void TPowersock::ConnectAttempt::Start(const platform::IpAddress &to, uint16_t port,
                                       bool resetOnClose) {
    address = to;
    socket = platform::AsyncSocket::Create(to.family);
    if (!socket) {
        // No socket of this family (a system without IPv6): the next address is tried.
        state = State::Failed;
        error = platform::LastSocketError();
        return;
    }
    if (resetOnClose)
        socket->SetLinger(true, 0);
    socket->Select(*this, platform::kAllEvents);
    if (socket->Connect(to, port) != 0 && platform::LastSocketError() != platform::kErrWouldBlock) {
        state = State::Failed;
        error = platform::LastSocketError();
        socket.reset();
    }
}

void TPowersock::ConnectAttempt::HandleMessage(const platform::Message &m) {
    if (passingOn_) {
        owner_.HandleMessage(m);
        return;
    }
    if (m.kind != platform::MessageKind::SocketEvent || m.event != platform::kEventConnect ||
        state != State::Running)
        return;
    if (m.error != 0) {
        state = State::Failed;
        error = m.error;
        socket.reset();
        return;
    }
    if (owner_.ConnectEventSeen) {
        // Another attempt won the race (or it is over): this connection is not wanted.
        state = State::Failed;
        socket.reset();
        return;
    }
    state = State::Connected;
    passingOn_ = true;
    owner_.TakeConnection(*this, m);
}

void TPowersock::TakeConnection(ConnectAttempt &attempt, const platform::Message &connectEvent) {
    UseSocket(std::move(attempt.socket));
    RemoteAddress = attempt.address;
    DispatchSocketMessage(connectEvent);
}

void TPowersock::StartAttempt(Race &race) {
    auto attempt = std::make_unique<ConnectAttempt>(*this);
    const platform::IpAddress &address = race.order[race.next++];
    race.lastStart = std::chrono::steady_clock::now();
    ReportStatus(16, "Connecting to " + platform::IpAddressText(address));
    attempt->Start(address, RemotePort, ResetOnClose);
    Attempts.push_back(std::move(attempt));
}

bool TPowersock::RaceStep(Race &race) {
    if (ConnectEventSeen)
        return true;
    const auto running = [this] {
        return std::any_of(Attempts.begin(), Attempts.end(), [](const auto &a) {
            return a->state == ConnectAttempt::State::Running;
        });
    };
    if (race.next < race.order.size() &&
        (!running() || std::chrono::steady_clock::now() - race.lastStart >= kNextAttemptDelay))
        StartAttempt(race);
    if (running() || race.next < race.order.size())
        return false;
    // Every address failed: the race ends as a single connect that failed would, with the
    // last reason given.
    ConnectEventSeen = true;
    ConnectEventOk = false;
    LastEventOk = false;
    for (const auto &a : Attempts)
        if (a->error != 0)
            LastSocketError = a->error;
    return true;
}

void TPowersock::EndRace() {
    std::erase_if(Attempts, [](const std::unique_ptr<ConnectAttempt> &a) {
        return a->state != ConnectAttempt::State::Connected;
    });
}

void TPowersock::ResolveHost() {
    ReportStatus(8, "Resolve Host");
    const std::string name = platform::SocketHost(Proxy.empty() ? Host : Proxy);
    if (name.size() > 255)
        throw ESockError(platform::Tr("Host name too long"));
    RemoteAddresses.clear();
    RemoteAddress = {};
    platform::IpAddress literal;
    if (platform::ParseIpAddress(name, literal)) {
        RemoteAddresses = {literal};
        RemoteAddress = literal;
        return;
    }
    // Anything else with an address's characters (a zone id, stray brackets), or nothing, is no
    // name the resolver should be asked: it would take "fe80::1%eth0" for an address of that
    // link.
    if (name.empty() || name.find_first_of(":%[]") != std::string::npos) {
        LastSocketError = platform::kErrHostNotFound;
        throw ESockError(platform::Tr("Host Lookup Failed"), SockFailure::HostNotFound);
    }
    TimerOn();
    LookupDone = false;
    LookupError = platform::kErrHostNotFound; // until the lookup answers
    LookupSerial = platform::StartHostLookup(name, *this);
    WaitUntil([this] { return LookupDone || TimedOut; }, false);
    TimerOff();
    if (TimedOut)
        throw ESockError(platform::Tr("Host Lookup Timed Out"), SockFailure::LookupTimedOut);
    if (CancelRequested)
        throw ESockError(platform::Tr("Host Lookup Canceled"), SockFailure::Cancelled);
    if (LookupError != 0) {
        LastSocketError = LookupError; // why it failed ("Host not found")
        throw ESockError(platform::Tr("Host Lookup Failed"), SockFailure::HostNotFound);
    }
    RemoteAddresses = LookupAddresses;
    RemoteAddress = RemoteAddresses.front();
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::Connect() {
    ReportStatus(8, "Connecting");
    CancelRequested = false;
    // A component given up before (or while) it connects stays cancelled: the mark is read
    // after the clear, and the one who sets it cancels after setting it.
    if (Abandoned) {
        CancelRequested = true;
        throw ESockError(platform::Tr("Connection Canceled"), SockFailure::Cancelled);
    }
    if (IsConnected)
        throw ESockError(platform::Tr("Already connected"));
    SessionFailure.clear();
    ProxyAuthAsked = false;

    for (int retries = 0;; ++retries) {
        try {
            ResolveHost();
        } catch (const ESockError &e) {
            if (e.Kind() != SockFailure::HostNotFound)
                throw; // time-out, cancel, a name too long
        }
        if (!RemoteAddresses.empty())
            break;
        bool handled = false;
        if (retries > 0 || !OnInvalidHost)
            throw ESockError(platform::Tr("Null Remote Address"), SockFailure::HostNotFound);
        OnInvalidHost(handled);
        if (!handled)
            throw ESockError(platform::Tr("Null Remote Address"), SockFailure::HostNotFound);
    }

    RemotePort = platform::HostToNetwork16(
        static_cast<uint16_t>(Proxy.empty() ? Port : ProxyPort));
    LookupDone = false;
    LastEventOk = true;
    ConnectEventSeen = false;
    ConnectEventOk = false;
    // Each attempt makes a socket of its address's family; the unconnected one goes.
    Attempts.clear();
    UseSocket(nullptr);
    const std::string &name = Proxy.empty() ? Host : Proxy;
    Race race;
    race.order = AlternatingFamilies(RemoteAddresses, LastConnectedAddress(name));

    TimerOn();
    WaitUntil([&] { return TimedOut || RaceStep(race); }, false);
    EndRace();
    bool connected = !TimedOut && !CancelRequested && ConnectEventOk;
    if (connected && RemoteAddresses.size() > 1)
        NoteConnectedAddress(name, RemoteAddress);
    // The tunnel and the handshake belong to the connect phase: the same timer bounds them.
    if (connected && UseTls)
        connected = SecureConnection();
    TimerOff();
    if (connected) {
        if (UseTls && OnConnect)
            OnConnect(this);
        return;
    }
    if (IsConnected && UseTls) {
        // A connection whose tunnel or handshake failed cannot carry a request: close it.
        try {
            RequestCloseSocket();
        } catch (const ESockError &) {
            // The failure below is the one that counts.
        }
    }
    // Between connections the component holds an unconnected socket, as after a close.
    if (!Socket && !CreateSocket(ResetOnClose))
        FireSocketError(platform::LastSocketError());
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (TimedOut)
        throw ESockError(platform::Tr("Connection Timed out"), SockFailure::ConnectTimedOut);
    if (CancelRequested)
        throw ESockError(platform::Tr("Connection Canceled"), SockFailure::Cancelled);
    if (!SessionFailure.empty())
        throw ESockError(SessionFailure,
                         ProxyAuthAsked ? SockFailure::ProxyAuth : SockFailure::Tls);
    throw ESockError(platform::Tr("Connection Failed"), SockFailure::ConnectFailed);
}

} // namespace net
