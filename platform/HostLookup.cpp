#include "platform/HostLookup.h"

#include <mutex>

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

} // namespace platform
