// The system resolver on Windows: GetAddrInfoW of Windows Sockets 2 (ws2_32 since XP SP2).
#include "platform/LookupThread.h"

#include "platform/SocketErrors.h"
#include "platform/win32/Text.h"
#include "platform/win32/Winsock.h"

#include <ws2tcpip.h>

#include "platform/SocketAddress.h"

namespace platform {

int SystemResolve(const std::string &name, std::vector<IpAddress> &addresses) {
    // No name is no host. Windows would answer with this machine's own addresses (and glibc
    // refuses it): refused alike on both systems, so that an empty host never connects here.
    if (name.empty())
        return kErrHostNotFound;
    // A lookup may come before any socket was made: without the start-up, it would fail
    // with WSANOTINITIALISED.
    win32::StartSockets();
    ADDRINFOW hints{};
    // Both families, in the order the system prefers. Not AI_ADDRCONFIG, as on POSIX.
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW *result = nullptr;
    const int r = GetAddrInfoW(win32::Widen(name).c_str(), nullptr, &hints, &result);
    // Its error codes are the lookup codes themselves (WSAHOST_NOT_FOUND = kErrHostNotFound,
    // WSATRY_AGAIN, WSANO_RECOVERY, WSANO_DATA), and any other is a Windows Sockets code with a
    // text of its own: passed on as they are.
    if (r != 0)
        return r;
    AppendAddresses(result, addresses);
    FreeAddrInfoW(result);
    return addresses.empty() ? kErrNoData : 0;
}

} // namespace platform
