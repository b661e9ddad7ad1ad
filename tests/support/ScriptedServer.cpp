#include "tests/support/ScriptedServer.h"

#include "tests/support/TestSockets.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kForever = Clock::time_point::max();

// poll() timeout for a deadline, rounded up so that a wait never ends before the deadline.
int TimeoutMs(Clock::time_point deadline) {
    if (deadline == kForever)
        return -1;
    auto now = Clock::now();
    if (deadline <= now)
        return 0;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

Clock::time_point After(std::chrono::milliseconds d) {
    return Clock::now() + d;
}

} // namespace

Action Action::ReadRequest() {
    Action a;
    a.kind = Kind::ReadRequest;
    return a;
}

Action Action::Respond(std::function<Script(const std::string &request)> fn) {
    Action a;
    a.kind = Kind::Respond;
    a.respond = std::move(fn);
    return a;
}

Action Action::ReadBytes(size_t n) {
    Action a;
    a.kind = Kind::ReadBytes;
    a.count = n;
    return a;
}

Action Action::Send(std::string bytes, size_t slice, std::chrono::milliseconds delay) {
    Action a;
    a.kind = Kind::Send;
    a.bytes = std::move(bytes);
    a.slice = slice;
    a.delay = delay;
    return a;
}

Action Action::Delay(std::chrono::milliseconds d) {
    Action a;
    a.kind = Kind::Delay;
    a.delay = d;
    return a;
}

Action Action::Stall() {
    Action a;
    a.kind = Kind::Stall;
    return a;
}

Action Action::Close() {
    Action a;
    a.kind = Kind::Close;
    return a;
}

Action Action::Reset() {
    Action a;
    a.kind = Kind::Reset;
    return a;
}

std::string PatternBytes(size_t offset, size_t n) {
    std::string out(n, '\0');
    for (size_t k = 0; k < n; ++k) {
        size_t i = offset + k;
        out[k] = static_cast<char>((i * 131 + i / 256) & 0xFF);
    }
    return out;
}

// Shared, mutex_-guarded record of one connection.
struct ScriptedServer::Connection {
    std::string received;
    bool peerClosed = false;
};

// State of one connection's thread while it plays its script.
struct ScriptedServer::Session {
    ScriptedServer &server;
    Connection &conn;
    SocketHandle fd;
    std::string inbox;       // received bytes not yet consumed by ReadRequest / ReadBytes
    std::string lastRequest; // the header block the last ReadRequest took
    bool peerClosed = false; // EOF or error seen; the socket is no longer polled for input
    bool stopped = false;

    Session(ScriptedServer &s, Connection &c, SocketHandle socketFd) : server(s), conn(c), fd(socketFd) {}

    // Reads whatever is available without blocking.
    void Drain() {
        char buf[16384];
        while (!peerClosed) {
            long n = ReceiveSome(fd, buf, sizeof buf);
            const int err = n < 0 ? LastSocketErrno() : 0;
            if (n > 0) {
                inbox.append(buf, static_cast<size_t>(n));
                server.Record(conn, buf, static_cast<size_t>(n));
            } else if (n < 0 && err == EINTR) {
                continue;
            } else if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
                return;
            } else {
                peerClosed = true;
                server.MarkPeerClosed(conn);
            }
        }
    }

    // One poll() round: records input, reports writability. False once the server stops.
    bool PollOnce(Clock::time_point deadline, bool wantWrite, bool *writable = nullptr) {
        if (stopped)
            return false;
        // A closed peer keeps reporting end of stream, which would spin; stop watching it then.
        PollEntry fds[2];
        fds[0].socket = fd;
        fds[0].wantRead = !peerClosed;
        fds[0].wantWrite = wantWrite;
        fds[1].socket = server.stopWake_->Watch();
        fds[1].wantRead = true;
        int r = PollSockets(fds, 2, TimeoutMs(deadline));
        if (r < 0 && LastSocketErrno() != EINTR) {
            stopped = true; // poll itself failing leaves nothing sensible to wait on
            return false;
        }
        if (r > 0 && fds[1].readable) {
            stopped = true;
            return false;
        }
        if (r > 0 && fds[0].readable)
            Drain();
        if (writable != nullptr)
            *writable = r > 0 && fds[0].writable;
        return true;
    }

    bool WaitUntil(Clock::time_point deadline) {
        while (Clock::now() < deadline) {
            if (!PollOnce(deadline, false))
                return false;
        }
        return true;
    }

    bool ReadRequest() {
        for (;;) {
            auto end = inbox.find("\r\n\r\n");
            if (end != std::string::npos) {
                lastRequest = inbox.substr(0, end + 4);
                inbox.erase(0, end + 4);
                return true;
            }
            if (peerClosed || !PollOnce(kForever, false))
                return false;
        }
    }

    bool ReadBytes(size_t n) {
        while (inbox.size() < n) {
            if (peerClosed || !PollOnce(kForever, false))
                return false;
        }
        inbox.erase(0, n);
        return true;
    }

    // Sends everything, polling for writability so that a peer that does not read blocks us
    // only until Stop(), and reading meanwhile so that a peer that writes cannot deadlock us.
    bool SendAll(const char *data, size_t n) {
        while (n > 0) {
            long w = SendSome(fd, data, n);
            const int err = w < 0 ? LastSocketErrno() : 0;
            if (w > 0) {
                data += w;
                n -= static_cast<size_t>(w);
                continue;
            }
            if (w < 0 && err == EINTR)
                continue;
            if (w < 0 && err != EAGAIN && err != EWOULDBLOCK) {
                if (!peerClosed) {
                    peerClosed = true;
                    server.MarkPeerClosed(conn);
                }
                return false;
            }
            bool writable = false;
            while (!writable) {
                if (!PollOnce(kForever, true, &writable))
                    return false;
            }
        }
        return true;
    }

    bool Send(const Action &a) {
        const std::string &b = a.bytes;
        size_t step = a.slice > 0 ? a.slice : std::max<size_t>(b.size(), 1);
        for (size_t off = 0; off < b.size(); off += step) {
            if (off > 0 && a.delay.count() > 0 && !WaitUntil(After(a.delay)))
                return false;
            if (!SendAll(b.data() + off, std::min(step, b.size() - off)))
                return false;
        }
        return true;
    }

    void Stall() {
        while (!peerClosed && PollOnce(kForever, false)) {
        }
    }

    // Half-close, then keep recording until the peer closes too: closing a socket with unread
    // input would make the kernel send a RST instead of the FIN the script asked for.
    void CloseGracefully() {
        if (!stopped && !peerClosed) {
            ShutdownSend(fd);
            Stall();
        }
        Drain();
        CloseSocket(fd);
    }

    void Reset() {
        Drain();
        SetAbortiveClose(fd);
        CloseSocket(fd);
    }

    void Run(const Script &script) {
        for (const Action &a : script) {
            bool more = true;
            switch (a.kind) {
            case Action::Kind::ReadRequest:
                more = ReadRequest();
                break;
            case Action::Kind::ReadBytes:
                more = ReadBytes(a.count);
                break;
            case Action::Kind::Send:
                more = Send(a);
                break;
            case Action::Kind::Delay:
                more = WaitUntil(After(a.delay));
                break;
            case Action::Kind::Stall:
                Stall();
                more = !stopped;
                break;
            case Action::Kind::Close:
                more = false;
                break;
            case Action::Kind::Reset:
                Reset();
                return;
            case Action::Kind::Respond:
                Run(a.respond(lastRequest)); // the made-up rest ends the connection itself
                return;
            }
            if (!more)
                break;
        }
        CloseGracefully();
    }
};

ScriptedServer::ScriptedServer() : ScriptedServer("127.0.0.1", 0) {}

ScriptedServer::ScriptedServer(const std::string &address, uint16_t port) : port_(port) {
    default_ = {Action::ReadRequest(), Action::Close()};
    StartSockets();
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        throw std::system_error(EINVAL, std::generic_category(), "inet_pton");
    address_ = parsed.s_addr;

    stopWake_ = std::make_unique<WakeSignal>();
    refuseWake_ = std::make_unique<WakeSignal>();
    if (int err = OpenListener(); err != 0)
        throw std::system_error(err, std::generic_category(), "listen socket");
    acceptThread_ = std::thread(&ScriptedServer::AcceptLoop, this);
}

int ScriptedServer::OpenListener() {
    SocketHandle fd = OpenTcpSocket();
    if (fd == kNoSocket)
        return LastSocketErrno();
    SetNonBlocking(fd);
    // A fixed port, or the same one again after a refusal, may still have connections of
    // its own in TIME_WAIT.
    SetReuseAddress(fd);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = address_;
    addr.sin_port = htons(port_);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        int err = LastSocketErrno();
        CloseSocket(fd);
        return err;
    }
    if (port_ == 0) // the first listener only: later ones take the same port
        port_ = ntohs(addr.sin_port);
    std::lock_guard lock(mutex_);
    listenFd_ = fd;
    return 0;
}

void ScriptedServer::RefuseConnections(std::chrono::milliseconds d) {
    std::lock_guard lock(mutex_);
    refuseUntil_ = std::max(refuseUntil_, Clock::now() + d);
    // On POSIX the listener stops taking connections at once; Windows has no such shutdown
    // of a listener, and the accept thread closes it when woken.
    if (listenFd_ != kNoSocket)
        ShutdownReceive(listenFd_);
    refuseWake_->Set();
}

bool ScriptedServer::SitOutRefusal() {
    SocketHandle fd;
    {
        std::lock_guard lock(mutex_);
        fd = std::exchange(listenFd_, kNoSocket);
    }
    CloseSocket(fd);
    for (;;) {
        Clock::time_point until;
        {
            std::lock_guard lock(mutex_);
            until = refuseUntil_;
            if (Clock::now() >= until) {
                // A call after this point finds no listener and asks for a new window,
                // which the accept loop then sits out again.
                refuseUntil_ = {};
                break;
            }
        }
        PollEntry wake;
        wake.socket = stopWake_->Watch();
        wake.wantRead = true;
        int r = PollSockets(&wake, 1, TimeoutMs(until));
        if (r > 0)
            return false; // Stop()
        if (r < 0 && LastSocketErrno() != EINTR)
            return false;
    }
    return OpenListener() == 0;
}

ScriptedServer::~ScriptedServer() {
    Stop();
}

uint16_t ScriptedServer::Port() const {
    return port_;
}

void ScriptedServer::Expect(Script s) {
    std::lock_guard lock(mutex_);
    queued_.push_back(std::move(s));
}

void ScriptedServer::SetDefault(Script s) {
    std::lock_guard lock(mutex_);
    default_ = std::move(s);
}

size_t ScriptedServer::Accepted() const {
    std::lock_guard lock(mutex_);
    return connections_.size();
}

const ScriptedServer::Connection *ScriptedServer::Find(size_t connection) const {
    return connection < connections_.size() ? connections_[connection].get() : nullptr;
}

std::string ScriptedServer::Received(size_t connection) const {
    std::lock_guard lock(mutex_);
    const Connection *c = Find(connection);
    return c != nullptr ? c->received : std::string();
}

bool ScriptedServer::PeerClosed(size_t connection) const {
    std::lock_guard lock(mutex_);
    const Connection *c = Find(connection);
    return c != nullptr && c->peerClosed;
}

bool ScriptedServer::WaitForAccepted(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    auto holds = [&] { return connections_.size() >= n; };
    changed_.wait_for(lock, timeout, [&] { return holds() || stopped_; });
    return holds();
}

bool ScriptedServer::WaitForPeerClose(size_t connection, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    auto holds = [&] {
        const Connection *c = Find(connection);
        return c != nullptr && c->peerClosed;
    };
    changed_.wait_for(lock, timeout, [&] { return holds() || stopped_; });
    return holds();
}

bool ScriptedServer::WaitForReceived(size_t connection, size_t bytes,
                                     std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    auto holds = [&] {
        const Connection *c = Find(connection);
        return c != nullptr && c->received.size() >= bytes;
    };
    changed_.wait_for(lock, timeout, [&] { return holds() || stopped_; });
    return holds();
}

void ScriptedServer::Record(Connection &conn, const char *data, size_t n) {
    {
        std::lock_guard lock(mutex_);
        conn.received.append(data, n);
    }
    changed_.notify_all();
}

void ScriptedServer::MarkPeerClosed(Connection &conn) {
    {
        std::lock_guard lock(mutex_);
        conn.peerClosed = true;
    }
    changed_.notify_all();
}

void ScriptedServer::AcceptLoop() {
    for (;;) {
        bool refusing;
        {
            std::lock_guard lock(mutex_);
            refusing = refuseUntil_ != Clock::time_point{};
        }
        if (refusing && !SitOutRefusal())
            return;
        PollEntry fds[3];
        fds[0].socket = listenFd_;
        fds[0].wantRead = true;
        fds[1].socket = stopWake_->Watch();
        fds[1].wantRead = true;
        fds[2].socket = refuseWake_->Watch();
        fds[2].wantRead = true;
        int r = PollSockets(fds, 3, -1);
        if (r < 0) {
            if (LastSocketErrno() == EINTR)
                continue;
            return;
        }
        if (fds[1].readable)
            return;
        if (fds[2].readable) {
            refuseWake_->Clear(); // the loop's next round sits the refusal out
            continue;
        }
        if (!fds[0].readable)
            continue;

        SocketHandle fd = AcceptConnection(listenFd_);
        if (fd == kNoSocket) {
            const int err = LastSocketErrno();
            if (err == EINVAL)
                continue; // the listener was shut down for a refusal window
            if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ECONNABORTED)
                continue;
            // Out of descriptors or similar: back off briefly instead of spinning, still
            // responsive to Stop().
            PollEntry wake;
            wake.socket = stopWake_->Watch();
            wake.wantRead = true;
            PollSockets(&wake, 1, 10);
            continue;
        }
        // Slices must leave when the script says, not when Nagle's algorithm lets them.
        SetNoDelay(fd);

        Connection *conn = nullptr;
        Script script;
        {
            std::lock_guard lock(mutex_);
            if (!queued_.empty()) {
                script = std::move(queued_.front());
                queued_.pop_front();
            } else {
                script = default_;
            }
            connections_.push_back(std::make_unique<Connection>());
            conn = connections_.back().get();
        }
        changed_.notify_all();
        try {
            workers_.emplace_back(&ScriptedServer::RunConnection, this, std::ref(*conn), fd,
                                  std::move(script));
        } catch (const std::system_error &) {
            CloseSocket(fd);
        }
    }
}

void ScriptedServer::RunConnection(Connection &conn, SocketHandle fd, Script script) {
    Session session(*this, conn, fd);
    session.Run(script);
}

void ScriptedServer::Stop() {
    std::lock_guard stopLock(stopMutex_);
    if (stopping_)
        return;
    stopping_ = true;

    stopWake_->Set(); // never cleared: wakes every poll in every thread at once
    if (acceptThread_.joinable())
        acceptThread_.join();
    for (std::thread &t : workers_)
        t.join();
    workers_.clear();
    CloseSocket(listenFd_);
    listenFd_ = kNoSocket;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

} // namespace testsupport
