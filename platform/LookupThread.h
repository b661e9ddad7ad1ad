#pragma once

// What the systems' StartHostLookup share: the serial numbers, the answer's message, and the
// lookup on a thread of its own.

#include "platform/HostLookup.h"

#include <cstdint>
#include <string>

namespace platform {

// The serial number of a new lookup. Any thread.
uint16_t NextLookupSerial();

// The LookupDone message of lookup `serial` for the target `target`: `code` as its error, and
// `address` when the code is 0.
Message LookupDoneMessage(uint64_t target, uint16_t serial, int code, uint32_t address);

// Runs `resolve` for `name` on a thread of its own and posts its answer to `target`.
void ResolveOnThread(const std::string &name, Resolver resolve, const MessageTarget &target,
                     uint16_t serial);

} // namespace platform
