#pragma once

// The order and pace in which a connection tries the addresses of a name (Happy Eyeballs): the
// two families take turns, and each attempt starts a moment after the one before unless that
// one has failed already, so that a dead route of one family costs a quarter of a second, not
// the system's whole connect time-out.

#include "platform/IpAddress.h"

#include <chrono>
#include <string>
#include <vector>

namespace net {

// How long an attempt runs alone before the next address is tried beside it.
constexpr std::chrono::milliseconds kNextAttemptDelay{250};

// The addresses with the families taking turns, starting with the family of the first one;
// within each family the system's order stays. Addresses that appear twice are tried once.
// `first`, when it is one of them, is tried first (and its family leads).
std::vector<platform::IpAddress> AlternatingFamilies(const std::vector<platform::IpAddress> &addresses,
                                                     const platform::IpAddress &first = {});

// The address each name was last connected at, for the whole process: the connections that
// follow the first one to a host (the ranges after the size request) try that address first,
// so that only the first one pays for a dead route. Any thread.
void NoteConnectedAddress(const std::string &name, const platform::IpAddress &address);
platform::IpAddress LastConnectedAddress(const std::string &name);

} // namespace net
