// The system resolver on POSIX: getaddrinfo.
#include "platform/LookupThread.h"

#include "platform/SocketErrors.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/SocketAddress.h"

namespace platform {

int SystemResolve(const std::string &name, std::vector<IpAddress> &addresses) {
    // No name is no host. Windows would answer with this machine's own addresses (and glibc
    // refuses it): refused alike on both systems, so that an empty host never connects here.
    if (name.empty())
        return kErrHostNotFound;
    addrinfo hints{};
    // Both families, in the order the system prefers (RFC 6724 in glibc). Not AI_ADDRCONFIG:
    // with only loopback up, glibc would then hide the IPv4 loopback addresses too.
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *result = nullptr;
    int r = getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (r != 0) {
        switch (r) {
        case EAI_AGAIN: return kErrTryAgain;
        case EAI_FAIL: return kErrNoRecovery;
#ifdef EAI_NODATA
        case EAI_NODATA: return kErrNoData;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY: return kErrNoData;
#endif
        default: return kErrHostNotFound;
        }
    }
    AppendAddresses(result, addresses);
    freeaddrinfo(result);
    return addresses.empty() ? kErrNoData : 0;
}

} // namespace platform
