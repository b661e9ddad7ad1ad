#pragma once

// The socket APIs' addresses and IpAddress, both ways, for the socket and lookup code of either
// system: their structures are the same in both APIs. Included after the system's socket
// headers (<netinet/in.h> and <netdb.h>, or <ws2tcpip.h>), which declare them.

#include "platform/IpAddress.h"

#include <cstring>
#include <vector>

namespace platform {

union SocketAddress {
    sockaddr any;
    sockaddr_in in;
    sockaddr_in6 in6;
};

// The socket address of `address` at `port` (network byte order) in `sa`; its length.
inline int ToSocketAddress(const IpAddress &address, uint16_t port, SocketAddress &sa) {
    sa = {};
    if (address.family == IpAddress::Family::V4) {
        sa.in.sin_family = AF_INET;
        sa.in.sin_port = port;
        std::memcpy(&sa.in.sin_addr, address.bytes.data(), 4);
        return sizeof sa.in;
    }
    sa.in6.sin6_family = AF_INET6;
    sa.in6.sin6_port = port;
    std::memcpy(&sa.in6.sin6_addr, address.bytes.data(), 16);
    return sizeof sa.in6;
}

// The IPv4 and IPv6 addresses of a lookup's list (addrinfo, or Windows' ADDRINFOW), in its
// order, added to `addresses`.
template <class AddressList>
void AppendAddresses(const AddressList *list, std::vector<IpAddress> &addresses) {
    for (const AddressList *a = list; a; a = a->ai_next) {
        IpAddress address;
        if (a->ai_family == AF_INET) {
            address.family = IpAddress::Family::V4;
            std::memcpy(address.bytes.data(),
                        &reinterpret_cast<const sockaddr_in *>(a->ai_addr)->sin_addr, 4);
        } else if (a->ai_family == AF_INET6) {
            address.family = IpAddress::Family::V6;
            std::memcpy(address.bytes.data(),
                        &reinterpret_cast<const sockaddr_in6 *>(a->ai_addr)->sin6_addr, 16);
        } else {
            continue;
        }
        addresses.push_back(address);
    }
}

} // namespace platform
