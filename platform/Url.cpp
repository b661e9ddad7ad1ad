#include "platform/Url.h"

#include "platform/Catalogue.h"
#include "platform/IpAddress.h"

#include <cctype>
#include <cstring>

namespace platform {
namespace {

// The length of a scheme ("http") at the start of `url` when "://" follows it, else 0.
size_t SchemeLength(const std::string &url) {
    if (url.empty() || !std::isalpha(static_cast<unsigned char>(url[0])))
        return 0;
    size_t i = 1;
    while (i < url.size() && (std::isalnum(static_cast<unsigned char>(url[i])) || url[i] == '+' ||
                              url[i] == '-' || url[i] == '.'))
        ++i;
    return url.compare(i, 3, "://") == 0 ? i : 0;
}

std::string Lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string WithoutFragment(const std::string &text) {
    return text.substr(0, text.find('#'));
}

void SplitAuthority(const std::string &authority, UrlParts &parts) {
    parts.hasAuthority = true;
    const size_t at = authority.rfind('@');
    if (at != std::string::npos)
        parts.userInfo = authority.substr(0, at);
    HostPort hostPort =
        SplitHostPort(std::string_view(authority).substr(at == std::string::npos ? 0 : at + 1));
    parts.host = std::move(hostPort.host);
    parts.hasPort = hostPort.hasPort;
    parts.port = std::move(hostPort.port);
}

// "fe80::1%eth0" of "fe80::1%25eth0": the zone id's "%" as RFC 6874 encodes it, decoded.
std::string ZoneShown(std::string_view literal) {
    std::string shown(literal);
    if (const size_t percent = shown.find("%25"); percent != std::string::npos)
        shown.erase(percent + 1, 2);
    return shown;
}

// Whether RFC 3986 lets `c` stand as it is in a path or query: unreserved, reserved, or the
// "%" of an encoded byte.
bool AllowedInTarget(unsigned char c) {
    if (c == 0 || c >= 0x80)
        return false;
    return std::isalnum(c) || std::strchr("-._~:/?#[]@!$&'()*+,;=%", c) != nullptr;
}

// "0D" of the byte 0x0D.
std::string HexPair(unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {kHex[byte >> 4], kHex[byte & 15]};
}

} // namespace

std::string WithoutUserInfo(const std::string &authority) {
    // An "@" after the authority's end (in a query: "h?mail=a@b") is no user information.
    const size_t at = authority.rfind('@', authority.find_first_of("/?#"));
    return at == std::string::npos ? authority : authority.substr(at + 1);
}

std::string ShownUrl(const std::string &url) {
    size_t start = SchemeLength(url);
    if (start > 0)
        start += 3;
    else if (url.compare(0, 2, "//") == 0)
        start = 2;
    else
        return url; // no authority, so no user information
    const std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    const size_t at = authority.rfind('@');
    if (at == std::string::npos)
        return url;
    const size_t colon = authority.find(':');
    const std::string shown = colon < at ? authority.substr(0, colon) + ":***" : "***";
    return url.substr(0, start) + shown + url.substr(start + at);
}

std::string RequestTarget(const std::string &pathAndQuery) {
    std::string target;
    target.reserve(pathAndQuery.size());
    for (char c : pathAndQuery) {
        const auto byte = static_cast<unsigned char>(c);
        target += AllowedInTarget(byte) ? std::string(1, c) : "%" + HexPair(byte);
    }
    return target;
}

std::string ControlCharacterIn(const std::string &text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\r')
            return "CR";
        if (byte == '\n')
            return "LF";
        if (byte == '\t')
            return "TAB";
        if (byte == 0x7f)
            return "DEL";
        if (byte < 0x20)
            return "0x" + HexPair(byte);
    }
    return "";
}

UrlParts SplitUrl(const std::string &url) {
    UrlParts parts;
    const std::string text = WithoutFragment(url);
    size_t rest = 0;
    if (size_t schemeLength = SchemeLength(text)) {
        parts.scheme = Lower(text.substr(0, schemeLength));
        rest = schemeLength + 3;
    } else if (text.compare(0, 2, "//") == 0) {
        rest = 2;
    } else if (!text.empty() && (text[0] == '/' || text[0] == '?')) {
        parts.pathAndQuery = text;
        return parts;
    }
    size_t end = text.find_first_of("/?", rest);
    SplitAuthority(text.substr(rest, end == std::string::npos ? std::string::npos : end - rest),
                   parts);
    if (end != std::string::npos)
        parts.pathAndQuery = text.substr(end);
    return parts;
}

std::string ComposeUrl(const UrlParts &parts) {
    std::string url = parts.scheme.empty() ? "" : parts.scheme + ":";
    if (parts.hasAuthority)
        url += "//" + parts.host + (parts.hasPort ? ":" + parts.port : "");
    return url + parts.pathAndQuery;
}

std::string LocationUrl(std::string_view scheme, std::string_view host, std::string_view directory,
                        std::string_view fileName) {
    std::string url =
        std::string(scheme) + "://" + std::string(host) + "/" + std::string(directory);
    if (!directory.empty() && directory.back() != '/')
        url += "/";
    return url + std::string(fileName);
}

HostPort SplitHostPort(std::string_view authority) {
    // The colons of an IPv6 literal are inside its brackets: the port's is after them.
    size_t colon = authority.find(':');
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        colon = close == std::string_view::npos ? close : authority.find(':', close);
    }
    HostPort hostPort;
    hostPort.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
        hostPort.hasPort = true;
        // All of the rest: "80:90" is no port, and is refused as one rather than taken as 80.
        hostPort.port = std::string(authority.substr(colon + 1));
    }
    return hostPort;
}

std::string ZoneIdError(std::string_view address) {
    // TRANSLATORS: %1 is an IPv6 address with a zone id ("fe80::1%eth0"); a zone id names a
    // network interface of this computer.
    return Fill(Tr("IPv6 zone ids such as %1 are not supported"), {address});
}

std::string HostError(std::string_view host) {
    const std::string text(host);
    if (host.empty() || host[0] != '[') {
        if (host.find_first_of("[]") != std::string_view::npos)
            // TRANSLATORS: %1 is the host as written.
            return Fill(Tr("The host %1 is not a name: \"[\" and \"]\" enclose an IPv6 address"),
                        {text});
        return "";
    }
    const size_t close = host.find(']');
    if (close == std::string_view::npos)
        // TRANSLATORS: %1 is the address as written.
        return Fill(Tr("The IPv6 address %1 lacks its closing \"]\""), {text});
    if (close + 1 != host.size())
        // TRANSLATORS: %1 is the host as written.
        return Fill(Tr("The host %1 has text after the \"]\" of its IPv6 address"), {text});
    const std::string_view literal = host.substr(1, close - 1);
    // A zone id names an interface of this computer: it means nothing to a server, or in a
    // Host line, and the scope it picks is left to the system's routes here.
    if (literal.find('%') != std::string_view::npos)
        return ZoneIdError(ZoneShown(literal));
    if (!IsIpv6Address(literal))
        // TRANSLATORS: %1 is the address as written.
        return Fill(Tr("%1 is not an IPv6 address"), {text});
    return "";
}

std::string SocketHost(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return std::string(host.substr(1, host.size() - 2));
    return std::string(host);
}

std::string UrlHost(std::string_view host) {
    return IsIpv6Address(host) ? "[" + std::string(host) + "]" : std::string(host);
}

std::string HostAndPort(std::string_view host, int32_t port) {
    return port == 0 ? UrlHost(host) : UrlHost(host) + ":" + std::to_string(port);
}

} // namespace platform
