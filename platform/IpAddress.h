#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// An IPv4 or IPv6 address, its bytes in network order (an IPv4 address in the first four).
struct IpAddress {
    enum class Family : uint8_t { None, V4, V6 } family = Family::None;
    std::array<uint8_t, 16> bytes{};
    bool operator==(const IpAddress &) const = default;
};

// An IPv4 dotted quad ("192.0.2.1": four decimal parts of 0-255 without leading zeros) or an
// IPv6 literal without brackets ("2001:db8::1", "::ffff:192.0.2.1") to an address. False,
// leaving `address` alone, for anything else: a name, brackets, a zone id ("fe80::1%eth0").
bool ParseIpAddress(std::string_view text, IpAddress &address);
// Whether `text` is an IPv6 literal without brackets (as ParseIpAddress reads it).
bool IsIpv6Address(std::string_view text);
// The address's text: the dotted quad, or IPv6 in its canonical RFC 5952 form (lower case, the
// longest run of two or more zero groups as "::", an IPv4-mapped address as ::ffff:a.b.c.d),
// without brackets. Empty for Family::None.
std::string IpAddressText(const IpAddress &address);

// The value of a hexadecimal digit (either case), -1 for any other character: for IPv6 groups
// and percent-encoded bytes alike.
int HexDigitValue(char c);

// An IPv4 address given as 32 bits in network byte order (as in sockaddr_in).
IpAddress Ipv4Address(uint32_t networkOrder);
// The 32 bits (network byte order) of an IPv4 address; 0 for any other family.
uint32_t Ipv4NetworkOrder(const IpAddress &address);

} // namespace platform
