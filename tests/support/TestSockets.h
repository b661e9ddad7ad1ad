#pragma once

// The few socket calls the test servers and socket tests make, on both systems: Berkeley
// sockets on POSIX, Windows Sockets on Windows (started on first use). Error numbers come back
// as errno values (EWOULDBLOCK, EINTR, ECONNRESET, ...) on both, so callers test one set.

#include <chrono>
#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#endif

namespace testsupport {

#ifdef _WIN32
using SocketHandle = SOCKET;
constexpr SocketHandle kNoSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;
#endif

// Starts the socket layer once per process (Windows); nothing to do on POSIX. Every function
// below calls it, so a test needs it only before calling the system's socket functions itself.
void StartSockets();

// True in a Windows program that runs under wine (whose ntdll exports wine_get_version);
// false on Windows itself and on POSIX. For the few cases where wine differs from Windows.
bool RunningUnderWine();

// The error number of the last failed socket call on this thread, as an errno value.
int LastSocketErrno();

// A TCP socket of the family (AF_INET, AF_INET6), not inherited by child processes; kNoSocket
// on failure.
SocketHandle OpenTcpSocket(int family = AF_INET);
void CloseSocket(SocketHandle s);
void SetNonBlocking(SocketHandle s);
void SetNoDelay(SocketHandle s);
void SetReuseAddress(SocketHandle s);
// SO_LINGER {1, 0}: closing the socket then resets the connection.
void SetAbortiveClose(SocketHandle s);
// Stops sending (a FIN after the bytes sent so far).
void ShutdownSend(SocketHandle s);
// Stops receiving; on a listening POSIX socket this also stops it taking connections.
void ShutdownReceive(SocketHandle s);

// recv/send with the flags each system needs (no SIGPIPE on POSIX): the byte count, 0 at the
// end of the stream (recv), -1 on error (LastSocketErrno()).
long ReceiveSome(SocketHandle s, void *buffer, size_t len);
long SendSome(SocketHandle s, const void *data, size_t len);
// A receive that does not block, also on a blocking socket (for draining a peer).
long ReceiveNow(SocketHandle s, void *buffer, size_t len);

// A socket bound to 127.0.0.1 (port 0: ephemeral) and listening; kNoSocket on failure, with
// LastSocketErrno() telling why. `port` receives the bound port in host order.
SocketHandle OpenLoopbackListener(int backlog, uint16_t &port);
// The same on ::1, at `port` when it is not 0 on entry; kNoSocket when it cannot be bound (no
// IPv6 here, or it is switched off, or the port is taken).
SocketHandle OpenIpv6LoopbackListener(int backlog, uint16_t &port);
// Accepts a connection from a listener: the new socket is non-blocking and not inherited;
// kNoSocket on failure (LastSocketErrno()).
SocketHandle AcceptConnection(SocketHandle listener);
// Starts a non-blocking connect to 127.0.0.1:port (::1:port); the socket, or kNoSocket.
SocketHandle StartLoopbackConnect(uint16_t port);
SocketHandle StartIpv6LoopbackConnect(uint16_t port);

// One entry of PollSockets: a socket (kNoSocket: not watched), what to watch, what happened.
struct PollEntry {
    SocketHandle socket = kNoSocket;
    bool wantRead = false;
    bool wantWrite = false;
    bool readable = false; // input, end of stream, or an error to collect by reading
    bool writable = false; // room to send, or an error to collect by sending
};
// Waits at most timeoutMs (-1: no limit) until an entry is ready; the number of ready
// entries, 0 on time-out, -1 on error (EINTR included, LastSocketErrno()).
int PollSockets(PollEntry *entries, size_t count, int timeoutMs);

// A wake-up that any thread can set and a poll can watch: once set, its socket stays
// readable until Clear(). POSIX: a pipe; Windows: a loopback UDP socket sending to itself.
class WakeSignal {
  public:
    WakeSignal(); // throws std::system_error when it cannot be made
    ~WakeSignal();
    WakeSignal(const WakeSignal &) = delete;
    WakeSignal &operator=(const WakeSignal &) = delete;
    SocketHandle Watch() const { return read_; }
    void Set();
    void Clear();

  private:
    SocketHandle read_ = kNoSocket;
    SocketHandle write_ = kNoSocket;
};

} // namespace testsupport
