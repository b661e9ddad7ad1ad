#include "tests/support/TestSockets.h"

#include <cerrno>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace testsupport {

#ifdef _WIN32

namespace {

int ErrnoFromWinsock(int code) {
    switch (code) {
    case WSAEWOULDBLOCK:
        return EWOULDBLOCK;
    case WSAEINTR:
        return EINTR;
    case WSAEINVAL:
        return EINVAL;
    case WSAEINPROGRESS:
        return EINPROGRESS;
    case WSAECONNABORTED:
        return ECONNABORTED;
    case WSAECONNRESET:
        return ECONNRESET;
    case WSAECONNREFUSED:
        return ECONNREFUSED;
    case WSAEADDRINUSE:
        return EADDRINUSE;
    case WSAENOTCONN:
        return ENOTCONN;
    case WSAETIMEDOUT:
        return ETIMEDOUT;
    case WSAEMFILE:
        return EMFILE;
    case WSAENOBUFS:
        return ENOBUFS;
    default:
        return code;
    }
}

} // namespace

void StartSockets() {
    // Once per process; the layer stays started until the process ends.
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    (void)started;
}

int LastSocketErrno() {
    return ErrnoFromWinsock(WSAGetLastError());
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

SocketHandle OpenTcpSocket(int family) {
    StartSockets();
    SOCKET s = socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET)
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return s;
}

void CloseSocket(SocketHandle s) {
    if (s != kNoSocket)
        closesocket(s);
}

void SetNonBlocking(SocketHandle s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}

void ShutdownSend(SocketHandle s) {
    shutdown(s, SD_SEND);
}

void ShutdownReceive(SocketHandle s) {
    shutdown(s, SD_RECEIVE);
}

long ReceiveSome(SocketHandle s, void *buffer, size_t len) {
    return recv(s, static_cast<char *>(buffer), static_cast<int>(len), 0);
}

long SendSome(SocketHandle s, const void *data, size_t len) {
    return send(s, static_cast<const char *>(data), static_cast<int>(len), 0);
}

long ReceiveNow(SocketHandle s, void *buffer, size_t len) {
    u_long waiting = 0;
    if (ioctlsocket(s, FIONREAD, &waiting) != 0)
        return -1;
    if (waiting == 0) {
        WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    return ReceiveSome(s, buffer, len < waiting ? len : waiting);
}

int PollSockets(PollEntry *entries, size_t count, int timeoutMs) {
    StartSockets();
    // WSAPoll takes no placeholder entries: only the watched sockets go in.
    std::vector<WSAPOLLFD> fds;
    std::vector<size_t> index;
    for (size_t i = 0; i < count; ++i) {
        entries[i].readable = entries[i].writable = false;
        if (entries[i].socket == kNoSocket || (!entries[i].wantRead && !entries[i].wantWrite))
            continue;
        WSAPOLLFD p{};
        p.fd = entries[i].socket;
        p.events = static_cast<SHORT>((entries[i].wantRead ? POLLRDNORM : 0) |
                                      (entries[i].wantWrite ? POLLWRNORM : 0));
        fds.push_back(p);
        index.push_back(i);
    }
    if (fds.empty()) {
        Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return 0;
    }
    int r = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
    if (r <= 0)
        return r < 0 ? -1 : 0;
    for (size_t k = 0; k < fds.size(); ++k) {
        PollEntry &e = entries[index[k]];
        const SHORT got = fds[k].revents;
        e.readable = e.wantRead && (got & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
        e.writable = e.wantWrite && (got & (POLLWRNORM | POLLHUP | POLLERR)) != 0;
    }
    return r;
}

WakeSignal::WakeSignal() {
    StartSockets();
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof sa;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len) != 0 ||
        connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        int err = LastSocketErrno();
        CloseSocket(s);
        throw std::system_error(err, std::generic_category(), "wake-up socket");
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    SetNonBlocking(s);
    read_ = write_ = s;
}

WakeSignal::~WakeSignal() {
    CloseSocket(read_);
}

void WakeSignal::Set() {
    char byte = 1;
    send(write_, &byte, 1, 0);
}

void WakeSignal::Clear() {
    char buf[64];
    while (recv(read_, buf, sizeof buf, 0) > 0) {
    }
}

#else // POSIX

namespace {

void SetCloseOnExec(int fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

} // namespace

void StartSockets() {}

bool RunningUnderWine() {
    return false;
}

int LastSocketErrno() {
    return errno;
}

SocketHandle OpenTcpSocket(int family) {
    int fd = socket(family, SOCK_STREAM, 0);
    if (fd >= 0)
        SetCloseOnExec(fd);
    return fd;
}

void CloseSocket(SocketHandle s) {
    if (s >= 0)
        close(s);
}

void SetNonBlocking(SocketHandle s) {
    int fl = fcntl(s, F_GETFL);
    if (fl >= 0)
        fcntl(s, F_SETFL, fl | O_NONBLOCK);
}

void ShutdownSend(SocketHandle s) {
    shutdown(s, SHUT_WR);
}

void ShutdownReceive(SocketHandle s) {
    shutdown(s, SHUT_RD);
}

long ReceiveSome(SocketHandle s, void *buffer, size_t len) {
    return recv(s, buffer, len, 0);
}

long SendSome(SocketHandle s, const void *data, size_t len) {
    return send(s, data, len, MSG_NOSIGNAL);
}

long ReceiveNow(SocketHandle s, void *buffer, size_t len) {
    return recv(s, buffer, len, MSG_DONTWAIT);
}

int PollSockets(PollEntry *entries, size_t count, int timeoutMs) {
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; ++i) {
        entries[i].readable = entries[i].writable = false;
        fds[i].events =
            static_cast<short>((entries[i].wantRead ? POLLIN : 0) | (entries[i].wantWrite ? POLLOUT : 0));
        // A socket watched for nothing would still report POLLHUP: leave it out.
        fds[i].fd = fds[i].events != 0 ? entries[i].socket : -1;
    }
    int r = poll(fds.data(), fds.size(), timeoutMs);
    if (r <= 0)
        return r;
    for (size_t i = 0; i < count; ++i) {
        const short got = fds[i].revents;
        entries[i].readable = entries[i].wantRead && (got & (POLLIN | POLLHUP | POLLERR)) != 0;
        entries[i].writable = entries[i].wantWrite && (got & (POLLOUT | POLLHUP | POLLERR)) != 0;
    }
    return r;
}

WakeSignal::WakeSignal() {
    int fds[2];
    if (pipe(fds) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    read_ = fds[0];
    write_ = fds[1];
    for (int fd : fds) {
        SetNonBlocking(fd);
        SetCloseOnExec(fd);
    }
}

WakeSignal::~WakeSignal() {
    close(read_);
    close(write_);
}

void WakeSignal::Set() {
    char byte = 1;
    while (write(write_, &byte, 1) < 0 && errno == EINTR) {
    }
}

void WakeSignal::Clear() {
    char buf[64];
    while (read(read_, buf, sizeof buf) > 0) {
    }
}

#endif

// Both systems take an int option value; Windows wants it as a char pointer.
namespace {
void SetIntOption(SocketHandle s, int level, int name, int value) {
    setsockopt(s, level, name, reinterpret_cast<const char *>(&value), sizeof value);
}
} // namespace

void SetNoDelay(SocketHandle s) {
    SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, 1);
}

void SetReuseAddress(SocketHandle s) {
    SetIntOption(s, SOL_SOCKET, SO_REUSEADDR, 1);
}

void SetAbortiveClose(SocketHandle s) {
    linger lg{};
    lg.l_onoff = 1;
    lg.l_linger = 0;
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&lg), sizeof lg);
}

namespace {

// 127.0.0.1 or ::1 at `port` (host order).
union LoopbackAddress {
    sockaddr any;
    sockaddr_in in;
    sockaddr_in6 in6;
};
socklen_t Loopback(int family, uint16_t port, LoopbackAddress &sa) {
    sa = {};
    if (family == AF_INET) {
        sa.in.sin_family = AF_INET;
        sa.in.sin_port = htons(port);
        sa.in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return sizeof sa.in;
    }
    sa.in6.sin6_family = AF_INET6;
    sa.in6.sin6_port = htons(port);
    sa.in6.sin6_addr.s6_addr[15] = 1;
    return sizeof sa.in6;
}

SocketHandle OpenListener(int family, int backlog, uint16_t &port) {
    SocketHandle s = OpenTcpSocket(family);
    if (s == kNoSocket)
        return s;
    LoopbackAddress sa;
    socklen_t len = Loopback(family, port, sa);
    if (bind(s, &sa.any, len) != 0 || listen(s, backlog) != 0 ||
        getsockname(s, &sa.any, &len) != 0) {
        int err = LastSocketErrno();
        CloseSocket(s);
        errno = err;
        return kNoSocket;
    }
    port = ntohs(family == AF_INET ? sa.in.sin_port : sa.in6.sin6_port);
    return s;
}

SocketHandle StartConnect(int family, uint16_t port) {
    SocketHandle s = OpenTcpSocket(family);
    if (s == kNoSocket)
        return s;
    SetNonBlocking(s);
    LoopbackAddress sa;
    connect(s, &sa.any, Loopback(family, port, sa));
    return s;
}

} // namespace

SocketHandle OpenLoopbackListener(int backlog, uint16_t &port) {
    port = 0;
    return OpenListener(AF_INET, backlog, port);
}

SocketHandle OpenIpv6LoopbackListener(int backlog, uint16_t &port) {
    return OpenListener(AF_INET6, backlog, port);
}

SocketHandle AcceptConnection(SocketHandle listener) {
    SocketHandle s = accept(listener, nullptr, nullptr);
    if (s == kNoSocket)
        return s;
#ifdef _WIN32
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
#else
    SetCloseOnExec(s);
#endif
    SetNonBlocking(s);
    return s;
}

SocketHandle StartLoopbackConnect(uint16_t port) { return StartConnect(AF_INET, port); }

SocketHandle StartIpv6LoopbackConnect(uint16_t port) { return StartConnect(AF_INET6, port); }

} // namespace testsupport
