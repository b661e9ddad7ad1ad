#include "platform/HostLookup.h"

#include "platform/LookupThread.h"
#include "platform/SocketErrors.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {
namespace {

int SystemResolve(const std::string &name, uint32_t &address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
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
    int code = kErrNoData;
    for (addrinfo *a = result; a; a = a->ai_next)
        if (a->ai_family == AF_INET) {
            address = reinterpret_cast<sockaddr_in *>(a->ai_addr)->sin_addr.s_addr;
            code = 0;
            break;
        }
    freeaddrinfo(result);
    return code;
}

} // namespace

uint16_t StartHostLookup(const std::string &name, const MessageTarget &target) {
    const uint16_t serial = NextLookupSerial();
    Resolver resolve = ReplacedResolver();
    ResolveOnThread(name, resolve ? std::move(resolve) : Resolver(SystemResolve), target, serial);
    return serial;
}

} // namespace platform
