// Sockets on Windows Sockets: notifications by WSAAsyncSelect to the thread's notification
// window, which already follows the rules of asynchronous select (a read notification again
// after a receive, a write notification after a send that would block, connect and close
// once).
#include "platform/AsyncSocket.h"

#include "platform/SocketErrors.h"
#include "platform/win32/Window.h"
#include "platform/win32/Winsock.h"

#include <cstring>
#include <mutex>

#include <ws2tcpip.h>

#include "platform/SocketAddress.h"

namespace platform {

namespace win32 {
namespace {
WSADATA startup{};
int startupResult = -1;
} // namespace

void StartSockets() {
    static std::once_flag once;
    std::call_once(once, [] { startupResult = WSAStartup(MAKEWORD(1, 1), &startup); });
}

int SocketsStartupResult() {
    StartSockets();
    return startupResult;
}

const WSADATA &SocketsStartupData() {
    StartSockets();
    return startup;
}
} // namespace win32

namespace {

using win32::StartSockets;

int Fail() {
    SetLastSocketError(WSAGetLastError());
    return -1;
}

class WinsockSocket final : public AsyncSocket {
  public:
    WinsockSocket(SOCKET s, IpAddress::Family family) : socket_(s), family_(family) {}
    ~WinsockSocket() override { Close(); }

    uintptr_t Handle() const override { return socket_; }

    void Select(const MessageTarget &target, uint16_t mask) override {
        Unregister();
        queue_ = target.OwnerQueue();
        message_ = win32::RegisterSocket(*queue_, socket_, target.TargetId());
        WSAAsyncSelect(socket_, win32::NotifyWindow(*queue_), mask ? message_ : 0, mask);
    }

    bool SetLinger(bool on, int seconds) override {
        linger l{static_cast<u_short>(on ? 1 : 0), static_cast<u_short>(seconds)};
        if (setsockopt(socket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&l),
                       sizeof l) != 0)
            return Fail() == 0;
        return true;
    }

    int Connect(const IpAddress &address, uint16_t port) override {
        if (address.family != family_) {
            SetLastSocketError(WSAEAFNOSUPPORT);
            return -1;
        }
        SocketAddress sa;
        const int len = ToSocketAddress(address, port, sa);
        if (connect(socket_, &sa.any, len) == 0) {
            SetLastSocketError(kErrWouldBlock); // the connect notification follows
            return -1;
        }
        return Fail();
    }

    long Receive(void *buffer, size_t len) override {
        const int n = recv(socket_, static_cast<char *>(buffer),
                           static_cast<int>(len > 0x7fffffff ? 0x7fffffff : len), 0);
        return n == SOCKET_ERROR ? Fail() : n;
    }

    long Send(const void *data, size_t len) override {
        const int n = send(socket_, static_cast<const char *>(data),
                           static_cast<int>(len > 0x7fffffff ? 0x7fffffff : len), 0);
        return n == SOCKET_ERROR ? Fail() : n;
    }

    int Close() override {
        if (socket_ == INVALID_SOCKET)
            return 0;
        Unregister();
        const int r = closesocket(socket_);
        socket_ = INVALID_SOCKET;
        return r == 0 ? 0 : Fail();
    }

  private:
    void Unregister() {
        if (queue_ && message_)
            win32::UnregisterSocket(*queue_, message_);
        message_ = 0;
    }

    SOCKET socket_;
    IpAddress::Family family_;
    std::shared_ptr<NotifyQueue> queue_;
    UINT message_ = 0;
};

} // namespace

std::unique_ptr<AsyncSocket> AsyncSocket::Create(IpAddress::Family family) {
    StartSockets();
    if (family == IpAddress::Family::None) {
        SetLastSocketError(WSAEAFNOSUPPORT);
        return nullptr;
    }
    SOCKET s =
        socket(family == IpAddress::Family::V4 ? AF_INET : AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        Fail();
        return nullptr;
    }
    // Non-blocking from here on; the notifications are chosen by Select.
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    return std::make_unique<WinsockSocket>(s, family);
}

uint16_t HostToNetwork16(uint16_t v) { return htons(v); }

SocketLayerInfo QuerySocketLayerInfo() {
    SocketLayerInfo info;
    if (win32::SocketsStartupResult() != 0)
        return info;
    const WSADATA &startup = win32::SocketsStartupData();
    info.version = startup.wVersion;
    info.highVersion = startup.wHighVersion;
    info.description = startup.szDescription;
    info.systemStatus = startup.szSystemStatus;
    info.maxSockets = startup.iMaxSockets;
    info.maxUdpDatagram = startup.iMaxUdpDg;
    return info;
}

} // namespace platform
