#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kForever = Clock::time_point::max();

[[noreturn]] void ThrowErrno(const char *what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void SetFlags(int fd) {
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0)
        fcntl(fd, F_SETFL, fl | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

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
    int fd;
    std::string inbox;       // received bytes not yet consumed by ReadRequest / ReadBytes
    std::string lastRequest; // the header block the last ReadRequest took
    bool peerClosed = false; // EOF or error seen; the socket is no longer polled for input
    bool stopped = false;

    Session(ScriptedServer &s, Connection &c, int socketFd) : server(s), conn(c), fd(socketFd) {}

    // Reads whatever is available without blocking.
    void Drain() {
        char buf[16384];
        while (!peerClosed) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n > 0) {
                inbox.append(buf, static_cast<size_t>(n));
                server.Record(conn, buf, static_cast<size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
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
        pollfd fds[2] = {};
        fds[0].fd = fd;
        fds[0].events = static_cast<short>((peerClosed ? 0 : POLLIN) | (wantWrite ? POLLOUT : 0));
        // A closed peer keeps reporting POLLHUP, which would spin; stop watching it then.
        if (fds[0].events == 0)
            fds[0].fd = -1;
        fds[1].fd = server.wakeRead_;
        fds[1].events = POLLIN;
        int r = poll(fds, 2, TimeoutMs(deadline));
        if (r < 0 && errno != EINTR) {
            stopped = true; // poll itself failing leaves nothing sensible to wait on
            return false;
        }
        if (r > 0 && fds[1].revents != 0) {
            stopped = true;
            return false;
        }
        if (r > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            Drain();
        if (writable != nullptr)
            *writable = r > 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0;
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
            ssize_t w = send(fd, data, n, MSG_NOSIGNAL);
            if (w > 0) {
                data += w;
                n -= static_cast<size_t>(w);
                continue;
            }
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
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
            shutdown(fd, SHUT_WR);
            Stall();
        }
        Drain();
        close(fd);
    }

    void Reset() {
        Drain();
        linger lg{};
        lg.l_onoff = 1;
        lg.l_linger = 0;
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        close(fd);
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
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        errno = EINVAL;
        ThrowErrno("inet_pton");
    }
    address_ = parsed.s_addr;

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        ThrowErrno("pipe");
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    SetFlags(wakeRead_);
    SetFlags(wakeWrite_);

    if (int err = OpenListener(); err != 0) {
        close(wakeRead_);
        close(wakeWrite_);
        errno = err;
        ThrowErrno("listen socket");
    }
    acceptThread_ = std::thread(&ScriptedServer::AcceptLoop, this);
}

int ScriptedServer::OpenListener() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return errno;
    SetFlags(fd);
    // A fixed port, or the same one again after a refusal, may still have connections of
    // its own in TIME_WAIT.
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = address_;
    addr.sin_port = htons(port_);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        int err = errno;
        close(fd);
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
    // Wakes the accept thread's poll; the listener stops taking connections at once.
    if (listenFd_ >= 0)
        shutdown(listenFd_, SHUT_RD);
}

bool ScriptedServer::SitOutRefusal() {
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = std::exchange(listenFd_, -1);
    }
    if (fd >= 0)
        close(fd);
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
        pollfd wake{wakeRead_, POLLIN, 0};
        int r = poll(&wake, 1, TimeoutMs(until));
        if (r > 0)
            return false; // Stop()
        if (r < 0 && errno != EINTR)
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
        pollfd fds[2] = {};
        fds[0].fd = listenFd_;
        fds[0].events = POLLIN;
        fds[1].fd = wakeRead_;
        fds[1].events = POLLIN;
        int r = poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
            continue;

        int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) {
            if (errno == EINVAL)
                continue; // the listener was shut down for a refusal window
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
                continue;
            // Out of descriptors or similar: back off briefly instead of spinning, still
            // responsive to Stop().
            pollfd wake{wakeRead_, POLLIN, 0};
            poll(&wake, 1, 10);
            continue;
        }
        SetFlags(fd);
        // Slices must leave when the script says, not when Nagle's algorithm lets them.
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

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
            close(fd);
        }
    }
}

void ScriptedServer::RunConnection(Connection &conn, int fd, Script script) {
    Session session(*this, conn, fd);
    session.Run(script);
}

void ScriptedServer::Stop() {
    std::lock_guard stopLock(stopMutex_);
    if (stopping_)
        return;
    stopping_ = true;

    char byte = 1;
    while (write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
    }
    if (acceptThread_.joinable())
        acceptThread_.join();
    for (std::thread &t : workers_)
        t.join();
    workers_.clear();
    if (listenFd_ >= 0)
        close(listenFd_);
    close(wakeRead_);
    close(wakeWrite_);
    listenFd_ = wakeRead_ = wakeWrite_ = -1;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

} // namespace testsupport
