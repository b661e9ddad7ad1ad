#pragma once

#include "platform/IpAddress.h"
#include "platform/NotifyQueue.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Starts an asynchronous lookup of `name` (IPv6 and IPv4) on a resolver thread of its own.
// When it ends, a LookupDone message is posted to `target`: error 0 with every address of the
// name in the system's order (`addresses`), or a lookup error code (kErrHostNotFound ...). Never blocks the
// caller. A lookup nobody waits for any more is abandoned: its message is dropped if the target
// is gone. Returns the lookup's serial number, which its LookupDone message carries as `event`,
// so that a late answer to an abandoned lookup is not taken for the answer to a newer one.
uint16_t StartHostLookup(const std::string &name, const MessageTarget &target);

// The function a resolver thread runs: returns 0 and fills `addresses` (at least one), or a
// lookup error code.
using Resolver = std::function<int(const std::string &name, std::vector<IpAddress> &addresses)>;
// Replaces the system resolver (for tests, e.g. a slow one); an empty function restores it.
void SetResolver(Resolver resolver);
// The resolver SetResolver set last; empty for the system's own. Any thread.
Resolver ReplacedResolver();

} // namespace platform
