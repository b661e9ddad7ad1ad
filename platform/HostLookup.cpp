#include "platform/HostLookup.h"
#include "platform/LookupThread.h"

#include "platform/SocketErrors.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace platform {
namespace {

std::mutex resolverMutex;
Resolver customResolver;

uint16_t NextLookupSerial() {
    static std::atomic<uint16_t> nextSerial{1};
    return nextSerial++;
}

// The LookupDone message of lookup `serial` for `target`: `code` as its error, and the
// addresses when the code is 0.
Message LookupDoneMessage(uint64_t target, uint16_t serial, int code,
                          std::vector<IpAddress> addresses) {
    Message m;
    m.kind = MessageKind::LookupDone;
    m.target = target;
    m.event = serial;
    m.error = static_cast<uint16_t>(code);
    if (code != 0)
        return m;
    m.addresses = std::make_shared<const std::vector<IpAddress>>(std::move(addresses));
    return m;
}

} // namespace

void SetResolver(Resolver resolver) {
    std::lock_guard lock(resolverMutex);
    customResolver = std::move(resolver);
}

Resolver ReplacedResolver() {
    std::lock_guard lock(resolverMutex);
    return customResolver;
}

uint16_t StartHostLookup(const std::string &name, const MessageTarget &target) {
    const uint16_t serial = NextLookupSerial();
    Resolver resolve = ReplacedResolver();
    if (!resolve)
        resolve = SystemResolve;
    // Detached: a lookup that is given up is never waited for; its answer goes to a queue that
    // drops it when the target is gone.
    std::thread([name, resolve = std::move(resolve), queue = target.OwnerQueue(),
                 id = target.TargetId(), serial] {
        std::vector<IpAddress> addresses;
        int code = resolve(name, addresses);
        if (code == 0 && addresses.empty())
            code = kErrNoData;
        queue->Post(LookupDoneMessage(id, serial, code, std::move(addresses)));
    }).detach();
    return serial;
}

} // namespace platform
