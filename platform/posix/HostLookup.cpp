#include "platform/HostLookup.h"

#include "platform/SocketErrors.h"

#include <atomic>
#include <thread>

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
    static std::atomic<uint16_t> nextSerial{1};
    uint16_t serial = nextSerial++;
    Resolver resolve = ReplacedResolver();
    if (!resolve)
        resolve = SystemResolve;
    std::thread([name, resolve = std::move(resolve), queue = target.OwnerQueue(),
                 id = target.TargetId(), serial] {
        uint32_t address = 0;
        int code = resolve(name, address);
        Message m;
        m.kind = MessageKind::LookupDone;
        m.target = id;
        m.event = serial;
        m.error = static_cast<uint16_t>(code);
        m.address = code == 0 ? address : 0;
        queue->Post(std::move(m));
    }).detach();
    return serial;
}

} // namespace platform
