#include "platform/HostLookup.h"
#include "platform/LookupThread.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace platform {
namespace {

std::mutex resolverMutex;
Resolver customResolver;

} // namespace

void SetResolver(Resolver resolver) {
    std::lock_guard lock(resolverMutex);
    customResolver = std::move(resolver);
}

Resolver ReplacedResolver() {
    std::lock_guard lock(resolverMutex);
    return customResolver;
}

uint16_t NextLookupSerial() {
    static std::atomic<uint16_t> nextSerial{1};
    return nextSerial++;
}

Message LookupDoneMessage(uint64_t target, uint16_t serial, int code, uint32_t address) {
    Message m;
    m.kind = MessageKind::LookupDone;
    m.target = target;
    m.event = serial;
    m.error = static_cast<uint16_t>(code);
    m.address = code == 0 ? address : 0;
    return m;
}

void ResolveOnThread(const std::string &name, Resolver resolve, const MessageTarget &target,
                     uint16_t serial) {
    std::thread([name, resolve = std::move(resolve), queue = target.OwnerQueue(),
                 id = target.TargetId(), serial] {
        uint32_t address = 0;
        const int code = resolve(name, address);
        queue->Post(LookupDoneMessage(id, serial, code, address));
    }).detach();
}

} // namespace platform
