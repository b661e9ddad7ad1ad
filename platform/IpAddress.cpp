// Address text in both directions, done here rather than by inet_pton/inet_ntop so that both
// systems accept and print exactly the same forms.
#include "platform/IpAddress.h"

#include <cstring>

namespace platform {
namespace {

// A decimal part of a dotted quad at the start of `text`: 0-255 without leading zeros (which
// some readers take for octal). Advances `text` past it.
bool ParseDecimalPart(std::string_view &text, uint8_t &part) {
    size_t n = 0;
    unsigned value = 0;
    while (n < text.size() && n < 4 && text[n] >= '0' && text[n] <= '9')
        value = value * 10 + static_cast<unsigned>(text[n++] - '0');
    if (n == 0 || n > 3 || value > 255 || (n > 1 && text[0] == '0'))
        return false;
    part = static_cast<uint8_t>(value);
    text.remove_prefix(n);
    return true;
}

bool ParseDottedQuad(std::string_view text, uint8_t *bytes) {
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (text.empty() || text[0] != '.')
                return false;
            text.remove_prefix(1);
        }
        if (!ParseDecimalPart(text, bytes[i]))
            return false;
    }
    return text.empty();
}


// Groups of one to four hex digits separated by ':', at most one "::" standing for one or
// more zero groups, and optionally a dotted quad as the last 32 bits.
bool ParseIpv6(std::string_view text, uint8_t *bytes) {
    uint8_t head[16] = {};
    uint8_t tail[16] = {};
    size_t headLen = 0, tailLen = 0;
    bool compressed = false;
    if (text.substr(0, 2) == "::") {
        compressed = true;
        text.remove_prefix(2);
    } else if (!text.empty() && text[0] == ':') {
        return false; // a single leading colon
    }
    while (!text.empty()) {
        uint8_t *out = compressed ? tail : head;
        size_t &len = compressed ? tailLen : headLen;
        if (headLen + tailLen + 2 > 16)
            return false;
        size_t digits = 0;
        unsigned group = 0;
        while (digits < text.size() && digits < 5 && HexDigitValue(text[digits]) >= 0)
            group = group * 16 + static_cast<unsigned>(HexDigitValue(text[digits++]));
        if (digits < text.size() && text[digits] == '.') {
            // The dotted quad ends the address and fills its last four bytes.
            if (headLen + tailLen + 4 > 16 || !ParseDottedQuad(text, out + len))
                return false;
            len += 4;
            break;
        }
        if (digits == 0 || digits > 4)
            return false;
        out[len++] = static_cast<uint8_t>(group >> 8);
        out[len++] = static_cast<uint8_t>(group & 0xff);
        text.remove_prefix(digits);
        if (text.empty())
            break;
        if (text[0] != ':')
            return false;
        text.remove_prefix(1);
        if (!text.empty() && text[0] == ':') {
            if (compressed)
                return false; // a second "::"
            compressed = true;
            text.remove_prefix(1);
        } else if (text.empty()) {
            return false; // a trailing single colon
        }
    }
    if (compressed ? headLen + tailLen > 14 : headLen != 16)
        return false;
    std::memset(bytes, 0, 16);
    std::memcpy(bytes, head, headLen);
    std::memcpy(bytes + 16 - tailLen, tail, tailLen);
    return true;
}

std::string DottedQuadText(const uint8_t *bytes) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            text += '.';
        text += std::to_string(bytes[i]);
    }
    return text;
}

std::string Ipv6Text(const std::array<uint8_t, 16> &bytes) {
    static constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(bytes.data(), kMappedPrefix, sizeof kMappedPrefix) == 0)
        return "::ffff:" + DottedQuadText(bytes.data() + 12);
    unsigned groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = static_cast<unsigned>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    // The longest run of zero groups, the first of equal ones; a single zero group stays.
    int bestStart = -1, bestLen = 1;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i > bestLen) {
            bestStart = i;
            bestLen = j - i;
        }
        i = j;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLen - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (groups[i] >> shift) & 0xf;
            if (digit != 0 || started || shift == 0) {
                text += kDigits[digit];
                started = true;
            }
        }
    }
    return text;
}

} // namespace

bool ParseIpAddress(std::string_view text, IpAddress &address) {
    IpAddress parsed;
    if (ParseDottedQuad(text, parsed.bytes.data()))
        parsed.family = IpAddress::Family::V4;
    else if (ParseIpv6(text, parsed.bytes.data()))
        parsed.family = IpAddress::Family::V6;
    else
        return false;
    address = parsed;
    return true;
}

std::string IpAddressText(const IpAddress &address) {
    switch (address.family) {
    case IpAddress::Family::V4:
        return DottedQuadText(address.bytes.data());
    case IpAddress::Family::V6:
        return Ipv6Text(address.bytes);
    default:
        return {};
    }
}

IpAddress Ipv4Address(uint32_t networkOrder) {
    IpAddress address;
    address.family = IpAddress::Family::V4;
    std::memcpy(address.bytes.data(), &networkOrder, 4);
    return address;
}

uint32_t Ipv4NetworkOrder(const IpAddress &address) {
    uint32_t bits = 0;
    if (address.family == IpAddress::Family::V4)
        std::memcpy(&bits, address.bytes.data(), 4);
    return bits;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsIpv6Address(std::string_view text) {
    IpAddress address;
    return ParseIpAddress(text, address) && address.family == IpAddress::Family::V6;
}

} // namespace platform
