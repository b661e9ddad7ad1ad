#pragma once

// The system's part of a host lookup: each system provides its resolver, which the shared
// StartHostLookup runs on a thread of its own.

#include "platform/HostLookup.h"

#include <string>
#include <vector>

namespace platform {

// The system's resolver (getaddrinfo for IPv6 and IPv4 stream addresses): 0 and every
// address in the system's order, or a lookup error code (kErrNoData when it has none).
// Blocks for as long as the system's lookup takes. Any thread.
int SystemResolve(const std::string &name, std::vector<IpAddress> &addresses);

} // namespace platform
